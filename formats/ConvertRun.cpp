#include "ConvertRun.h"

#include <algorithm>
#include <filesystem>

#include "FormatError.h"

namespace {

// The first option given that only an OpenVDB input takes, or nothing.
std::string cacheOnlyOption(const ConvertOptions& options) {
    if (!options.grids.empty()) return "--grid";
    if (options.bounds)
        return options.bounds->kind == BoundsChoice::Kind::kIndex ? "--index-bounds" : "--bounds";
    if (std::any_of(options.ranges.begin(), options.ranges.end(),
                    [](const ValueRange& range) { return range.automatic; }))
        return "--range auto";
    return "";
}

// Whether the run reads OpenVDB files, by its first input on disk.
bool readsOpenVdb(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) {
        std::error_code error;
        if (std::filesystem::is_regular_file(path, error)) return isVdbFile(path);
    }
    return false;
}

}  // namespace

ConvertRun planConversion(const std::string& input, const std::string& output,
                          const std::optional<std::vector<int>>& frames, ConvertOptions options,
                          const std::optional<RawLayout>& raw, VolumeFileFormat format) {
    ConvertRun run;
    run.files = planFrameRun(input, output, frames, SequenceRule::kBothFields);
    run.raw = raw;
    run.format = format;
    // A raw layout out of range is refused before any file is read.
    if (raw) rawInputSource(input, *raw);
    const std::vector<std::string> paths = run.files.inputPaths();
    const std::string misplaced = cacheOnlyOption(options);
    if (raw || !readsOpenVdb(paths)) {
        if (!misplaced.empty())
            throw OptionError(misplaced,
                              "applies to OpenVDB inputs only, and " + input + " is not one");
        run.options = std::move(options);
        return run;
    }
    run.openVdb = true;
    if (!options.bounds) {
        options.bounds.emplace();
        if (run.files.sequence()) options.bounds->kind = BoundsChoice::Kind::kUnion;
    }
    const bool unite = options.bounds->kind == BoundsChoice::Kind::kUnion;
    const CacheSurvey survey = surveyVdbFrames(paths, options, unite);
    options.ranges = survey.ranges;
    if (unite) {
        if (survey.box.empty())
            throw FormatError(input, "no listed frame has active voxels in the grids read");
        options.bounds->world = survey.box;
        run.unitedBox = survey.box;
        run.framesUnited = survey.framesRead;
    }
    run.options = std::move(options);
    return run;
}

ConversionReport convertFile(const ConvertRun& run, const std::string& input,
                             const std::string& output) {
    ConvertOptions options = run.options;
    options.input = run.raw ? rawInputSource(input, *run.raw) : inputSourceOf(input);
    ConversionReport report;
    writeVolumeAs(run.format, output, convertVolume(options, &report));
    return report;
}

CacheSurvey uniteActiveBoxes(const FrameRun& files, const GridSelection& grids) {
    ConvertOptions options;
    options.grids = grids;
    const std::vector<std::string> paths = files.inputPaths();
    if (!readsOpenVdb(paths)) throw FormatError(files.input, "no listed frame is an OpenVDB file");
    const CacheSurvey survey = surveyVdbFrames(paths, options, true);
    if (survey.box.empty())
        throw FormatError(files.input, "no listed frame has active voxels in the grids read");
    return survey;
}
