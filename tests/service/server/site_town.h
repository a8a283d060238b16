#pragma once
// A small town for the page tests: Main Street and Oak Avenue meet at (200, 0);
// Island Road lies apart with no road to it.

#include "tests/service/guidance/test_map_builder.h"

namespace tw::service::test {

inline RoadMap siteTown()
{
    TestMapBuilder b;
    b.road({{0, 0}, {200, 0}, {400, 0}}, "Main Street");
    b.road({{200, 0}, {200, 300}, {200, 600}}, "Oak Avenue");
    b.road({{0, 0}, {0, 600}, {200, 600}}, "Elm Street");
    b.road({{400, 0}, {400, 600}, {200, 600}}, "Birch Street");
    b.road({{5000, 0}, {5300, 0}}, "Island Road");
    for (int i = 0; i < 10; ++i)
        b.address("Main Street", std::to_string(101 + 2 * i), 20.0 + 40 * i, 15);
    for (int i = 0; i < 10; ++i)
        b.address("Oak Avenue", std::to_string(1 + 2 * i), 215, 20.0 + 50 * i);
    b.address("Island Road", "7", 5100, 15);
    return b.build();
}

} // namespace tw::service::test
