// Resampling of a source volume of any size onto the 128^3 lattice.
//
// Each axis is resampled on its own. Voxel centres are aligned: output voxel k covers input
// interval [S + k L / 128, S + (k + 1) L / 128) of an axis spanning L voxels from S (0 and the
// axis's length for a whole lattice). Upsampling (L <= 128)
// interpolates linearly between the two nearest input voxels, so the three axes together are
// trilinear; downsampling (L > 128) averages the covered input voxels weighted by overlap (an
// area filter). Edges clamp. An input that already has 128 voxels along an axis is copied
// unchanged along it.
//
// Tiling cross-fades instead of wrapping: the axis is first resampled to 128 + kTileBand
// voxels, then the last kTileBand are blended into the first ones, fading from the far end
// into the near one, so that voxel 127 leads smoothly into voxel 0.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

// A dense lattice of float channels, x fastest, then y, then z; values on the 0..255 scale.
struct Lattice {
    std::array<int, 3> size{0, 0, 0};
    int channels = 0;
    std::vector<float> values;

    Lattice() = default;
    Lattice(std::array<int, 3> latticeSize, int channelCount);

    std::size_t voxelCount() const { return std::size_t(size[0]) * size[1] * size[2]; }
    std::size_t offset(int x, int y, int z) const {
        return ((std::size_t(z) * size[1] + std::size_t(y)) * size[0] + std::size_t(x)) *
               std::size_t(channels);
    }
};

// Voxels of each axis blended across the seam when tiling: one eighth of the period.
constexpr int kTileBand = 16;

// The stretch of an input axis that the 128 output voxels cover, in input voxels from the
// lattice's first: a box of space need not begin or end on the input's voxel edges.
struct AxisSpan {
    double start = 0.0;
    double length = 0.0;
};
using LatticeSpans = std::array<AxisSpan, 3>;

// Every voxel of `lattice`, edge to edge.
LatticeSpans wholeSpans(const Lattice& lattice);

// `spans` of `source` resampled to 128 voxels along every axis; with `tile` the result repeats
// without a seam.
Lattice resampleToVolume(Lattice source, const LatticeSpans& spans, bool tile);
