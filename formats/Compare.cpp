#include "Compare.h"

#include <algorithm>
#include <cstdlib>

namespace {

constexpr std::size_t kListedVoxels = 10;

VoxelGrid asRgba(const InputSource& input) {
    ConvertOptions options;
    options.input = input;
    options.channels = 4;
    return convertVolume(options);
}

std::array<unsigned char, 4> rgbaOf(const unsigned char* record) {
    return {record[0], record[1], record[2], record[3]};
}

}  // namespace

VolumeComparison compareVolumes(const CompareOptions& options) {
    const VoxelGrid first = asRgba(options.first);
    const VoxelGrid second = asRgba(options.second);
    VolumeComparison result;
    for (int z = 0; z < kVolumeGridSize; ++z)
        for (int y = 0; y < kVolumeGridSize; ++y)
            for (int x = 0; x < kVolumeGridSize; ++x) {
                const unsigned char* a = first.record(x, y, z);
                const unsigned char* b = second.record(x, y, z);
                int voxelLargest = 0;
                for (std::size_t c = 0; c < 4; ++c) {
                    const int difference = std::abs(int(a[c]) - int(b[c]));
                    result.largest[c] = std::max(result.largest[c], difference);
                    result.differing[c] += difference > 0;
                    voxelLargest = std::max(voxelLargest, difference);
                }
                result.differingVoxels += voxelLargest > 0;
                if (voxelLargest <= options.tolerance) continue;
                ++result.overTolerance;
                if (result.listed.size() < kListedVoxels)
                    result.listed.push_back({{x, y, z}, rgbaOf(a), rgbaOf(b)});
            }
    result.within = result.overTolerance <= options.toleratedVoxels;
    return result;
}
