// Stores share blocks by their bytes: what the process holds follows the stores' volumes, and a
// file's name, size and time never stand in for its bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "BatchKernels.h"
#include "ReferenceSampler.h"
#include "SampleAssertions.h"
#include "SamplerKernels.h"
#include "SharedBlocks.h"
#include "VolumeFiles.h"
#include "VoxelVolume.h"

namespace {

// A block holds the body and the few bytes past it that the kernels may read.
constexpr std::size_t kBlockPadding =
    std::max(samplerkernels::kTrailingPadding, batchkernels::kTrailingPadding);
constexpr std::size_t kRgbaBlockBytes = 128 * 128 * 128 * 4 + kBlockPadding;
constexpr std::size_t kRgbBlockBytes = 128 * 128 * 128 * 3 + kBlockPadding;

::testing::AssertionResult shows(const VoxelVolume& store, const reference::Volume& volume) {
    for (const float u : {0.1f, 0.37f, 0.999f}) {
        auto same = bitsEqual(store.sampleTrilinear(u, 1.0f - u, u * 0.5f),
                              reference::sampleTrilinear(volume, u, 1.0f - u, u * 0.5f));
        if (!same) return same;
    }
    return ::testing::AssertionSuccess();
}

std::int32_t load(VoxelVolume& store, const std::filesystem::path& path) {
    std::int32_t bytesRead = 0;
    return store.loadVolumeFile(path.string().c_str(), bytesRead);
}

// A file rewritten with other voxels, keeping its size and time, is read afresh by the store
// that loads it again; the stores that loaded it before keep what they read.
TEST(Sharing, RewrittenFileWithTheSameSizeAndTimeIsReadAfresh) {
    const testfiles::ScratchFolder folder;
    const auto path = folder.file("cloud.vol");
    const reference::Volume before{testfiles::randomBody(4, 61), 4};
    const reference::Volume after{testfiles::randomBody(4, 62), 4};
    testfiles::writeBytes(path, testfiles::volumeBytes({}, before.body));
    const auto time = std::filesystem::last_write_time(path);
    const std::size_t blocksBefore = sharedblocks::usage().blocks;
    std::array<VoxelVolume, 3> stores;
    for (VoxelVolume& store : stores) ASSERT_EQ(load(store, path), 4);
    EXPECT_EQ(sharedblocks::usage().blocks - blocksBefore, 1u);

    testfiles::writeBytes(path, testfiles::volumeBytes({}, after.body));
    std::filesystem::last_write_time(path, time);
    ASSERT_EQ(load(stores[1], path), 4);

    EXPECT_TRUE(shows(stores[0], before));
    EXPECT_TRUE(shows(stores[1], after));
    EXPECT_TRUE(shows(stores[2], before));
    EXPECT_EQ(sharedblocks::usage().blocks - blocksBefore, 2u);
}

struct ReleaseOrder {
    const char* name;
    std::array<std::size_t, 4> order;  // the stores in the order they are destroyed
};

void PrintTo(const ReleaseOrder& c, std::ostream* out) { *out << c.name; }

class Release : public testing::TestWithParam<ReleaseOrder> {};

// Stores 0 and 1 share an RGBA block, 2 and 3 an RGB one. A block is freed exactly when its
// last user goes, never before, whatever the order; bytes are counted with it.
TEST_P(Release, BlocksAreFreedExactlyWhenTheirLastUserGoes) {
    const testfiles::ScratchFolder folder;
    const reference::Volume rgba{testfiles::randomBody(4, 71), 4};
    const reference::Volume rgb{testfiles::randomBody(3, 72), 3};
    testfiles::VolumeHeaderFields rgbFields;
    rgbFields.channelCount = 3;
    testfiles::writeBytes(folder.file("rgba.vol"), testfiles::volumeBytes({}, rgba.body));
    testfiles::writeBytes(folder.file("rgb.vol"), testfiles::volumeBytes(rgbFields, rgb.body));
    const sharedblocks::Usage before = sharedblocks::usage();

    std::array<std::unique_ptr<VoxelVolume>, 4> stores;
    for (std::size_t s = 0; s < stores.size(); ++s) {
        stores[s] = std::make_unique<VoxelVolume>();
        ASSERT_GE(load(*stores[s], folder.file(s < 2 ? "rgba.vol" : "rgb.vol")), 3);
    }
    for (const std::size_t gone : GetParam().order) {
        stores[gone].reset();
        const bool rgbaHeld = stores[0] || stores[1];
        const bool rgbHeld = stores[2] || stores[3];
        const sharedblocks::Usage now = sharedblocks::usage();
        EXPECT_EQ(now.blocks - before.blocks, std::size_t{rgbaHeld} + std::size_t{rgbHeld})
            << "after store " << gone;
        EXPECT_EQ(now.bytes - before.bytes,
                  (rgbaHeld ? kRgbaBlockBytes : 0) + (rgbHeld ? kRgbBlockBytes : 0))
            << "after store " << gone;
        for (std::size_t s = 0; s < stores.size(); ++s) {
            if (!stores[s]) continue;
            EXPECT_TRUE(shows(*stores[s], s < 2 ? rgba : rgb)) << "store " << s;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sharing, Release,
                         testing::Values(ReleaseOrder{"InLoadOrder", {0, 1, 2, 3}},
                                         ReleaseOrder{"Backwards", {3, 2, 1, 0}},
                                         ReleaseOrder{"Interleaved", {0, 2, 1, 3}},
                                         ReleaseOrder{"LastLoaderFirst", {1, 3, 0, 2}}),
                         [](const testing::TestParamInfo<ReleaseOrder>& testCase) {
                             return std::string(testCase.param.name);
                         });

}  // namespace
