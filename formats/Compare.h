// How far apart two volumes are, for regression tests of converted volumes.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "Convert.h"

struct CompareOptions {
    InputSource first;
    InputSource second;
    // The largest difference of a byte that still counts as equal.
    int tolerance = 0;
    // How many voxels may differ by more than `tolerance`.
    std::uint64_t toleratedVoxels = 0;
};

// A voxel over tolerance, with both its RGBA records.
struct VoxelDifference {
    std::array<int, 3> at{};
    std::array<unsigned char, 4> first{};
    std::array<unsigned char, 4> second{};
};

struct VolumeComparison {
    // Per channel, red to alpha: the largest byte difference, and how many voxels differ at all.
    std::array<int, 4> largest{};
    std::array<std::uint64_t, 4> differing{};
    std::uint64_t differingVoxels = 0;
    std::uint64_t overTolerance = 0;
    // The first few voxels over tolerance, in file order.
    std::vector<VoxelDifference> listed;
    bool within = true;
};

// Reads both as `convert` would make them into RGBA volumes (a missing alpha is 255, as the node
// takes it) and compares them voxel by voxel. Throws FormatError for an input it cannot read.
VolumeComparison compareVolumes(const CompareOptions& options);
