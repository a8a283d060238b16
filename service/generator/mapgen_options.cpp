#include "service/generator/mapgen_options.h"

#include "service/generator/synthetic_region.h"

#include <charconv>
#include <optional>

namespace tw::service {

namespace {

// Splits "--name=value" into its two halves; a bare "--name" has no value.
std::pair<std::string_view, std::optional<std::string_view>> splitOption(std::string_view argument)
{
    const auto equals = argument.find('=');
    if (equals == std::string_view::npos) {
        return {argument, std::nullopt};
    }
    return {argument.substr(0, equals), argument.substr(equals + 1)};
}

MapgenParseResult failure(std::string message)
{
    return {MapgenOptions{}, std::move(message)};
}

} // namespace

std::string mapgenUsage()
{
    return "usage: tarnwickley-mapgen --sample --out FILE.osm.pbf\n"
           "       tarnwickley-mapgen --junctions N --out FILE.osm.pbf\n"
           "  --sample       write the sample town Halverby, QZ\n"
           "  --junctions N  write a synthetic region with at least N road junctions (1 to " +
           std::to_string(kMaxSyntheticJunctions) +
           ")\n"
           "  --out FILE     the .osm.pbf file to write (replaced if it exists)\n";
}

MapgenParseResult parseMapgenArguments(std::span<const std::string_view> arguments)
{
    bool sample = false;
    std::optional<std::uint64_t> junctions;
    std::optional<std::string_view> out;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const auto [name, inlineValue] = splitOption(arguments[i]);
        const auto takeValue = [&, name = name, inlineValue = inlineValue]() -> std::optional<std::string_view> {
            if (inlineValue) {
                return inlineValue;
            }
            if (i + 1 < arguments.size()) {
                return arguments[++i];
            }
            return std::nullopt;
        };
        if (name == "--help" || name == "-h") {
            return {MapgenOptions{}, {}};
        }
        if (name == "--sample") {
            if (inlineValue) {
                return failure("--sample takes no value");
            }
            if (sample) {
                return failure("--sample given twice");
            }
            sample = true;
        } else if (name == "--junctions") {
            if (junctions) {
                return failure("--junctions given twice");
            }
            const auto value = takeValue();
            if (!value || value->empty()) {
                return failure("--junctions needs a number");
            }
            std::uint64_t count = 0;
            const auto [end, status] = std::from_chars(value->data(), value->data() + value->size(), count);
            if (status != std::errc{} || end != value->data() + value->size() || count == 0 ||
                count > kMaxSyntheticJunctions) {
                return failure("--junctions must be a whole number from 1 to " + std::to_string(kMaxSyntheticJunctions) +
                               ", not \"" + std::string(*value) + "\"");
            }
            junctions = count;
        } else if (name == "--out") {
            if (out) {
                return failure("--out given twice");
            }
            const auto value = takeValue();
            if (!value || value->empty()) {
                return failure("--out needs a file name");
            }
            out = value;
        } else {
            return failure("unknown argument \"" + std::string(arguments[i]) + "\"");
        }
    }
    if (sample == junctions.has_value()) {
        return failure("give exactly one of --sample and --junctions N");
    }
    if (!out) {
        return failure("--out FILE.osm.pbf is missing");
    }
    if (!out->ends_with(".pbf")) {
        return failure("the output is written as .osm.pbf, so its name must end in .pbf: \"" + std::string(*out) + "\"");
    }
    MapgenOptions options;
    options.action = sample ? MapgenAction::Sample : MapgenAction::Synthetic;
    options.junctions = junctions.value_or(0);
    options.out = std::filesystem::path(std::string(*out));
    return {options, {}};
}

} // namespace tw::service
