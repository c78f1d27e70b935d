#include "Commands.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>

#include "Compare.h"
#include "ConvertRun.h"
#include "Describe.h"
#include "ExitCodes.h"
#include "FormatError.h"
#include "FrameProgress.h"
#include "Patterns.h"
#include "Render.h"
#include "VolumeWriter.h"

namespace {

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
            } catch (const FormatError& error) {
                return "\"" + text + "\": " + error.problem();
            }
        });
}

// The frames --frames lists, or nothing for every frame on disk.
std::optional<std::vector<int>> framesListed(const std::string& text) {
    if (text.empty()) return std::nullopt;
    return parseFrameList(text);
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
        ->transform(CLI::IsMember(patternNames(), CLI::ignore_case));
    addOutputOption(*command, settings->output);
    addChannelsOption(*command, settings->pattern.channels);
    command->add_option("--seed", settings->pattern.seed, "Seed of the cloud and marble noise")
        ->capture_default_str();
    command
        ->add_option("--cells", settings->pattern.cells,
                     "Checker cells per unit along each axis, even, 2 to 128")
        ->capture_default_str();
    command
        ->add_option("--frequency", settings->pattern.frequency,
                     "Noise cells per unit of the coarsest octave, 1 to 8")
        ->capture_default_str();
    command->callback([settings, &action] {
        action = [settings](const Verbosity& verbosity) {
            settings->pattern.pattern = patternNames().at(settings->patternName);
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
    const FrameRun run =
        planFrameRun(settings.path, "", framesListed(settings.frames), SequenceRule::kInputField);
    return runOverFrames(run, "described", verbosity, threadsAllowed(),
                         [&](const std::string& path, const std::string&, FrameReport& report) {
                             const VolumeInspection file = inspectVolumeFile(path);
                             std::ostringstream text;
                             if (report.index > 0) text << '\n';
                             if (verbosity.verbose)
                                 text << "voxel order: x fastest, then y, then z\n";
                             describeVolume(file, text);
                             if (!verbosity.quiet) report.out = text.str();
                             if (!file.loads()) throw refusalOf(file);
                         });
}

// Standard output holds the JSON alone, so the summary of a sequence is left out.
template <typename InfoSettings>
int describeAsJson(const InfoSettings& settings, const Verbosity& verbosity) {
    const FrameRun run =
        planFrameRun(settings.path, "", framesListed(settings.frames), SequenceRule::kInputField);
    std::vector<nlohmann::json> files(run.sequence() ? run.frames.size() : 1);
    // Printed also when a single file is refused, before its error goes on to the caller.
    const auto print = [&] {
        std::cout << (run.sequence() ? nlohmann::json(files) : files.front())
                         .dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
                  << '\n';
    };
    int status = kExitFailure;
    try {
        status =
            runOverFrames(run, "described", Verbosity{true, verbosity.verbose}, threadsAllowed(),
                          [&](const std::string& path, const std::string&, FrameReport& report) {
                              nlohmann::json& described = files[report.index];
                              VolumeInspection file;
                              try {
                                  file = inspectVolumeFile(path);
                              } catch (const FormatError& error) {
                                  described = unreadableJson(path, error);
                                  throw;
                              }
                              described = inspectionJson(file);
                              if (!file.loads()) throw refusalOf(file);
                          });
    } catch (const FormatError&) {
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

namespace {

// The OpenVDB options of convert and bounds, as typed.
struct CacheWords {
    std::vector<std::string> grids;
    std::vector<std::string> bounds;
    std::vector<std::string> indexBounds;
    std::vector<std::vector<std::string>> ranges;
};

void addGridOption(CLI::App& command, CacheWords& words) {
    command
        .add_option("--grid", words.grids,
                    "OpenVDB: the grid to convert, or repeated CHANNEL=NAME, CHANNEL one of r, g, "
                    "b, a, or rgb for a vec3 grid")
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
}

void addCacheOptions(CLI::App& command, CacheWords& words) {
    addGridOption(command, words);
    CLI::Option* bounds =
        command
            .add_option("--bounds", words.bounds,
                        "OpenVDB: the box converted: union (of every listed frame's active "
                        "voxels; a sequence's default), domain (the simulation's, from the "
                        "file's metadata), or X0 Y0 Z0 X1 Y1 Z1 in world units")
            ->expected(1, 6);
    command
        .add_option("--index-bounds", words.indexBounds,
                    "OpenVDB: the box converted as voxel indices I0 J0 K0 I1 J1 K1, inclusive")
        ->expected(6)
        ->excludes(bounds);
    command
        .add_option("--range", words.ranges,
                    "Source values mapped to bytes 0 and 255: LO HI, or auto (the lowest and "
                    "highest of every listed frame); CHANNEL=LO HI or CHANNEL=auto for one "
                    "channel (r, g, b, a, rgb); repeatable; default 0 1")
        ->expected(1, 2);
}

// "--bounds union smoke.vdb" leaves the input among the option's words: a word that ends a
// single-word form is the input when none was given.
void reclaimInput(std::string& input, std::vector<std::string>& words) {
    if (input.empty() && words.size() == 2 && (words[0] == "union" || words[0] == "domain")) {
        input = words[1];
        words.pop_back();
    }
}

void reclaimInput(std::string& input, std::vector<std::vector<std::string>>& occurrences) {
    for (std::vector<std::string>& words : occurrences) {
        const std::size_t equals = words.empty() ? 0 : words[0].find('=');
        const std::string first =
            words.empty() ? "" : words[0].substr(equals == std::string::npos ? 0 : equals + 1);
        if (input.empty() && words.size() == 2 && first == "auto") {
            input = words[1];
            words.pop_back();
        }
    }
}

void requireInput(const std::string& input, const std::string& name) {
    if (input.empty()) throw OptionError(name, "is required");
}

// The OpenVDB options as typed, as values.
void applyCacheWords(const CacheWords& words, ConvertOptions& options) {
    options.grids = parseGridSelection(words.grids);
    options.ranges = parseRanges(words.ranges);
    if (!words.bounds.empty()) options.bounds = parseBounds(words.bounds);
    if (!words.indexBounds.empty()) options.bounds = parseIndexBounds(words.indexBounds);
}

}  // namespace

void addConvertCommand(CLI::App& app, CommandAction& action) {
    CLI::App* command = app.add_subcommand(
        "convert",
        "Convert between .vol, image-slice stacks, raw bytes, Mitsuba-style grids and OpenVDB");
    struct Settings {
        ConvertOptions convert;
        CacheWords cache;
        std::string input;
        std::string rawSize;
        int rawChannels = 1;
        std::string output;
        std::string formatName;
        std::string frames;
    };
    auto settings = std::make_shared<Settings>();
    ConvertOptions& convert = settings->convert;
    command->add_option(
        "INPUT", settings->input,
        "A .vol, a folder of slice images, a slice pattern such as slice_%03d.png, an OpenVDB "
        "file or sequence such as smoke.####.vdb, a Mitsuba-style grid .vol, or a raw file with "
        "--raw");
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
    command->add_option("--raw", settings->rawSize, "Read INPUT as raw 8-bit voxels of WxHxD");
    command->add_option("--raw-channels", settings->rawChannels, "Channels per raw voxel, 1 to 4")
        ->check(CLI::Range(1, 4))
        ->capture_default_str();
    addCacheOptions(*command, settings->cache);
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
            CacheWords& words = settings->cache;
            reclaimInput(settings->input, words.bounds);
            reclaimInput(settings->input, words.ranges);
            requireInput(settings->input, "INPUT");
            ConvertOptions options = settings->convert;
            applyCacheWords(words, options);
            std::optional<RawLayout> raw;
            if (!settings->rawSize.empty())
                raw = RawLayout{parseRawSize(settings->rawSize), settings->rawChannels};
            const ConvertRun run =
                planConversion(settings->input, settings->output, framesListed(settings->frames),
                               options, raw, format);
            if (run.unitedBox && verbosity.verbose)
                std::cout << "bounds: " << formatBox(*run.unitedBox) << " (union of "
                          << run.framesUnited
                          << (run.framesUnited == 1 ? " frame)\n" : " frames)\n");
            if (run.openVdb && verbosity.verbose)
                std::cout << "range: " << formatRanges(run.options.ranges) << '\n';
            return runOverFrames(
                run.files, "written", verbosity, threadsAllowed(),
                [&](const std::string& input, const std::string& output, FrameReport& report) {
                    const ConversionReport conversion = convertFile(run, input, output);
                    report.warnings = conversion.warnings;
                    if (verbosity.verbose)
                        report.out = "wrote " + output + " from " + input +
                                     (conversion.box ? ", box " + formatBox(*conversion.box) : "") +
                                     "\n";
                });
        };
    });
}

void addBoundsCommand(CLI::App& app, CommandAction& action) {
    CLI::App* command = app.add_subcommand(
        "bounds",
        "Print the box of world space that holds the active voxels of every frame of an OpenVDB "
        "sequence, for convert --bounds");
    struct Settings {
        std::string pattern;
        std::string frames;
        CacheWords cache;
        bool json = false;
    };
    auto settings = std::make_shared<Settings>();
    command
        ->add_option("PATTERN", settings->pattern,
                     "An OpenVDB file, or a sequence such as smoke.####.vdb")
        ->required();
    addFramesOption(*command, settings->frames);
    addGridOption(*command, settings->cache);
    command->add_flag("--json", settings->json,
                      "Print {\"min\": [...], \"max\": [...], \"frames\": N} instead");
    command->callback([settings, &action] {
        action = [settings](const Verbosity&) {
            const FrameRun run = planFrameRun(settings->pattern, "", framesListed(settings->frames),
                                              SequenceRule::kInputField);
            const CacheSurvey survey =
                uniteActiveBoxes(run, parseGridSelection(settings->cache.grids));
            if (settings->json) {
                std::cout << nlohmann::json{{"min", survey.box.min},
                                            {"max", survey.box.max},
                                            {"frames", survey.framesRead}}
                                 .dump()
                          << '\n';
            } else {
                std::cout << formatBox(survey.box) << '\n';
            }
            return kExitSuccess;
        };
    });
}

namespace {

void printVoxel(const char* label, const std::array<unsigned char, 4>& rgba) {
    std::cout << label << ' ' << int(rgba[0]) << ' ' << int(rgba[1]) << ' ' << int(rgba[2]) << ' '
              << int(rgba[3]);
}

// The per-channel table and the verdict, and with -v the first voxels over tolerance.
void printComparison(const VolumeComparison& result, const CompareOptions& options,
                     const Verbosity& verbosity) {
    if (!verbosity.quiet) {
        std::cout << "channel  largest difference  voxels differing\n";
        for (std::size_t c = 0; c < 4; ++c) {
            char line[80];
            std::snprintf(line, sizeof line, "%-7s  %18d  %16llu\n", kChannelNames[c],
                          result.largest[c], static_cast<unsigned long long>(result.differing[c]));
            std::cout << line;
        }
        std::cout << "voxels differing: " << result.differingVoxels << " of " << kVoxelCount << '\n'
                  << "voxels differing by more than " << options.tolerance << ": "
                  << result.overTolerance << ", tolerated " << options.toleratedVoxels << '\n'
                  << (result.within ? "within tolerance" : "over tolerance") << '\n';
    }
    if (!verbosity.verbose) return;
    for (const VoxelDifference& voxel : result.listed) {
        std::cout << "voxel (" << voxel.at[0] << ", " << voxel.at[1] << ", " << voxel.at[2]
                  << "): ";
        printVoxel("first", voxel.first);
        printVoxel(", second", voxel.second);
        std::cout << '\n';
    }
}

}  // namespace

void addCompareCommand(CLI::App& app, CommandAction& action) {
    CLI::App* command = app.add_subcommand(
        "compare",
        "Compare two volumes voxel by voxel; exit 4 when they differ by more than tolerated");
    struct Settings {
        CompareOptions compare;
        std::string first;
        std::string second;
    };
    auto settings = std::make_shared<Settings>();
    command->add_option("FIRST", settings->first, "A .vol, or any input convert reads")->required();
    command->add_option("SECOND", settings->second, "The volume to compare it with")->required();
    command
        ->add_option("--fail", settings->compare.tolerance,
                     "Largest byte difference of a voxel's channel still tolerated, 0 to 255")
        ->check(CLI::Range(0, 255))
        ->capture_default_str();
    command
        ->add_option("--failcount", settings->compare.toleratedVoxels,
                     "How many voxels may differ by more than --fail")
        ->capture_default_str();
    command->callback([settings, &action] {
        action = [settings](const Verbosity& verbosity) {
            CompareOptions options = settings->compare;
            options.first = inputSourceOf(settings->first);
            options.second = inputSourceOf(settings->second);
            const VolumeComparison result = compareVolumes(options);
            printComparison(result, options, verbosity);
            if (result.within) return kExitSuccess;
            printError(settings->first + " and " + settings->second + ": " +
                       std::to_string(result.overTolerance) + " voxels differ by more than " +
                       std::to_string(options.tolerance) + ", " +
                       std::to_string(options.toleratedVoxels) + " tolerated");
            return kExitOverTolerance;
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
    if (!square && !rectangle)
        throw OptionError("--size", "expected W or WxH, got \"" + text + "\"");
    if (square) parsedHeight = parsedWidth;
    if (parsedWidth < 1 || parsedHeight < 1 || parsedWidth > 16384 || parsedHeight > 16384)
        throw OptionError("--size", "each side must be from 1 to 16384");
    width = parsedWidth;
    height = parsedHeight;
}

// Sixteen numbers, row by row, translation in the fourth row.
Matrix4 parsePlacement(const std::string& text) {
    std::istringstream numbers(text);
    Matrix4 matrix;
    for (float& value : matrix) {
        if (!(numbers >> value)) throw OptionError("--placement", "expected 16 numbers");
    }
    std::string extra;
    if (numbers >> extra) throw OptionError("--placement", "expected 16 numbers");
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
            const FrameRun run =
                planFrameRun(settings->render.volumePath, settings->render.outputPath,
                             framesListed(settings->frames), SequenceRule::kInputField);
            // In a sequence the frames' bar and summary stand for what each frame would say.
            const bool frameMessages = run.sequence() ? verbosity.verbose : !verbosity.quiet;
            render.hostMessages = frameMessages;
            // One frame at a time, as the host holds one plug-in session; its rows are shaded
            // side by side.
            return runOverFrames(
                run, "rendered", verbosity, 1,
                [&](const std::string& volume, const std::string& picture, FrameReport& report) {
                    render.volumePath = volume;
                    render.outputPath = picture;
                    ProgressBar bar("rendering", !run.sequence() && !verbosity.quiet &&
                                                     long(render.width) * render.height >= 250000);
                    renderVolume(render, [&bar](double done) { bar.update(done); });
                    if (frameMessages) report.out = "wrote " + picture + "\n";
                });
        };
    });
}
