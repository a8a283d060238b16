#pragma once
// GeneratorError: the one error type of the map generator. Its message is meant
// for the person running the generator: it names the file and says what failed.

#include <stdexcept>
#include <string>

namespace tw::service {

class GeneratorError : public std::runtime_error {
public:
    explicit GeneratorError(const std::string& message) : std::runtime_error(message) {}
};

} // namespace tw::service
