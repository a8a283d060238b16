#pragma once
// MapError: the one error type of map loading. Its message is a complete sentence
// for a user ("Cannot read map file /x/y.osm.pbf: No such file or directory"),
// which the service prints before exiting with an error status.

#include <stdexcept>
#include <string>

namespace tw::service {

class MapError : public std::runtime_error {
public:
    explicit MapError(const std::string& message) : std::runtime_error(message) {}
};

// A map file that was read whole but holds no road a car can drive.
class MapHasNoRoads : public MapError {
public:
    using MapError::MapError;
};

}  // namespace tw::service
