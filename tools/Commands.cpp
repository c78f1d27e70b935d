#include "Commands.h"

#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>

#include "Convert.h"
#include "Inspect.h"
#include "Patterns.h"
#include "VolumeWriter.h"

namespace {

// Checker cells alternate across the seam only when their count is even.
const CLI::Validator kEvenCellCount(
    [](std::string& text) -> std::string {
        char* end = nullptr;
        const long cells = std::strtol(text.c_str(), &end, 10);
        const bool valid =
            !text.empty() && *end == '\0' && cells >= 2 && cells <= kEdge && cells % 2 == 0;
        return valid ? "" : "must be an even number from 2 to 128";
    },
    "EVEN 2-128");

const std::map<std::string, Pattern> kPatternNames{{"cloud", Pattern::kCloud},
                                                   {"marble", Pattern::kMarble},
                                                   {"checker", Pattern::kChecker},
                                                   {"gradient", Pattern::kGradient}};

CLI::Option* addOutputOption(CLI::App& command, std::string& output) {
    return command.add_option("-o,--output", output, "The .vol file to write")->required();
}

CLI::Option* addChannelsOption(CLI::App& command, int& channels) {
    return command.add_option("--channels", channels, "Channels per voxel: 3 (RGB) or 4 (RGBA)")
        ->check(CLI::IsMember({3, 4}))
        ->capture_default_str();
}

}  // namespace

void addMakeCommand(CLI::App& app, CommandAction& action) {
    CLI::App* command =
        app.add_subcommand("make", "Write a procedural volume that tiles with period 1");
    struct Settings {
        PatternOptions pattern;
        std::string patternName;
        std::string output;
    };
    auto settings = std::make_shared<Settings>();
    command->add_option("PATTERN", settings->patternName, "cloud, marble, checker or gradient")
        ->required()
        ->transform(CLI::IsMember(kPatternNames, CLI::ignore_case));
    addOutputOption(*command, settings->output);
    addChannelsOption(*command, settings->pattern.channels);
    command->add_option("--seed", settings->pattern.seed, "Seed of the cloud and marble noise")
        ->capture_default_str();
    command
        ->add_option("--cells", settings->pattern.cells,
                     "Checker cells per unit along each axis, even, 2 to 128")
        ->check(kEvenCellCount)
        ->capture_default_str();
    command
        ->add_option("--frequency", settings->pattern.frequency,
                     "Noise cells per unit of the coarsest octave, 1 to 8")
        ->check(CLI::Range(1, 8))
        ->capture_default_str();
    command->callback([settings, &action] {
        action = [settings] {
            settings->pattern.pattern = kPatternNames.at(settings->patternName);
            writeVolumeFile(settings->output, makePattern(settings->pattern));
            return 0;
        };
    });
}

void addInfoCommand(CLI::App& app, CommandAction& action) {
    CLI::App* command =
        app.add_subcommand("info", "Describe a .vol file and say whether the node would load it");
    auto path = std::make_shared<std::string>();
    command->add_option("FILE", *path, "The .vol file")->required();
    command->callback([path, &action] {
        action = [path] {
            inspectVolumeFile(*path, std::cout);
            return 0;
        };
    });
}

void addConvertCommand(CLI::App& app, CommandAction& action) {
    CLI::App* command = app.add_subcommand(
        "convert",
        "Convert an image-slice stack, raw bytes, a Mitsuba-style grid or an OpenVDB grid");
    struct Settings {
        ConvertOptions convert;
        std::string output;
    };
    auto settings = std::make_shared<Settings>();
    ConvertOptions& convert = settings->convert;
    command
        ->add_option("INPUT", convert.input,
                     "A folder of slice images, a slice pattern such as slice_%03d.png, an "
                     "OpenVDB file, a Mitsuba-style grid .vol, or a raw file with --raw")
        ->required();
    addOutputOption(*command, settings->output);
    addChannelsOption(*command, convert.channels);
    command->add_option("--raw", convert.rawSize, "Read INPUT as raw 8-bit voxels of WxHxD");
    command->add_option("--raw-channels", convert.rawChannels, "Channels per raw voxel, 1 to 4")
        ->check(CLI::Range(1, 4))
        ->capture_default_str();
    command->add_option("--grid", convert.gridName, "The OpenVDB grid to convert");
    command->add_flag("--tile,!--no-tile", convert.tile,
                      "Cross-fade the borders so the result tiles (default: clamp at the edges)");
    command->callback([settings, &action] {
        action = [settings] {
            writeVolumeFile(settings->output, convertVolume(settings->convert));
            return 0;
        };
    });
}
