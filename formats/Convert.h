// Other volume formats into ours: each input kind's reader, resampling to 128^3, the channel
// mapping and the axis conventions.
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

// Raw 8-bit voxels: `size` voxels along x, y and z, x fastest, then y, then z, of `channels`
// bytes each.
struct RawLayout {
    std::array<int, 3> size{0, 0, 0};
    int channels = 1;
};

// What an input names, decided once from its name (and for a folder, the disk) by
// inputSourceOf, and handed to the readers.
struct InputSource {
    enum class Kind {
        kFile,          // one file, whose first bytes tell its format
        kSliceFolder,   // every visible file of a folder, one image per z slice
        kSlicePattern,  // numbered slice images, such as slice_%03d.png
        kRaw,           // raw voxels of `raw`'s layout
    };
    Kind kind = Kind::kFile;
    std::string path;
    RawLayout raw;
};

// A folder or a name with a number field is a slice stack; anything else one file.
InputSource inputSourceOf(const std::string& path);

// `path` as raw voxels of `layout`. Throws OptionError ("--raw", "--raw-channels") for an extent
// outside 1 to 65536 or a channel count outside 1 to 4.
InputSource rawInputSource(const std::string& path, const RawLayout& layout);

// "WxHxD", as --raw takes it. Throws OptionError naming --raw when it is malformed.
std::array<int, 3> parseRawSize(const std::string& text);

struct ConvertOptions {
    InputSource input;
    // OpenVDB inputs: the grids read, and the box of space they are read over; without a box,
    // each file's own active voxels, or for a sequence those of every frame together.
    GridSelection grids;
    std::optional<BoundsChoice> bounds;
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
// axis flags. Throws FormatError naming the input when it cannot be read or makes no volume.
VoxelGrid convertVolume(const ConvertOptions& options, ConversionReport* report = nullptr);

// True when `path` starts as an OpenVDB file does.
bool isVdbFile(const std::string& path);

// `grid` with its axes exchanged and mirrored as `axes` says.
VoxelGrid reoriented(const VoxelGrid& grid, const AxisFlags& axes);

// Readers of each input kind.
SourceVolume readVoxlumVolume(const std::string& path);
SourceVolume readRawVolume(const std::string& path, const RawLayout& layout);
SourceVolume readSliceStack(const InputSource& slices);
SourceVolume readVdbGrids(const std::string& path, const ConvertOptions& options,
                          ConversionReport* report);
