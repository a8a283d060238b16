// tarnwickley-mapgen: writes the bundled sample town or a large synthetic map.
// Exit codes: 0 written, 1 the map could not be written, 2 a bad command line.

#include "service/generator/generator_error.h"
#include "service/generator/mapgen_options.h"
#include "service/generator/sample_town.h"
#include "service/generator/synthetic_region.h"

#include <exception>
#include <iostream>
#include <string_view>
#include <vector>

int main(int argc, char** argv)
{
    using namespace tw::service;
    const std::vector<std::string_view> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    const MapgenParseResult parsed = parseMapgenArguments(arguments);
    if (!parsed.error.empty()) {
        std::cerr << "tarnwickley-mapgen: " << parsed.error << '\n' << mapgenUsage();
        return 2;
    }
    const MapgenOptions& options = parsed.options;
    try {
        switch (options.action) {
        case MapgenAction::Help:
            std::cout << mapgenUsage();
            return 0;
        case MapgenAction::Sample:
            writeSampleTown(options.out);
            return 0;
        case MapgenAction::Synthetic: {
            const SyntheticRegionStats stats = writeSyntheticRegion(options.out, options.junctions);
            std::cerr << "tarnwickley-mapgen: wrote " << options.out.string() << ": " << stats.towns << " towns, "
                      << stats.junctions << " junctions, " << stats.addresses << " addresses, " << stats.nodes
                      << " nodes, " << stats.ways << " ways\n";
            return 0;
        }
        }
    } catch (const GeneratorError& error) {
        std::cerr << "tarnwickley-mapgen: " << error.what() << '\n';
    } catch (const std::exception& error) {
        std::cerr << "tarnwickley-mapgen: cannot write " << options.out.string() << ": " << error.what() << '\n';
    }
    return 1;
}
