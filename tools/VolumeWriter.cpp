#include "VolumeWriter.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

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

std::string systemError(int error) {
    return "cannot write (" + std::string(std::strerror(error)) + ")";
}

bool writeAll(std::FILE* file, const std::vector<unsigned char>& bytes) {
    return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

}  // namespace

void writeVolumeFile(const std::string& path, const VoxelGrid& grid) {
    const std::filesystem::path target(path);
    // The same folder keeps the final rename on one file system, where it is atomic.
    const std::filesystem::path temporary =
        target.parent_path() /
        ("." + target.filename().string() + ".partial-" + std::to_string(::getpid()));

    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) throw ToolError(path, systemError(errno));
    const bool bytesWritten =
        writeAll(file, volumeHeader(grid.channels())) && writeAll(file, grid.bytes());
    const int writeError = errno;
    const bool closed = std::fclose(file) == 0;
    int error = bytesWritten ? errno : writeError;
    if (bytesWritten && closed) {
        if (std::rename(temporary.c_str(), target.c_str()) == 0) return;
        error = errno;
    }
    std::remove(temporary.c_str());
    throw ToolError(path, systemError(error));
}
