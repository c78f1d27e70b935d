#include "VolumeWriter.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "AtomicFile.h"
#include "ToolError.h"

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

namespace {

bool writeAll(std::FILE* file, const std::vector<unsigned char>& bytes) {
    return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

}  // namespace

void writeVolumeFile(const std::string& path, const VoxelGrid& grid) {
    replaceFileAtomically(path, [&](const std::string& temporary) {
        std::FILE* file = std::fopen(temporary.c_str(), "wb");
        if (file == nullptr) throw ToolError(path, cannotWrite(errno));
        const bool bytesWritten =
            writeAll(file, volumeHeader(grid.channels())) && writeAll(file, grid.bytes());
        const int writeError = errno;
        const bool closed = std::fclose(file) == 0;
        if (!bytesWritten || !closed)
            throw ToolError(path, cannotWrite(bytesWritten ? errno : writeError));
    });
}
