// An in-memory 128^3 lattice of 8-bit records in the ".vol" body order, and the one writer
// that turns it into a file.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "VolumeFormat.h"

constexpr int kEdge = volformat::kSupportedEdgeLength;
constexpr std::size_t kVoxelCount = std::size_t{kEdge} * kEdge * kEdge;

class VoxelGrid {
  public:
    // `channels` is 3 (RGB) or 4 (RGBA); every byte starts at 0.
    explicit VoxelGrid(int channels);

    int channels() const { return channels_; }
    const std::vector<unsigned char>& bytes() const { return bytes_; }

    // The record of voxel (x, y, z), each index in [0, 128).
    unsigned char* record(int x, int y, int z) { return bytes_.data() + offset(x, y, z); }
    const unsigned char* record(int x, int y, int z) const {
        return bytes_.data() + offset(x, y, z);
    }

    // Stores an RGBA value; alpha is dropped for a 3-channel grid.
    void set(int x, int y, int z, const unsigned char (&rgba)[4]);

  private:
    std::size_t offset(int x, int y, int z) const {
        return ((std::size_t(z) * kEdge + std::size_t(y)) * kEdge + std::size_t(x)) *
               std::size_t(channels_);
    }

    int channels_;
    std::vector<unsigned char> bytes_;
};

// A value on the byte scale (0 to 255) as the byte a volume stores: rounded to nearest, clamped,
// NaN to 0.
inline unsigned char toByte(float value) {
    if (!(value > 0.0f)) return 0;  // also NaN
    return static_cast<unsigned char>(std::lround(std::min(value, 255.0f)));
}

// The 4096-byte header the loader accepts for a 128^3 body of `channels` channels.
std::vector<unsigned char> volumeHeader(int channels);

// Writes `grid` to `path`. The file appears complete or not at all: the bytes go to a
// temporary file in the same folder that is then renamed over `path`. Throws ToolError.
void writeVolumeFile(const std::string& path, const VoxelGrid& grid);
