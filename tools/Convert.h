// `voxlum convert`: other volume formats into ours.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "GridOptions.h"
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
    // OpenVDB inputs: the grids read, and the box of space they are read over.
    GridSelection grids;
    BoundsChoice bounds;
    // Source values mapped to bytes 0 and 255, per output channel; none automatic here.
    ChannelRanges ranges{};
    bool tile = false;
    // 3 or 4; 0 keeps a ".vol" input's own count and makes 4 from anything else.
    int channels = 0;
    AxisFlags axes;
};

// Where an output channel's values come from: a component of one of the source's lattices,
// or, for alpha, nowhere (opaque).
struct ChannelSource {
    int lattice = -1;
    int component = 0;
};

struct SourceLattice {
    Lattice lattice;
    LatticeSpans spans;
};

// A volume as read, before resampling: one lattice, or for OpenVDB one per grid read, each
// with the stretch of it that the volume covers.
struct SourceVolume {
    std::vector<SourceLattice> lattices;
    std::array<ChannelSource, kRgbaChannels> channels;
    // The channels of the volume made from it unless --channels says otherwise.
    int channelCount = 4;

    // Every voxel of `lattice`; its channels read as grey, grey + alpha, RGB or RGBA, opaque
    // where alpha is absent. A single channel that is a density becomes alpha as well as the
    // grey colour.
    static SourceVolume of(Lattice lattice, bool greyIsDensity, int channelCount = 4);
};

// What a conversion found worth saying besides its result.
struct ConversionReport {
    std::vector<std::string> warnings;
    // The box of world space an OpenVDB input was read over.
    std::optional<WorldBox> box;
};

// Reads `options.input`, resamples it to 128^3, maps its channels to RGB(A) and applies the
// axis flags. Throws ToolError naming the input when it cannot be read or makes no volume.
VoxelGrid convertVolume(const ConvertOptions& options, ConversionReport* report = nullptr);

// True when `path` starts as an OpenVDB file does.
bool isVdbFile(const std::string& path);

// `grid` with its axes exchanged and mirrored as `axes` says.
VoxelGrid reoriented(const VoxelGrid& grid, const AxisFlags& axes);

// Readers of each input kind.
SourceVolume readVoxlumVolume(const std::string& path);
SourceVolume readRawVolume(const std::string& path, const std::string& sizeText, int channels);
SourceVolume readSliceStack(const std::string& folderOrPattern);
SourceVolume readVdbGrids(const std::string& path, const ConvertOptions& options,
                          ConversionReport* report);
