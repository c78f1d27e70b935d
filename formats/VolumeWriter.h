// An in-memory 128^3 lattice of 8-bit records in the ".vol" body order, what its bytes stand for,
// and the one writer that turns it into a file.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "VolumeFormat.h"
#include "VoxelVolume.h"

constexpr std::size_t kVoxelCount =
    std::size_t{kVolumeGridSize} * kVolumeGridSize * kVolumeGridSize;

// Output channels, in the order of a voxel's record, and their names as reports print them.
enum ChannelIndex : int { kRed = 0, kGreen = 1, kBlue = 2, kAlpha = 3 };
constexpr int kRgbaChannels = 4;
constexpr const char* kChannelNames[kRgbaChannels] = {"red", "green", "blue", "alpha"};

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
        return ((std::size_t(z) * kVolumeGridSize + std::size_t(y)) * kVolumeGridSize +
                std::size_t(x)) *
               std::size_t(channels_);
    }

    int channels_;
    std::vector<unsigned char> bytes_;
};

// Byte b of a volume stands for b / 255 in [0, 1]. Converters work on the byte scale, values times
// 255, so that the range [0, 1] maps to the bytes unchanged.
inline float unitToScale(float unit) { return 255.0f * unit; }
inline float byteToUnit(unsigned char byte) { return byte / 255.0f; }

// A value on the byte scale (0 to 255) as the byte a volume stores: rounded to nearest, clamped,
// NaN to 0.
inline unsigned char toByte(float value) {
    if (!(value > 0.0f)) return 0;  // also NaN
    return static_cast<unsigned char>(std::lround(std::min(value, 255.0f)));
}

// A value in [0, 1], float or double, as its byte: rounded to nearest, clamped, NaN to 0.
template <typename Real>
unsigned char unitToByte(Real unit) {
    if (!(unit > Real(0))) return 0;  // also NaN
    return static_cast<unsigned char>(std::lround(std::min(unit, Real(1)) * Real(255)));
}

// The 4096-byte header the loader accepts for a 128^3 body of `channels` channels.
std::vector<unsigned char> volumeHeader(int channels);

// Writes `grid` to `path`. The file appears complete or not at all: the bytes go to a
// temporary file in the same folder that is then renamed over `path`. Throws FormatError.
void writeVolumeFile(const std::string& path, const VoxelGrid& grid);
