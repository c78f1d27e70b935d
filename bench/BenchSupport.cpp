#include "BenchSupport.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>

#include "BatchKernels.h"
#include "SamplerKernels.h"
#include "VolumeFiles.h"

namespace bench {

namespace {

constexpr std::size_t kPointCount = std::size_t{1} << 20;

float wrapped(float coordinate) { return coordinate - std::floor(coordinate); }

// A 1024 x 1024 grid on a tilted plane through the centre of the cube, an eighth of a voxel
// between neighbours, wrapped into the unit cube.
std::vector<Point> planePoints() {
    constexpr int kSide = 1024;
    const Point across = {0.8f / kSide, 0.35f / kSide, -0.15f / kSide};
    const Point down = {-0.2f / kSide, 0.55f / kSide, 0.65f / kSide};
    std::vector<Point> result;
    result.reserve(kPointCount);
    for (int row = 0; row < kSide; ++row) {
        for (int column = 0; column < kSide; ++column) {
            Point p;
            for (std::size_t axis = 0; axis < 3; ++axis) {
                p[axis] = wrapped(0.5f + across[axis] * float(column - kSide / 2) +
                                  down[axis] * float(row - kSide / 2));
            }
            result.push_back(p);
        }
    }
    return result;
}

std::vector<Point> uniformPoints() {
    std::mt19937 generator(2024);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::vector<Point> result(kPointCount);
    for (Point& p : result) p = {unit(generator), unit(generator), unit(generator)};
    return result;
}

struct VolumeFile {
    testfiles::ScratchFolder folder;
    std::string path = folder.file("bench.vol").string();
    VolumeFile() {
        testfiles::writeBytes(path,
                              testfiles::volumeBytes({}, testfiles::randomBody(kChannels, 7)));
    }
};

struct LoadedStore {
    VoxelVolume store;
    LoadedStore() {
        std::int32_t bytesRead = 0;
        if (store.loadVolumeFile(volumeFilePath().c_str(), bytesRead) != kChannels) std::abort();
    }
};

}  // namespace

const char* patternName(Pattern pattern) {
    return pattern == Pattern::coherent ? "coherent" : "random";
}

const std::vector<Point>& points(Pattern pattern) {
    static const std::vector<Point> plane = planePoints();
    static const std::vector<Point> uniform = uniformPoints();
    return pattern == Pattern::coherent ? plane : uniform;
}

const reference::Volume& volume() {
    static const reference::Volume voxels = [] {
        reference::Volume result{testfiles::randomBody(kChannels, 7), kChannels};
        result.body.resize(result.body.size() + std::max(samplerkernels::kTrailingPadding,
                                                         batchkernels::kTrailingPadding),
                           0);
        return result;
    }();
    return voxels;
}

const std::string& volumeFilePath() {
    static const VolumeFile file;
    return file.path;
}

const VoxelVolume& loadedStore() {
    static const LoadedStore loaded;
    return loaded.store;
}

}  // namespace bench
