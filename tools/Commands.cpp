#include "Commands.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>

#include "Compare.h"
#include "Convert.h"
#include "ExitCodes.h"
#include "Export.h"
#include "Inspect.h"
#include "Patterns.h"
#include "Render.h"
#include "Sequence.h"
#include "ToolError.h"
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

CLI::Option* addFramesOption(CLI::App& command, std::string& frames) {
    return command
        .add_option("--frames", frames,
                    "Frames of the sequence: 1001-1100, 7, 1-100x4 or lists such as 1,5,10-20 "
                    "(default: every frame on disk)")
        ->check([](const std::string& text) {
            try {
                parseFrameList(text);
                return std::string();
            } catch (const ToolError& error) {
                return "\"" + text + "\": " + error.problem();
            }
        });
}

// How a command's file names make a sequence.
enum class SequenceRule {
    kInputField,  // a frame field in the input makes one, and the output then needs one too
    kBothFields,  // only fields in both do: a field in one alone is a slice pattern
};

// Calls `work(input, output)` once with the names as given, or, when they name a sequence, for
// each frame with the frame number filled into both. Returns the exit status.
int runOverFrames(const std::string& input, const std::string& output, const std::string& frames,
                  SequenceRule rule, const std::string& doneWord, const Verbosity& verbosity,
                  const std::function<void(const std::string&, const std::string&)>& work) {
    const std::optional<NumberedName> inputFrames = NumberedName::find(input);
    const std::optional<NumberedName> outputFrames = NumberedName::find(output);
    const bool sequence =
        inputFrames && (rule == SequenceRule::kInputField || outputFrames.has_value());
    if (!sequence) {
        if (!frames.empty())
            throw UsageError("--frames", rule == SequenceRule::kInputField
                                             ? "the input names no frame field such as ####"
                                             : "the input and the output both need a frame "
                                               "field such as ####");
        work(input, output);
        return kExitSuccess;
    }
    if (!output.empty() && !outputFrames)
        throw UsageError(output, "a sequence's output needs a frame field such as ####");
    return runFrames(framesToRun(*inputFrames, frames), doneWord, verbosity, [&](int frame) {
        work(inputFrames->inputNameOf(frame), outputFrames ? outputFrames->nameOf(frame) : "");
    });
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
        action = [settings](const Verbosity& verbosity) {
            settings->pattern.pattern = kPatternNames.at(settings->patternName);
            writeVolumeFile(settings->output, makePattern(settings->pattern));
            if (verbosity.verbose)
                std::cout << "wrote " << settings->output << " (" << settings->patternName << ", "
                          << settings->pattern.channels << " channels)\n";
            return kExitSuccess;
        };
    });
}

namespace {

template <typename InfoSettings>
int describeAsText(const InfoSettings& settings, const Verbosity& verbosity) {
    std::ostringstream discarded;
    std::ostream& out = verbosity.quiet ? discarded : std::cout;
    bool first = true;
    return runOverFrames(settings.path, "", settings.frames, SequenceRule::kInputField, "described",
                         verbosity, [&](const std::string& path, const std::string&) {
                             out << (first ? "" : "\n");
                             first = false;
                             if (verbosity.verbose)
                                 out << "voxel order: x fastest, then y, then z\n";
                             inspectVolumeFile(path, out);
                         });
}

// Standard output holds the JSON alone, so the summary of a sequence is left out.
template <typename InfoSettings>
int describeAsJson(const InfoSettings& settings, const Verbosity& verbosity) {
    const bool sequence = NumberedName::find(settings.path).has_value();
    nlohmann::json files = nlohmann::json::array();
    // Printed also when a single file is refused, before its error goes on to the caller.
    const auto print = [&] {
        if (files.empty()) return;
        std::cout << (sequence ? files : files.front())
                         .dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
                  << '\n';
    };
    int status = kExitFailure;
    try {
        status = runOverFrames(settings.path, "", settings.frames, SequenceRule::kInputField,
                               "described", Verbosity{true, verbosity.verbose},
                               [&](const std::string& path, const std::string&) {
                                   files.emplace_back();
                                   inspectVolumeFileJson(path, files.back());
                               });
    } catch (const ToolError&) {
        print();
        throw;
    }
    print();
    return status;
}

}  // namespace

void addInfoCommand(CLI::App& app, CommandAction& action) {
    CLI::App* command =
        app.add_subcommand("info", "Describe a .vol file and say whether the node would load it");
    struct Settings {
        std::string path;
        std::string frames;
        bool json = false;
    };
    auto settings = std::make_shared<Settings>();
    command->add_option("FILE", settings->path, "The .vol file, or a sequence such as v.####.vol")
        ->required();
    addFramesOption(*command, settings->frames);
    command->add_flag("--json", settings->json,
                      "Print one JSON object, or for a sequence an array of them, and nothing "
                      "else on standard output");
    command->callback([settings, &action] {
        action = [settings](const Verbosity& verbosity) {
            return settings->json ? describeAsJson(*settings, verbosity)
                                  : describeAsText(*settings, verbosity);
        };
    });
}

void addConvertCommand(CLI::App& app, CommandAction& action) {
    CLI::App* command = app.add_subcommand(
        "convert",
        "Convert between .vol, image-slice stacks, raw bytes, Mitsuba-style grids and OpenVDB");
    struct Settings {
        ConvertOptions convert;
        std::string output;
        std::string formatName;
        std::string frames;
    };
    auto settings = std::make_shared<Settings>();
    ConvertOptions& convert = settings->convert;
    command
        ->add_option("INPUT", convert.input,
                     "A .vol, a folder of slice images, a slice pattern such as slice_%03d.png, an "
                     "OpenVDB file, a Mitsuba-style grid .vol, or a raw file with --raw")
        ->required();
    command
        ->add_option("-o,--output", settings->output,
                     "The file to write: .vol, .vdb, .raw, or a slice pattern such as "
                     "slice_%03d.png")
        ->required();
    command
        ->add_option("--to", settings->formatName,
                     "The output's format, when its name does not tell: vol, vdb, slices, raw "
                     "or mitsuba")
        ->check(CLI::IsMember(volumeFileFormatNames()));
    command
        ->add_option("--channels", convert.channels,
                     "Channels per voxel: 3 (RGB) or 4 (RGBA); default: a .vol input's own, "
                     "else 4")
        ->check(CLI::IsMember({3, 4}));
    command->add_option("--raw", convert.rawSize, "Read INPUT as raw 8-bit voxels of WxHxD");
    command->add_option("--raw-channels", convert.rawChannels, "Channels per raw voxel, 1 to 4")
        ->check(CLI::Range(1, 4))
        ->capture_default_str();
    command->add_option("--grid", convert.gridName, "The OpenVDB grid to convert");
    command->add_flag("--tile,!--no-tile", convert.tile,
                      "Cross-fade the borders so the result tiles (default: clamp at the edges)");
    command->add_flag("--flip-x", convert.axes.flipX, "Mirror x: index i becomes 127 - i");
    command->add_flag("--flip-y", convert.axes.flipY, "Mirror y");
    command->add_flag("--flip-z", convert.axes.flipZ, "Mirror z");
    command->add_flag("--swap-yz", convert.axes.swapYZ,
                      "Exchange y and z, before any flip (Y-up against Z-up)");
    addFramesOption(*command, settings->frames);
    command->callback([settings, &action] {
        const std::optional<VolumeFileFormat> format =
            settings->formatName.empty() ? volumeFileFormatOf(settings->output)
                                         : volumeFileFormatNames().at(settings->formatName);
        if (!format)
            throw CLI::ValidationError("--output", "cannot tell the format of \"" +
                                                       settings->output +
                                                       "\" from its name; choose it with --to");
        action = [settings, format = *format](const Verbosity& verbosity) {
            return runOverFrames(settings->convert.input, settings->output, settings->frames,
                                 SequenceRule::kBothFields, "written", verbosity,
                                 [&](const std::string& input, const std::string& output) {
                                     ConvertOptions frame = settings->convert;
                                     frame.input = input;
                                     writeVolumeAs(format, output, convertVolume(frame));
                                     if (verbosity.verbose)
                                         std::cout << "wrote " << output << " from " << input
                                                   << '\n';
                                 });
        };
    });
}

void addCompareCommand(CLI::App& app, CommandAction& action) {
    CLI::App* command = app.add_subcommand(
        "compare",
        "Compare two volumes voxel by voxel; exit 4 when they differ by more than tolerated");
    auto options = std::make_shared<CompareOptions>();
    command->add_option("FIRST", options->first, "A .vol, or any input convert reads")->required();
    command->add_option("SECOND", options->second, "The volume to compare it with")->required();
    command
        ->add_option("--fail", options->tolerance,
                     "Largest byte difference of a voxel's channel still tolerated, 0 to 255")
        ->check(CLI::Range(0, 255))
        ->capture_default_str();
    command
        ->add_option("--failcount", options->toleratedVoxels,
                     "How many voxels may differ by more than --fail")
        ->capture_default_str();
    command->callback([options, &action] {
        action = [options](const Verbosity& verbosity) {
            return compareVolumes(*options, verbosity);
        };
    });
}

namespace {

const std::map<std::string, RenderView> kViewNames{
    {"slice", RenderView::kSlice}, {"sphere", RenderView::kSphere}, {"tiles", RenderView::kTiles}};

// "W" or "WxH", each from 1 to 16384.
void parseImageSize(const std::string& text, int& width, int& height) {
    int parsedWidth = 0;
    int parsedHeight = 0;
    char separator = 0;
    char trailing = 0;
    const int fields =
        std::sscanf(text.c_str(), "%d%c%d%c", &parsedWidth, &separator, &parsedHeight, &trailing);
    const bool square = fields == 1;
    const bool rectangle = fields == 3 && separator == 'x';
    if (!square && !rectangle) throw ToolError("--size", "expected W or WxH, got \"" + text + "\"");
    if (square) parsedHeight = parsedWidth;
    if (parsedWidth < 1 || parsedHeight < 1 || parsedWidth > 16384 || parsedHeight > 16384)
        throw ToolError("--size", "each side must be from 1 to 16384");
    width = parsedWidth;
    height = parsedHeight;
}

// Sixteen numbers, row by row, translation in the fourth row.
Matrix4 parsePlacement(const std::string& text) {
    std::istringstream numbers(text);
    Matrix4 matrix;
    for (float& value : matrix) {
        if (!(numbers >> value)) throw ToolError("--placement", "expected 16 numbers");
    }
    std::string extra;
    if (numbers >> extra) throw ToolError("--placement", "expected 16 numbers");
    return matrix;
}

}  // namespace

void addRenderCommand(CLI::App& app, CommandAction& action, const std::string& defaultPlugin) {
    CLI::App* command = app.add_subcommand(
        "render", "Render a .vol file through the Voxlum plug-in, as a renderer would");
    struct Settings {
        RenderOptions render;
        std::string size = "512";
        std::string viewName = "sphere";
        std::string placement;
        float scale = 1.0f;
        std::array<float, 3> rotate{};
        std::array<float, 3> translate{};
        std::string frames;
    };
    auto settings = std::make_shared<Settings>();
    settings->render.pluginPath = defaultPlugin;
    command
        ->add_option("FILE", settings->render.volumePath,
                     "The .vol file, or a sequence such as v.####.vol")
        ->required();
    command
        ->add_option("-o,--output", settings->render.outputPath,
                     "The image to write (.png, .tif, .exr), with a frame field for a sequence")
        ->required();
    addFramesOption(*command, settings->frames);
    command->add_option("--size", settings->size, "Image size, W or WxH")->capture_default_str();
    command->add_option("--view", settings->viewName, "slice, sphere or tiles")
        ->transform(CLI::IsMember(kViewNames, CLI::ignore_case))
        ->capture_default_str();
    command->add_option("--depth", settings->render.depth, "z of the slice and tiles planes")
        ->capture_default_str();
    CLI::Option* placement = command->add_option("--placement", settings->placement,
                                                 "placementMatrix as 16 numbers, row by row");
    for (CLI::Option* option :
         {command->add_option("--scale", settings->scale, "Size of one texture period")
              ->check(CLI::PositiveNumber),
          command->add_option("--rotate", settings->rotate, "Degrees about x, y and z"),
          command->add_option("--translate", settings->translate, "Offset of the texture")})
        option->excludes(placement);
    command
        ->add_option("--plugin", settings->render.pluginPath,
                     "The Voxlum plug-in module: a path, or a name looked up along "
                     "MAYA_PLUG_IN_PATH and the modules of MAYA_MODULE_PATH")
        ->capture_default_str();
    command->add_flag("--direct", settings->render.direct,
                      "Sample the volume store directly, many points at a time, without the "
                      "plug-in: the same picture, faster");
    command->callback([settings, &action] {
        action = [settings](const Verbosity& verbosity) {
            RenderOptions render = settings->render;
            parseImageSize(settings->size, render.width, render.height);
            render.view = kViewNames.at(settings->viewName);
            render.placement =
                settings->placement.empty()
                    ? placementFor(settings->scale, settings->rotate, settings->translate)
                    : parsePlacement(settings->placement);
            const bool sequence = NumberedName::find(render.volumePath).has_value();
            // In a sequence the frames' bar and summary stand for what each frame would say.
            const bool frameMessages = sequence ? verbosity.verbose : !verbosity.quiet;
            render.hostMessages = frameMessages;
            return runOverFrames(
                settings->render.volumePath, settings->render.outputPath, settings->frames,
                SequenceRule::kInputField, "rendered", verbosity,
                [&](const std::string& volume, const std::string& picture) {
                    render.volumePath = volume;
                    render.outputPath = picture;
                    ProgressBar bar("rendering", !sequence && !verbosity.quiet &&
                                                     long(render.width) * render.height >= 250000);
                    renderVolume(render, [&bar](double done) { bar.update(done); });
                    if (frameMessages) std::cout << "wrote " << picture << '\n';
                });
        };
    });
}
