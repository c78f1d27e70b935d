// OpenVDB files for the tool to convert, written in one place: OpenVDB's templates take long to
// compile.
#pragma once

#include <array>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace tooltest {

// A grid of float values (components 1) or of three-float vectors (components 3), background 0,
// whose active voxels are the box of `size` voxels from `origin` (those where `present` holds,
// when given), voxel origin + (x, y, z) taking value(x, y, z) (only the first component for
// float grids). Voxel (i, j, k) sits at world (i, j, k) * voxelSize + translation.
struct VdbGrid {
    VdbGrid(std::string gridName, int componentCount, std::array<int, 3> first = {},
            std::array<int, 3> extent = {},
            std::function<std::array<float, 3>(int, int, int)> valueAt = {})
        : name(std::move(gridName)),
          components(componentCount),
          origin(first),
          size(extent),
          value(std::move(valueAt)) {}

    std::string name;
    int components = 1;
    std::array<int, 3> origin{};
    std::array<int, 3> size{};
    std::function<std::array<float, 3>(int, int, int)> value;
    std::function<bool(int, int, int)> present;
    double voxelSize = 1.0;
    std::array<double, 3> translation{};
    // Integer-vector metadata, such as a simulation domain's resolution.
    std::vector<std::pair<std::string, std::array<int, 3>>> metadata;
};

void writeVdbFile(const std::filesystem::path& path, const std::vector<VdbGrid>& grids);

}  // namespace tooltest
