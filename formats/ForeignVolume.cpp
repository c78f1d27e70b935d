#include "ForeignVolume.h"

#include <cstring>

#include "AtomicFile.h"
#include "Export.h"
#include "FormatError.h"
#include "VolumeFormat.h"

namespace {

constexpr unsigned char kSignature[4] = {'V', 'O', 'L', 3};
constexpr std::size_t kEncodingOffset = 4;
constexpr std::size_t kResolutionOffset = 8;
constexpr std::size_t kChannelsOffset = 20;
constexpr std::size_t kBoundsOffset = 24;
// Keeps the value count within 64 bits before the file size is compared with it.
constexpr std::int32_t kMaxForeignExtent = 65536;

float readFloat32(const unsigned char* bytes, std::size_t offset) {
    const auto bits = static_cast<std::uint32_t>(volformat::readInt32(bytes, offset));
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

void writeFloat32(unsigned char* bytes, std::size_t offset, float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    volformat::writeInt32(bytes, offset, static_cast<std::int32_t>(bits));
}

}  // namespace

bool hasForeignGridSignature(const unsigned char* bytes, std::size_t size) {
    return size >= sizeof kSignature && std::memcmp(bytes, kSignature, sizeof kSignature) == 0;
}

ForeignGridHeader readForeignGridHeader(const std::string& path,
                                        const std::vector<unsigned char>& bytes) {
    if (bytes.size() < kForeignHeaderSize) {
        throw FormatError(path, "grid header has " + std::to_string(bytes.size()) + " of " +
                                    std::to_string(kForeignHeaderSize) + " bytes");
    }
    ForeignGridHeader header;
    header.encoding = volformat::readInt32(bytes.data(), kEncodingOffset);
    for (std::size_t axis = 0; axis < 3; ++axis)
        header.resolution[axis] = volformat::readInt32(bytes.data(), kResolutionOffset + 4 * axis);
    header.channels = volformat::readInt32(bytes.data(), kChannelsOffset);
    for (std::size_t i = 0; i < 6; ++i)
        header.bounds[i] = readFloat32(bytes.data(), kBoundsOffset + 4 * i);
    return header;
}

Lattice readForeignGrid(const std::string& path, const std::vector<unsigned char>& bytes) {
    const ForeignGridHeader header = readForeignGridHeader(path, bytes);
    if (header.encoding != kForeignFloat32Encoding) {
        throw FormatError(path, "grid encoding " + std::to_string(header.encoding) +
                                    " is not supported (only 1, float32)");
    }
    if (header.channels != 1 && header.channels != 3 && header.channels != 4) {
        throw FormatError(path, "grid has " + std::to_string(header.channels) +
                                    " channels; only 1 (density), 3 (colour) or 4 (colour and "
                                    "alpha) convert");
    }
    std::uint64_t valueCount = static_cast<std::uint64_t>(header.channels);
    for (std::int32_t extent : header.resolution) {
        if (extent < 1 || extent > kMaxForeignExtent) {
            throw FormatError(path, "grid resolution " + std::to_string(extent) +
                                        " is outside 1 to " + std::to_string(kMaxForeignExtent));
        }
        valueCount *= static_cast<std::uint64_t>(extent);
    }
    const std::uint64_t available = (bytes.size() - kForeignHeaderSize) / 4;
    if (available < valueCount) {
        throw FormatError(path, "grid data has " + std::to_string(available) + " of " +
                                    std::to_string(valueCount) + " values");
    }
    Lattice lattice(header.resolution, header.channels);
    for (std::size_t i = 0; i < valueCount; ++i)
        lattice.values[i] = unitToScale(readFloat32(bytes.data(), kForeignHeaderSize + 4 * i));
    return lattice;
}

void writeForeignGrid(const std::string& path, const VoxelGrid& grid) {
    const std::vector<unsigned char>& voxels = grid.bytes();
    std::vector<unsigned char> bytes(kForeignHeaderSize + 4 * voxels.size());
    std::memcpy(bytes.data(), kSignature, sizeof kSignature);
    volformat::writeInt32(bytes.data(), kEncodingOffset, kForeignFloat32Encoding);
    for (std::size_t axis = 0; axis < 3; ++axis)
        volformat::writeInt32(bytes.data(), kResolutionOffset + 4 * axis, kVolumeGridSize);
    volformat::writeInt32(bytes.data(), kChannelsOffset, grid.channels());
    // The unit cube, the texture's one period.
    for (std::size_t i = 0; i < 6; ++i)
        writeFloat32(bytes.data(), kBoundsOffset + 4 * i, i < 3 ? 0.0f : 1.0f);
    for (std::size_t i = 0; i < voxels.size(); ++i)
        writeFloat32(bytes.data(), kForeignHeaderSize + 4 * i, byteToUnit(voxels[i]));
    writeFileAtomically(path, {{bytes.data(), bytes.size()}});
}
