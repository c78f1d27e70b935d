// A conversion of one input, or of each frame of a sequence, planned and run the same way by the
// command line and the Python module.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "Convert.h"
#include "Export.h"
#include "FrameRun.h"
#include "VdbCache.h"

struct ConvertRun {
    FrameRun files;
    // Settled: for OpenVDB inputs, the box and the value ranges every frame shares.
    ConvertOptions options;
    std::optional<RawLayout> raw;
    VolumeFileFormat format = VolumeFileFormat::kVoxlum;
    bool openVdb = false;
    // OpenVDB inputs, with --bounds union (a sequence's default): the frames' box together, and
    // how many frames gave it.
    std::optional<WorldBox> unitedBox;
    std::size_t framesUnited = 0;
};

// Plans the conversion of `input` to `output` in `format`: a sequence when both name a frame
// field (`frames`, or every frame on disk), else one file. For OpenVDB inputs a first pass over
// every frame settles what they share: the union box and the automatic ranges. Throws OptionError
// for options that do not fit the input (the OpenVDB options on another input, a raw layout out
// of range) and FormatError when no frame can give a box.
ConvertRun planConversion(const std::string& input, const std::string& output,
                          const std::optional<std::vector<int>>& frames, ConvertOptions options,
                          const std::optional<RawLayout>& raw, VolumeFileFormat format);

// Converts `input`, one file of the run, and writes it to `output`. Throws FormatError.
ConversionReport convertFile(const ConvertRun& run, const std::string& input,
                             const std::string& output);

// The box of world space that holds the active voxels of `grids` in every frame of `files`
// together. Throws FormatError when no frame is an OpenVDB file or none has active voxels.
CacheSurvey uniteActiveBoxes(const FrameRun& files, const GridSelection& grids);
