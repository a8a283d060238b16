// Any bytes as a directions request: split on '\n' into addr, csz, taddr,
// tcsz (the rest), then both pages are made on a small town. Nothing may
// crash, and no answer may carry a raw '<' from the input.

#include "service/server/directions_site.h"
#include "tests/service/server/site_town.h"

#include <cstdint>
#include <cstdlib>
#include <string>

using namespace tw::service;

namespace {

const DirectionsSite& site()
{
    static const RoadMap map = test::siteTown();
    static const DirectionsSite instance(map);
    return instance;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    QueryParams params;
    const char* names[] = {"addr", "csz", "taddr", "tcsz"};
    std::size_t at = 0;
    for (int i = 0; i < 4 && at <= input.size(); ++i) {
        const std::size_t end = i == 3 ? input.size() : std::min(input.find('\n', at), input.size());
        params.emplace(names[i], input.substr(at, end - at));
        at = end + 1;
    }
    const Reply result = site().result(params);
    const Reply form = site().form(params);
    for (const Reply* reply : {&result, &form}) {
        if (reply->body.find("<script") != std::string::npos || reply->location.find('\n') != std::string::npos)
            std::abort();
    }
    return 0;
}
