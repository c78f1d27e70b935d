#include "VolumeWriter.h"

#include <cstring>

#include "AtomicFile.h"

VoxelGrid::VoxelGrid(int channels)
    : channels_(channels), bytes_(kVoxelCount * static_cast<std::size_t>(channels), 0) {}

void VoxelGrid::set(int x, int y, int z, const unsigned char (&rgba)[4]) {
    std::memcpy(record(x, y, z), rgba, static_cast<std::size_t>(channels_));
}

std::vector<unsigned char> volumeHeader(int channels) {
    using namespace volformat;
    std::vector<unsigned char> header(kHeaderSize, 0);
    std::memcpy(header.data(), kMagic, sizeof kMagic);
    writeInt32(header.data(), kVersionOffset, kExpectedVersion);
    writeInt32(header.data(), kEdgeLengthOffset, kSupportedEdgeLength);
    writeInt32(header.data(), kChannelCountOffset, channels);
    writeInt32(header.data(), kEncodingOffset, kExpectedEncoding);
    return header;
}

void writeVolumeFile(const std::string& path, const VoxelGrid& grid) {
    const std::vector<unsigned char> header = volumeHeader(grid.channels());
    writeFileAtomically(
        path, {{header.data(), header.size()}, {grid.bytes().data(), grid.bytes().size()}});
}
