#include "Compare.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <vector>

#include "Convert.h"
#include "ExitCodes.h"
#include "VolumeWriter.h"

namespace {

constexpr std::size_t kListedVoxels = 10;

VoxelGrid asRgba(const std::string& path) {
    ConvertOptions options;
    options.input = path;
    options.channels = 4;
    return convertVolume(options);
}

void printVoxel(const char* label, const unsigned char* record) {
    std::cout << label << ' ' << int(record[0]) << ' ' << int(record[1]) << ' ' << int(record[2])
              << ' ' << int(record[3]);
}

}  // namespace

int compareVolumes(const CompareOptions& options, const Verbosity& verbosity) {
    const VoxelGrid first = asRgba(options.first);
    const VoxelGrid second = asRgba(options.second);
    int largest[4] = {0, 0, 0, 0};
    std::uint64_t differing[4] = {0, 0, 0, 0};
    std::uint64_t differingVoxels = 0;
    std::uint64_t overTolerance = 0;
    std::vector<std::array<int, 3>> listed;  // the first few over tolerance
    for (int z = 0; z < kEdge; ++z)
        for (int y = 0; y < kEdge; ++y)
            for (int x = 0; x < kEdge; ++x) {
                const unsigned char* a = first.record(x, y, z);
                const unsigned char* b = second.record(x, y, z);
                int voxelLargest = 0;
                for (int c = 0; c < 4; ++c) {
                    const int difference = std::abs(int(a[c]) - int(b[c]));
                    largest[c] = std::max(largest[c], difference);
                    differing[c] += difference > 0;
                    voxelLargest = std::max(voxelLargest, difference);
                }
                differingVoxels += voxelLargest > 0;
                if (voxelLargest <= options.tolerance) continue;
                ++overTolerance;
                if (listed.size() < kListedVoxels) listed.push_back({x, y, z});
            }
    const bool within = overTolerance <= options.toleratedVoxels;
    if (!verbosity.quiet) {
        static const char* const kNames[4] = {"red", "green", "blue", "alpha"};
        std::cout << "channel  largest difference  voxels differing\n";
        for (int c = 0; c < 4; ++c) {
            char line[80];
            std::snprintf(line, sizeof line, "%-7s  %18d  %16llu\n", kNames[c], largest[c],
                          static_cast<unsigned long long>(differing[c]));
            std::cout << line;
        }
        std::cout << "voxels differing: " << differingVoxels << " of " << kVoxelCount << '\n'
                  << "voxels differing by more than " << options.tolerance << ": " << overTolerance
                  << ", tolerated " << options.toleratedVoxels << '\n'
                  << (within ? "within tolerance" : "over tolerance") << '\n';
    }
    if (verbosity.verbose) {
        for (const auto& [x, y, z] : listed) {
            std::cout << "voxel (" << x << ", " << y << ", " << z << "): ";
            printVoxel("first", first.record(x, y, z));
            printVoxel(", second", second.record(x, y, z));
            std::cout << '\n';
        }
    }
    if (within) return kExitSuccess;
    printError(options.first + " and " + options.second + ": " + std::to_string(overTolerance) +
               " voxels differ by more than " + std::to_string(options.tolerance) + ", " +
               std::to_string(options.toleratedVoxels) + " tolerated");
    return kExitOverTolerance;
}
