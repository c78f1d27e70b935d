// OpenVDB files for the tool to convert, written in one place: OpenVDB's templates take long to
// compile.
#pragma once

#include <array>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace tooltest {

// A grid of float values (components 1) or of three-float vectors (components 3), background 0,
// whose active voxels are the box of `size` voxels from `origin`, voxel origin + (x, y, z) taking
// value(x, y, z) (only the first component for float grids).
struct VdbGrid {
    std::string name;
    int components = 1;
    std::array<int, 3> origin{};
    std::array<int, 3> size{};
    std::function<std::array<float, 3>(int, int, int)> value;
};

void writeVdbFile(const std::filesystem::path& path, const std::vector<VdbGrid>& grids);

}  // namespace tooltest
