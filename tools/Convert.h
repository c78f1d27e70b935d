// `voxlum convert`: other volume formats into ours.
#pragma once

#include <string>

#include "Resample.h"
#include "VolumeWriter.h"

struct ConvertOptions {
    std::string input;
    // "WxHxD" when the input is raw 8-bit voxels, x fastest, then y, then z.
    std::string rawSize;
    int rawChannels = 1;
    // The OpenVDB grid to read; may be empty when the file holds a single grid.
    std::string gridName;
    bool tile = false;
    int channels = 4;
};

// A volume as read, before resampling.
struct SourceVolume {
    Lattice lattice;
    // A single channel is a density: it becomes alpha as well as the grey colour. Otherwise
    // channels read as grey, grey + alpha, RGB or RGBA, opaque where alpha is absent.
    bool greyIsDensity = false;
};

// Reads `options.input`, resamples it to 128^3 and maps its channels to RGB(A). Throws
// ToolError naming the input when it cannot be read or makes no volume.
VoxelGrid convertVolume(const ConvertOptions& options);

// Readers of each input kind.
SourceVolume readRawVolume(const std::string& path, const std::string& sizeText, int channels);
SourceVolume readSliceStack(const std::string& folderOrPattern);
SourceVolume readVdbGrid(const std::string& path, const std::string& gridName);
