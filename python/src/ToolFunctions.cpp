#include "ToolFunctions.h"

#include <pybind11/stl.h>

#include <unistd.h>

#include <atomic>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Compare.h"
#include "ConvertRun.h"
#include "FormatError.h"
#include "Inspect.h"
#include "ModuleCore.h"
#include "Patterns.h"
#include "VolumeWriter.h"

namespace py = pybind11;
using namespace pybind11::literals;

namespace voxlumpy {

namespace {

const char* const kConvertDoc =
    R"(Converts a volume as `voxlum convert` does, with its options as keywords.

source: a .vol, a folder of slice images, a slice pattern such as "slice_%03d.png", an OpenVDB
    file, a Mitsuba-style grid .vol, or raw bytes with raw=. A frame field ("smoke.####.vdb",
    "@@@", "%04d") in both source and target makes a sequence.
target: the file to write (.vol, .vdb, .raw or a slice pattern), or to= names the format.
channels: 3 or 4 (default: a .vol's own, else 4). raw: (width, height, depth) of raw 8-bit
    voxels, raw_channels per voxel. tile: cross-fade the borders so the result tiles.
flip_x, flip_y, flip_z, swap_yz: axis conventions, the swap first.
OpenVDB: grid="density" or {"r": "flame", "a": "density"} ("rgb" for a vec3s grid);
    bounds="union" (a sequence's default), "domain" or (x0, y0, z0, x1, y1, z1) in world units;
    index_bounds=(i0, j0, k0, i1, j1, k1); range=(lo, hi), "auto", or {"a": (0, 4), "rgb": "auto"}.
frames: frame numbers, or a list such as "1001-1100x2" (default: every frame on disk).
threads: at most this many threads (default 0: every core); the interpreter lock is released.
Returns {"files": [{"input", "output", "warnings", and for OpenVDB "box"}], and for OpenVDB
"ranges" and, when boxes were united, "bounds"}. Raises ValueError for options that cannot work
and VolumeError for inputs that cannot be converted; in a sequence the other frames are still
written, and the error lists those that failed.)";

const char* const kInfoDoc = R"(What a .vol file holds and whether the Voxlum node would load it.

Returns the object `voxlum info --json` prints: "file", "size", "format", "voxel_order",
"header", "node" {"loads", "code"}, and "reason" for a file the node refuses, or "body",
"channels" (min, max and mean bytes per channel) and "alpha_used" for one it loads. A refused
file is described, not raised; a file that cannot be opened raises VolumeError with code -1.)";

const char* const kCompareDoc = R"(Compares two volumes voxel by voxel, as `voxlum compare` does.

Both are read as convert reads them, as RGBA (a missing alpha is 255, as the node takes it).
fail: the largest byte difference still tolerated; failcount: how many voxels may differ by more.
Returns {"channels": {"red": {"largest", "differing"}, ...}, "voxels_differing",
"over_tolerance", "within", "listed": the first voxels over tolerance with both records}.)";

const char* const kMakeDoc =
    R"(A procedural volume that tiles with period 1, as `voxlum make` makes it.

pattern: "cloud", "marble", "checker" or "gradient". path: also write it there (atomically).
channels: 3 or 4; seed: of the cloud and marble noise; cells: checker cells per unit, even, 2 to
128; frequency: noise cells per unit of the coarsest octave, 1 to 8. Returns the Volume as the
node loads it.)";

// "--index-bounds 1 2" names the keyword index_bounds; other subjects, such as a file, stay.
std::string keywordMessage(const OptionError& error) {
    const std::string& subject = error.subject();
    if (subject.rfind("--", 0) != 0) return error.what();
    std::string keyword = subject.substr(2, subject.find(' ') - 2);
    for (char& c : keyword) c = c == '-' ? '_' : c;
    return keyword + ": " + error.problem();
}

// Runs `work` without the interpreter lock, so that other threads go on meanwhile; the
// library's failures become ValueError (options) and VolumeError (files).
template <typename Work>
auto withoutLock(Work&& work) -> decltype(work()) {
    std::string badOption;
    std::string failure;
    {
        const py::gil_scoped_release released;
        try {
            return work();
        } catch (const OptionError& error) {
            badOption = keywordMessage(error);
        } catch (const FormatError& error) {
            failure = error.what();
        }
    }
    if (!badOption.empty()) throw py::value_error(badOption);
    throw VolumeRefusal(std::nullopt, failure);
}

// Option values checked on the caller's thread, with the lock held.
template <typename Parse>
auto parsedOption(Parse&& parse) -> decltype(parse()) {
    try {
        return parse();
    } catch (const OptionError& error) {
        throw py::value_error(keywordMessage(error));
    }
}

std::string pathText(const py::object& path) {
    return py::module_::import("os").attr("fsdecode")(path).cast<std::string>();
}

py::object pythonOf(const nlohmann::json& value) {
    return py::module_::import("json").attr("loads")(
        value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

// Numbers as the command line's words, exactly: shortestText reads back as the same double.
std::vector<std::string> numberWords(const py::handle& values, const std::string& keyword,
                                     std::size_t count) {
    std::vector<std::string> words;
    for (const py::handle value : values) words.push_back(shortestText(value.cast<double>()));
    if (words.size() != count)
        throw py::value_error(keyword + ": expected " + std::to_string(count) + " numbers");
    return words;
}

// One --range occurrence: "auto" or (LO, HI), for every channel or for `channel`.
std::vector<std::string> rangeWords(const py::handle& range, const std::string& channel) {
    const std::string prefix = channel.empty() ? "" : channel + "=";
    if (py::isinstance<py::str>(range)) return {prefix + range.cast<std::string>()};
    std::vector<std::string> words = numberWords(range, "range", 2);
    words.front() = prefix + words.front();
    return words;
}

// The OpenVDB keywords, through the same grammar as the command line's words.
void applyCacheKeywords(const py::object& grid, const py::object& bounds,
                        const py::object& indexBounds, const py::object& range,
                        ConvertOptions& options) {
    std::vector<std::string> gridWords;
    if (py::isinstance<py::str>(grid)) {
        gridWords.push_back(grid.cast<std::string>());
    } else if (py::isinstance<py::dict>(grid)) {
        for (const auto& [channel, name] : grid.cast<py::dict>())
            gridWords.push_back(channel.cast<std::string>() + "=" + name.cast<std::string>());
    } else if (!grid.is_none()) {
        throw py::type_error("grid must be a grid name or a dict {channel: grid name}");
    }
    std::vector<std::vector<std::string>> rangeOccurrences;
    if (py::isinstance<py::dict>(range)) {
        for (const auto& [channel, value] : range.cast<py::dict>())
            rangeOccurrences.push_back(rangeWords(value, channel.cast<std::string>()));
    } else if (!range.is_none()) {
        rangeOccurrences.push_back(rangeWords(range, ""));
    }
    if (!bounds.is_none() && !indexBounds.is_none())
        throw py::value_error("bounds and index_bounds exclude each other");
    parsedOption([&] {
        options.grids = parseGridSelection(gridWords);
        options.ranges = parseRanges(rangeOccurrences);
        if (py::isinstance<py::str>(bounds)) {
            options.bounds = parseBounds({bounds.cast<std::string>()});
        } else if (!bounds.is_none()) {
            options.bounds = parseBounds(numberWords(bounds, "bounds", 6));
        }
        if (!indexBounds.is_none()) {
            std::vector<std::string> words;
            for (const py::handle index : indexBounds)
                words.push_back(std::to_string(index.cast<long long>()));
            options.bounds = parseIndexBounds(words);
        }
        return 0;
    });
}

std::optional<std::vector<int>> frameList(const py::object& frames) {
    if (frames.is_none()) return std::nullopt;
    if (py::isinstance<py::str>(frames))
        return parsedOption([&] { return parseFrameList(frames.cast<std::string>()); });
    return frames.cast<std::vector<int>>();
}

VolumeFileFormat outputFormat(const std::string& output, const py::object& to) {
    if (!to.is_none()) {
        const auto& names = volumeFileFormatNames();
        const auto found = names.find(to.cast<std::string>());
        if (found == names.end())
            throw py::value_error("to: expected vol, vdb, slices, raw or mitsuba");
        return found->second;
    }
    const std::optional<VolumeFileFormat> format = volumeFileFormatOf(output);
    if (!format)
        throw py::value_error("cannot tell the format of \"" + output +
                              "\" from its name; choose it with to=");
    return *format;
}

py::list boxList(const WorldBox& box) {
    return py::cast(std::vector<double>{box.min[0], box.min[1], box.min[2], box.max[0], box.max[1],
                                        box.max[2]});
}

// What converting one file of a run gave.
struct FileOutcome {
    std::string input;
    std::string output;
    ConversionReport report;
    std::string error;
};

struct ConvertKeywords {
    py::object to, channels, raw;
    int rawChannels;
    py::object grid, bounds, indexBounds, range;
    bool tile, flipX, flipY, flipZ, swapYZ;
    py::object frames;
    int threads;
};

// Every file of the run, frames side by side; a failed frame leaves the others to finish.
std::vector<FileOutcome> convertEach(const ConvertRun& run) {
    std::vector<FileOutcome> outcomes(run.files.sequence() ? run.files.frames.size() : 1);
    const auto convertOne = [&](const std::string& input, const std::string& output,
                                FileOutcome& outcome) {
        outcome.input = input;
        outcome.output = output;
        // Any failure of one file, a lack of memory too, is that file's, and the others go on.
        try {
            outcome.report = convertFile(run, input, output);
        } catch (const std::exception& error) {
            outcome.error = error.what();
        }
    };
    if (!run.files.sequence()) {
        convertOne(run.files.input, run.files.output, outcomes.front());
        return outcomes;
    }
    forEachFrame(
        run.files.frames, threadsAllowed(),
        [&](int frame, FrameReport& report) {
            convertOne(run.files.inputOf(frame), run.files.outputOf(frame), outcomes[report.index]);
        },
        [](int, const FrameReport&) {});
    return outcomes;
}

py::dict convertResult(const ConvertRun& run, const std::vector<FileOutcome>& outcomes) {
    py::list files;
    std::string failures;
    std::size_t failed = 0;
    for (const FileOutcome& outcome : outcomes) {
        if (!outcome.error.empty()) {
            failures += "; " + outcome.error;
            ++failed;
            continue;
        }
        py::dict file("input"_a = outcome.input, "output"_a = outcome.output,
                      "warnings"_a = outcome.report.warnings);
        if (outcome.report.box) file["box"] = boxList(*outcome.report.box);
        files.append(file);
    }
    if (failed > 0 && !run.files.sequence()) throw VolumeRefusal(std::nullopt, outcomes[0].error);
    if (failed > 0)
        throw VolumeRefusal(std::nullopt, std::to_string(failed) + " of " +
                                              std::to_string(outcomes.size()) + " frames failed" +
                                              failures);
    py::dict result("files"_a = files);
    if (run.unitedBox) result["bounds"] = boxList(*run.unitedBox);
    if (run.openVdb) {
        py::dict ranges;
        for (std::size_t c = 0; c < kRgbaChannels; ++c)
            ranges[kChannelNames[c]] =
                py::make_tuple(run.options.ranges[c].low, run.options.ranges[c].high);
        result["ranges"] = ranges;
    }
    return result;
}

py::dict convert(const py::object& source, const py::object& target,
                 const ConvertKeywords& keywords) {
    const std::string input = pathText(source);
    const std::string output = pathText(target);
    ConvertOptions options;
    options.tile = keywords.tile;
    options.axes = {keywords.flipX, keywords.flipY, keywords.flipZ, keywords.swapYZ};
    if (!keywords.channels.is_none()) {
        options.channels = keywords.channels.cast<int>();
        if (options.channels != 3 && options.channels != 4)
            throw py::value_error("channels: expected 3 or 4");
    }
    std::optional<RawLayout> raw;
    if (!keywords.raw.is_none()) {
        const auto size = keywords.raw.cast<std::vector<int>>();
        if (size.size() != 3) throw py::value_error("raw: expected (width, height, depth)");
        raw = RawLayout{{size[0], size[1], size[2]}, keywords.rawChannels};
    }
    applyCacheKeywords(keywords.grid, keywords.bounds, keywords.indexBounds, keywords.range,
                       options);
    const std::optional<std::vector<int>> frames = frameList(keywords.frames);
    const VolumeFileFormat format = outputFormat(output, keywords.to);
    if (keywords.threads < 0) throw py::value_error("threads: expected 0 (every core) or more");

    ConvertRun run;
    std::vector<FileOutcome> outcomes;
    withoutLock([&] {
        return runWithThreads(keywords.threads, [&] {
            run = planConversion(input, output, frames, options, raw, format);
            outcomes = convertEach(run);
            return 0;
        });
    });
    return convertResult(run, outcomes);
}

py::object info(const py::object& path) {
    const std::string name = pathText(path);
    std::optional<VolumeInspection> file;
    std::string unreadable;
    {
        const py::gil_scoped_release released;
        try {
            file = inspectVolumeFile(name);
        } catch (const FormatError& error) {
            unreadable = error.what();
        }
    }
    if (!file) throw VolumeRefusal(volformat::kOpenFailed, unreadable);
    return pythonOf(inspectionJson(*file));
}

py::dict compare(const py::object& first, const py::object& second, int fail,
                 std::uint64_t failcount) {
    if (fail < 0 || fail > 255) throw py::value_error("fail: expected 0 to 255");
    const CompareOptions options{inputSourceOf(pathText(first)), inputSourceOf(pathText(second)),
                                 fail, failcount};
    const VolumeComparison result = withoutLock([&] { return compareVolumes(options); });
    py::dict channels;
    for (std::size_t c = 0; c < 4; ++c)
        channels[kChannelNames[c]] =
            py::dict("largest"_a = result.largest[c], "differing"_a = result.differing[c]);
    py::list listed;
    for (const VoxelDifference& voxel : result.listed)
        listed.append(
            py::dict("voxel"_a = voxel.at, "first"_a = voxel.first, "second"_a = voxel.second));
    return py::dict("channels"_a = channels, "voxels_differing"_a = result.differingVoxels,
                    "over_tolerance"_a = result.overTolerance, "within"_a = result.within,
                    "listed"_a = listed);
}

// `grid` as the node holds it: read back through the node's own loader from a file of its own.
std::unique_ptr<LoadedVolume> loadedThroughFile(const VoxelGrid& grid) {
    static std::atomic<unsigned long long> made{0};
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() /
        ("voxlum-made-" + std::to_string(::getpid()) + "-" + std::to_string(made++) + ".vol");
    writeVolumeFile(file.string(), grid);
    // Gone again whether the load succeeds or not.
    const std::unique_ptr<const std::filesystem::path, void (*)(const std::filesystem::path*)>
        removal(&file, [](const std::filesystem::path* written) {
            std::error_code ignored;
            std::filesystem::remove(*written, ignored);
        });
    return std::make_unique<LoadedVolume>(file.string());
}

std::unique_ptr<LoadedVolume> make(const std::string& patternName, const py::object& path,
                                   int channels, std::uint32_t seed, int cells, int frequency) {
    const auto& names = patternNames();
    const auto found = names.find(patternName);
    if (found == names.end())
        throw py::value_error("pattern: expected cloud, marble, checker or gradient");
    const PatternOptions options{found->second, channels, seed, cells, frequency};
    const std::string output = path.is_none() ? std::string() : pathText(path);
    return withoutLock([&] {
        const VoxelGrid grid = makePattern(options);
        if (!output.empty()) {
            writeVolumeFile(output, grid);
            return std::make_unique<LoadedVolume>(output);
        }
        return loadedThroughFile(grid);
    });
}

}  // namespace

void defineToolFunctions(py::module_& module) {
    module.def(
        "convert",
        [](const py::object& source, const py::object& target, const py::object& to,
           const py::object& channels, const py::object& raw, int rawChannels,
           const py::object& grid, const py::object& bounds, const py::object& indexBounds,
           const py::object& range, bool tile, bool flipX, bool flipY, bool flipZ, bool swapYZ,
           const py::object& frames, int threads) {
            return convert(source, target,
                           {to, channels, raw, rawChannels, grid, bounds, indexBounds, range, tile,
                            flipX, flipY, flipZ, swapYZ, frames, threads});
        },
        "source"_a, "target"_a, py::kw_only(), "to"_a = py::none(), "channels"_a = py::none(),
        "raw"_a = py::none(), "raw_channels"_a = 1, "grid"_a = py::none(), "bounds"_a = py::none(),
        "index_bounds"_a = py::none(), "range"_a = py::none(), "tile"_a = false, "flip_x"_a = false,
        "flip_y"_a = false, "flip_z"_a = false, "swap_yz"_a = false, "frames"_a = py::none(),
        "threads"_a = 0, kConvertDoc);
    module.def("info", &info, "path"_a, kInfoDoc);
    module.def("compare", &compare, "first"_a, "second"_a, py::kw_only(), "fail"_a = 0,
               "failcount"_a = 0, kCompareDoc);
    module.def("make", &make, "pattern"_a, "path"_a = py::none(), py::kw_only(), "channels"_a = 4,
               "seed"_a = 1, "cells"_a = 4, "frequency"_a = 4, kMakeDoc);
}

}  // namespace voxlumpy
