// `voxlum convert`: other volume formats into ours.
#pragma once

#include <string>

#include "Resample.h"
#include "VolumeWriter.h"

// Axis conventions, applied to the 128^3 volume between reading and writing: the swap first,
// then the flips, which mirror index i to 127 - i. "--swap-yz --flip-z" turns a Z-up volume
// Y-up; "--swap-yz --flip-y" turns a Y-up volume Z-up.
struct AxisFlags {
    bool flipX = false;
    bool flipY = false;
    bool flipZ = false;
    bool swapYZ = false;
};

struct ConvertOptions {
    std::string input;
    // "WxHxD" when the input is raw 8-bit voxels, x fastest, then y, then z.
    std::string rawSize;
    int rawChannels = 1;
    // The OpenVDB grid to read; may be empty when the file holds a single grid.
    std::string gridName;
    bool tile = false;
    // 3 or 4; 0 keeps a ".vol" input's own count and makes 4 from anything else.
    int channels = 0;
    AxisFlags axes;
};

// A volume as read, before resampling.
struct SourceVolume {
    Lattice lattice;
    // A single channel is a density: it becomes alpha as well as the grey colour. Otherwise
    // channels read as grey, grey + alpha, RGB or RGBA, opaque where alpha is absent.
    bool greyIsDensity = false;
    // The channels of the volume made from it unless --channels says otherwise.
    int channels = 4;
};

// Reads `options.input`, resamples it to 128^3, maps its channels to RGB(A) and applies the
// axis flags. Throws
// ToolError naming the input when it cannot be read or makes no volume.
VoxelGrid convertVolume(const ConvertOptions& options);

// `grid` with its axes exchanged and mirrored as `axes` says.
VoxelGrid reoriented(const VoxelGrid& grid, const AxisFlags& axes);

// Readers of each input kind.
SourceVolume readVoxlumVolume(const std::string& path);
SourceVolume readRawVolume(const std::string& path, const std::string& sizeText, int channels);
SourceVolume readSliceStack(const std::string& folderOrPattern);
SourceVolume readVdbGrid(const std::string& path, const std::string& gridName);
