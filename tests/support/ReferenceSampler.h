// A direct transcription of the trilinear sampling algorithm, kept deliberately naive: every
// voxel fetch divides by 255 in double, every interpolation goes step by step. The optimised
// sampler must agree with it bit for bit; the benchmarks measure against it.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "VoxelVolume.h"

namespace reference {

struct Volume {
    std::vector<unsigned char> body;  // 128^3 records, x fastest
    std::int32_t channelCount;
};

inline VoxelSample voxelAt(const Volume& volume, std::int32_t x, std::int32_t y, std::int32_t z) {
    x %= 128;
    y %= 128;
    z %= 128;
    const std::size_t start =
        static_cast<std::size_t>(((z * 128 + y) * 128 + x) * volume.channelCount);
    const unsigned char* record = &volume.body[start];
    VoxelSample sample;
    sample.r = static_cast<float>(record[0] / 255.0);
    sample.g = static_cast<float>(record[1] / 255.0);
    sample.b = static_cast<float>(record[2] / 255.0);
    sample.a = volume.channelCount == 3 ? 1.0f : static_cast<float>(record[3] / 255.0);
    return sample;
}

inline VoxelSample lerp(const VoxelSample& a, const VoxelSample& b, float t) {
    const float m = 1 - t;
    VoxelSample out;
    out.r = static_cast<float>(static_cast<double>(a.r) * m + static_cast<double>(b.r) * t);
    out.g = static_cast<float>(static_cast<double>(a.g) * m + static_cast<double>(b.g) * t);
    out.b = static_cast<float>(static_cast<double>(a.b) * m + static_cast<double>(b.b) * t);
    out.a = static_cast<float>(static_cast<double>(a.a) * m + static_cast<double>(b.a) * t);
    return out;
}

// For u, v, w in [0, 1].
inline VoxelSample sampleTrilinear(const Volume& volume, float u, float v, float w) {
    const float sx = u * 128;
    const float sy = v * 128;
    const float sz = w * 128;
    const int x0 = static_cast<int>(std::floor(sx));
    const int y0 = static_cast<int>(std::floor(sy));
    const int z0 = static_cast<int>(std::floor(sz));
    const int x1 = static_cast<int>(std::ceil(sx));
    const int y1 = static_cast<int>(std::ceil(sy));
    const int z1 = static_cast<int>(std::ceil(sz));
    const VoxelSample c000 = voxelAt(volume, x0, y0, z0);
    const VoxelSample c100 = voxelAt(volume, x1, y0, z0);
    const VoxelSample c010 = voxelAt(volume, x0, y1, z0);
    const VoxelSample c110 = voxelAt(volume, x1, y1, z0);
    const VoxelSample c001 = voxelAt(volume, x0, y0, z1);
    const VoxelSample c101 = voxelAt(volume, x1, y0, z1);
    const VoxelSample c011 = voxelAt(volume, x0, y1, z1);
    const VoxelSample c111 = voxelAt(volume, x1, y1, z1);
    const float fx = sx - std::floor(sx);
    const float fy = sy - std::floor(sy);
    const float fz = sz - std::floor(sz);
    const VoxelSample e00 = lerp(c000, c100, fx);
    const VoxelSample e10 = lerp(c010, c110, fx);
    const VoxelSample e01 = lerp(c001, c101, fx);
    const VoxelSample e11 = lerp(c011, c111, fx);
    const VoxelSample f0 = lerp(e00, e10, fy);
    const VoxelSample f1 = lerp(e01, e11, fy);
    return lerp(f0, f1, fz);
}

// Equality of every bit, so a single-ulp difference (or +0 against -0) counts.
inline bool sameBits(const VoxelSample& a, const VoxelSample& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace reference
