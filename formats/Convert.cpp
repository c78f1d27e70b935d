#include "Convert.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "ForeignVolume.h"
#include "FormatError.h"
#include "FramePattern.h"
#include "InputFile.h"
#include "Inspect.h"

namespace {

constexpr unsigned char kVdbSignature[4] = {0x20, 0x42, 0x44, 0x56};
constexpr int kMaxRawExtent = 65536;

std::string rawSizeProblem() {
    return "expected WIDTHxHEIGHTxDEPTH, each 1 to " + std::to_string(kMaxRawExtent);
}

std::string sizeText(const std::array<int, 3>& size) {
    return std::to_string(size[0]) + "x" + std::to_string(size[1]) + "x" + std::to_string(size[2]);
}

// Lattice values are source values times 255, so the range [0, 1] leaves them as they are.
struct ByteMapping {
    float offset;
    float divisor;
};

VoxelGrid toVoxelGrid(const std::vector<Lattice>& lattices,
                      const std::array<ChannelSource, kRgbaChannels>& sources,
                      const ChannelRanges& ranges, int outputChannels) {
    std::array<ByteMapping, kRgbaChannels> mappings;
    for (std::size_t c = 0; c < mappings.size(); ++c)
        mappings[c] = {float(255.0 * ranges[c].low), float(ranges[c].high - ranges[c].low)};
    VoxelGrid grid(outputChannels);
    for (int z = 0; z < kVolumeGridSize; ++z)
        for (int y = 0; y < kVolumeGridSize; ++y)
            for (int x = 0; x < kVolumeGridSize; ++x) {
                unsigned char bytes[4] = {0, 0, 0, 255};
                for (std::size_t c = 0; c < mappings.size(); ++c) {
                    const ChannelSource& source = sources[c];
                    if (source.lattice < 0) continue;
                    const Lattice& lattice = lattices[std::size_t(source.lattice)];
                    const float value =
                        lattice.values[lattice.offset(x, y, z) + std::size_t(source.component)];
                    bytes[c] = toByte((value - mappings[c].offset) / mappings[c].divisor);
                }
                grid.set(x, y, z, bytes);
            }
    return grid;
}

// OpenVDB files begin with the 32-bit magic number 0x56444220 (" BDV"), little-endian.
bool hasVdbSignature(const std::vector<unsigned char>& start) {
    return start.size() >= sizeof kVdbSignature &&
           std::memcmp(start.data(), kVdbSignature, sizeof kVdbSignature) == 0;
}

SourceVolume readSource(const ConvertOptions& options, ConversionReport* report) {
    const std::string& input = options.input.path;
    switch (options.input.kind) {
        case InputSource::Kind::kRaw:
            return readRawVolume(input, options.input.raw);
        case InputSource::Kind::kSliceFolder:
        case InputSource::Kind::kSlicePattern:
            return readSliceStack(options.input);
        case InputSource::Kind::kFile:
            break;
    }
    const std::vector<unsigned char> start = readInputFile(input, kForeignHeaderSize);
    if (volformat::hasMagic(start.data(), start.size())) return readVoxlumVolume(input);
    if (hasForeignGridSignature(start.data(), start.size()))
        return SourceVolume::of(readForeignGrid(input, readInputFile(input)), true);
    if (hasVdbSignature(start)) return readVdbGrids(input, options, report);
    throw FormatError(input,
                      "not a volume this tool reads (expected a .vol, a folder of slice images, a "
                      "slice pattern such as slice_%03d.png, an OpenVDB file, a Mitsuba-style grid "
                      ".vol, or raw bytes with --raw WxHxD)");
}

}  // namespace

InputSource inputSourceOf(const std::string& path) {
    InputSource source;
    source.path = path;
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) {
        source.kind = InputSource::Kind::kSliceFolder;
    } else if (NumberedName::find(path)) {
        source.kind = InputSource::Kind::kSlicePattern;
    }
    return source;
}

InputSource rawInputSource(const std::string& path, const RawLayout& layout) {
    if (!std::all_of(layout.size.begin(), layout.size.end(),
                     [](int extent) { return extent >= 1 && extent <= kMaxRawExtent; }))
        throw OptionError("--raw " + sizeText(layout.size), rawSizeProblem());
    if (layout.channels < 1 || layout.channels > 4)
        throw OptionError("--raw-channels " + std::to_string(layout.channels),
                          "expected 1 to 4 channels");
    return {InputSource::Kind::kRaw, path, layout};
}

std::array<int, 3> parseRawSize(const std::string& text) {
    std::istringstream in(text);
    std::array<int, 3> size{0, 0, 0};
    char firstX = 0, secondX = 0;
    in >> size[0] >> firstX >> size[1] >> secondX >> size[2];
    const bool wellFormed = in && in.peek() == EOF && firstX == 'x' && secondX == 'x';
    if (!wellFormed) throw OptionError("--raw " + text, rawSizeProblem());
    return size;
}

SourceVolume SourceVolume::of(Lattice lattice, bool greyIsDensity, int channelCount) {
    SourceVolume source;
    const int read = lattice.channels;
    source.channels = {ChannelSource{0, 0}, ChannelSource{0, read >= 3 ? 1 : 0},
                       ChannelSource{0, read >= 3 ? 2 : 0}, ChannelSource{}};
    if (read == 2 || read == 4) source.channels[kAlpha] = {0, read - 1};
    if (read == 1 && greyIsDensity) source.channels[kAlpha] = {0, 0};
    source.channelCount = channelCount;
    const LatticeSpans spans = wholeSpans(lattice);
    source.lattices.push_back({std::move(lattice), spans});
    return source;
}

bool isVdbFile(const std::string& path) {
    return hasVdbSignature(readInputFile(path, sizeof kVdbSignature));
}

SourceVolume readVoxlumVolume(const std::string& path) {
    using namespace volformat;
    const std::vector<unsigned char> bytes = readInputFile(path);
    const HeaderCheck check = checkHeader(bytes.data(), std::min(bytes.size(), kHeaderSize));
    const auto bodyPresent = std::int64_t(bytes.size()) - std::int64_t{kHeaderSize};
    const std::int32_t code = check.code != 0                 ? check.code
                              : bodyPresent < check.bodyBytes ? kBodyIncomplete
                                                              : 0;
    if (code != 0) {
        const std::int64_t bytesRead =
            code == kBodyIncomplete ? bodyPresent : std::int64_t(bytes.size());
        throw FormatError(
            path, refusalReason(
                      code, static_cast<std::int32_t>(std::min<std::int64_t>(bytesRead, INT32_MAX)),
                      bytes, check) +
                      " (the node refuses it with code " + std::to_string(code) + ")");
    }
    // The node reads the first four channels and ignores any beyond.
    const int channels = std::min(check.channelCount, 4);
    Lattice lattice({kVolumeGridSize, kVolumeGridSize, kVolumeGridSize}, channels);
    const unsigned char* record = bytes.data() + kHeaderSize;
    for (std::size_t voxel = 0; voxel < kVoxelCount; ++voxel, record += check.channelCount)
        std::copy(record, record + channels,
                  lattice.values.begin() + std::ptrdiff_t(voxel) * channels);
    return SourceVolume::of(std::move(lattice), false, channels);
}

SourceVolume readRawVolume(const std::string& path, const RawLayout& layout) {
    const std::array<int, 3>& size = layout.size;
    const int channels = layout.channels;
    const std::uint64_t expected = std::uint64_t(size[0]) * std::uint64_t(size[1]) *
                                   std::uint64_t(size[2]) * std::uint64_t(channels);
    // One byte past the expected size is enough to tell that the file is too long.
    const std::vector<unsigned char> bytes = readInputFile(path, expected + 1);
    if (bytes.size() != expected) {
        std::error_code ignored;
        throw FormatError(path, "has " + std::to_string(std::filesystem::file_size(path, ignored)) +
                                    " bytes, expected " + std::to_string(expected) + " for " +
                                    sizeText(size) + " with " + std::to_string(channels) +
                                    " channel(s)");
    }
    Lattice lattice(size, channels);
    std::copy(bytes.begin(), bytes.end(), lattice.values.begin());
    return SourceVolume::of(std::move(lattice), false);
}

VoxelGrid convertVolume(const ConvertOptions& options, ConversionReport* report) {
    SourceVolume source = readSource(options, report);
    std::vector<Lattice> resampled;
    for (SourceLattice& read : source.lattices)
        resampled.push_back(resampleToVolume(std::move(read.lattice), read.spans, options.tile));
    return reoriented(toVoxelGrid(resampled, source.channels, options.ranges,
                                  options.channels != 0 ? options.channels : source.channelCount),
                      options.axes);
}

VoxelGrid reoriented(const VoxelGrid& grid, const AxisFlags& axes) {
    if (!axes.flipX && !axes.flipY && !axes.flipZ && !axes.swapYZ) return grid;
    VoxelGrid result(grid.channels());
    const auto mirrored = [](bool flip, int index) {
        return flip ? kVolumeGridSize - 1 - index : index;
    };
    for (int z = 0; z < kVolumeGridSize; ++z)
        for (int y = 0; y < kVolumeGridSize; ++y)
            for (int x = 0; x < kVolumeGridSize; ++x) {
                // Undo the flips, then the swap, to find where the voxel came from.
                const int sourceY = mirrored(axes.flipY, y), sourceZ = mirrored(axes.flipZ, z);
                const unsigned char* from =
                    axes.swapYZ ? grid.record(mirrored(axes.flipX, x), sourceZ, sourceY)
                                : grid.record(mirrored(axes.flipX, x), sourceY, sourceZ);
                std::copy_n(from, grid.channels(), result.record(x, y, z));
            }
    return result;
}
