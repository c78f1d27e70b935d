// OpenVDB's BoxSampler and NanoVDB's trilinear sampler over the same voxels, as dense Vec4f
// grids of 129^3 whose last plane along each axis repeats the first, so sampling up to 1.0
// wraps as the store does.
#include <nanovdb/util/OpenToNanoVDB.h>
#include <nanovdb/util/SampleFromVoxels.h>
#include <openvdb/openvdb.h>
#include <openvdb/tools/Interpolation.h>

#include "BenchSupport.h"

namespace {

using bench::Pattern;

// OpenVDB registers no Vec4 grid of its own; this is the layout its converter to NanoVDB reads.
using Vec4fGrid = openvdb::Grid<openvdb::tree::Tree4<openvdb::Vec4f, 5, 4, 3>::Type>;

Vec4fGrid::Ptr buildOpenVdbGrid() {
    openvdb::initialize();
    const reference::Volume& volume = bench::volume();
    auto grid = Vec4fGrid::create(openvdb::Vec4f(0.0f));
    auto accessor = grid->getAccessor();
    for (int z = 0; z <= kVolumeGridSize; ++z) {
        for (int y = 0; y <= kVolumeGridSize; ++y) {
            for (int x = 0; x <= kVolumeGridSize; ++x) {
                const VoxelSample s = reference::voxelAt(volume, x, y, z);
                accessor.setValue(openvdb::Coord(x, y, z), openvdb::Vec4f(s.r, s.g, s.b, s.a));
            }
        }
    }
    return grid;
}

const Vec4fGrid& openVdbGrid() {
    static const Vec4fGrid::Ptr grid = buildOpenVdbGrid();
    return *grid;
}

const nanovdb::NanoGrid<nanovdb::Vec4f>& nanoVdbGrid() {
    static const auto handle = nanovdb::openToNanoVDB(openVdbGrid());
    return *handle.grid<nanovdb::Vec4f>();
}

constexpr float kScale = static_cast<float>(kVolumeGridSize);

void openVdbBoxSampler(benchmark::State& state, Pattern pattern) {
    const auto accessor = openVdbGrid().getConstAccessor();
    bench::samplePoints(state, pattern, [&accessor](float u, float v, float w) {
        openvdb::Vec4f value;
        openvdb::tools::BoxSampler::sample(
            accessor, openvdb::Vec3R(u * kScale, v * kScale, w * kScale), value);
        return value;
    });
}

// OpenVDB's own one-line recipe for sampling a grid: GridSampler over the grid itself, which
// looks every corner up from the tree's root instead of through a caching accessor.
void openVdbGridSampler(benchmark::State& state, Pattern pattern) {
    const openvdb::tools::GridSampler<Vec4fGrid, openvdb::tools::BoxSampler> sampler(openVdbGrid());
    bench::samplePoints(state, pattern, [&sampler](float u, float v, float w) {
        return sampler.isSample(openvdb::Vec3R(u * kScale, v * kScale, w * kScale));
    });
}

void nanoVdbTrilinear(benchmark::State& state, Pattern pattern) {
    const auto accessor = nanoVdbGrid().getAccessor();
    const auto sampler = nanovdb::createSampler<1>(accessor);
    bench::samplePoints(state, pattern, [&sampler](float u, float v, float w) {
        return sampler(nanovdb::Vec3f(u * kScale, v * kScale, w * kScale));
    });
}

}  // namespace

void bench::registerLibraryBaselines() {
    bench::registerForPatterns("openvdbBoxSampler", openVdbBoxSampler);
    bench::registerForPatterns("openvdbGridSampler", openVdbGridSampler);
    bench::registerForPatterns("nanovdbTrilinear", nanoVdbTrilinear);
}
