#include <gtest/gtest.h>

#include <array>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "ReferenceSampler.h"
#include "SampleAssertions.h"
#include "SharedBlocks.h"
#include "VolumeFiles.h"
#include "VoxelVolume.h"

namespace {

// Reloads land in a block retired earlier, by the same store or another, which still holds
// that block's old bytes, possibly of another record size and past the new body's end, or in a
// block other stores hold because their files have the same bytes. Whatever block a load lands
// in, every store must show exactly the volume it loaded last, and the process must hold one
// block per distinct volume shown.
enum VolumeFile : std::size_t {
    kRgbaA,
    kRgbaB,
    kRgbC,
    kRgbD,
    kFiveChannels,
    kRgbaACopy,  // the bytes of kRgbaA under another name
    kShort,
    kMissing
};

class VolumeFiles {
  public:
    VolumeFiles() {
        const std::array<std::int32_t, 5> channels = {4, 4, 3, 3, 5};
        for (std::size_t i = 0; i < channels.size(); ++i) {
            volumes_.push_back(
                {testfiles::randomBody(channels[i], 300 + std::uint32_t(i)), channels[i]});
            testfiles::VolumeHeaderFields fields;
            fields.channelCount = channels[i];
            paths_.push_back(write("volume" + std::to_string(i) + ".vol",
                                   testfiles::volumeBytes(fields, volumes_.back().body)));
        }
        paths_.push_back(write("copy.vol", testfiles::volumeBytes({}, volumes_[kRgbaA].body)));
        auto cut = testfiles::volumeBytes({}, volumes_[kRgbaA].body);
        cut.resize(cut.size() - 1);
        paths_.push_back(write("short.vol", cut));
        paths_.push_back(folder_.file("missing.vol").string());
    }

    const std::string& path(VolumeFile file) const { return paths_[file]; }
    // The volume a successful load of `file` installs, nothing for a file that fails.
    const reference::Volume* volume(VolumeFile file) const {
        if (file == kRgbaACopy) return &volumes_[kRgbaA];
        return file < volumes_.size() ? &volumes_[file] : nullptr;
    }

  private:
    std::string write(const std::string& name, const std::vector<unsigned char>& bytes) {
        const auto path = folder_.file(name);
        testfiles::writeBytes(path, bytes);
        return path.string();
    }

    testfiles::ScratchFolder folder_;
    std::vector<reference::Volume> volumes_;
    std::vector<std::string> paths_;
};

const VolumeFiles& files() {
    static const VolumeFiles instance;
    return instance;
}

// Random points plus the last cell of the lattice, where a kernel loads the last record as a
// whole word and so reads the byte past the body.
std::vector<std::array<float, 3>> samplePoints() {
    std::vector<std::array<float, 3>> points = {{127.5f / 128, 127.5f / 128, 127.5f / 128},
                                                {127.0f / 128, 127.0f / 128, 127.0f / 128},
                                                {0.999f, 0.9995f, 0.99999f}};
    std::mt19937 generator(17);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int i = 0; i < 40; ++i)
        points.push_back({unit(generator), unit(generator), unit(generator)});
    return points;
}

::testing::AssertionResult showsExactly(const VoxelVolume& store,
                                        const reference::Volume& expected) {
    if (store.channelCount() != expected.channelCount)
        return ::testing::AssertionFailure() << "channel count " << store.channelCount();
    static const std::vector<std::array<float, 3>> points = samplePoints();
    for (const auto& p : points) {
        auto same = bitsEqual(store.sampleTrilinear(p[0], p[1], p[2]),
                              reference::sampleTrilinear(expected, p[0], p[1], p[2]));
        if (!same) return same << " at (" << p[0] << ", " << p[1] << ", " << p[2] << ")";
    }
    return bitsEqual(store.voxelAt(127, 127, 127), reference::voxelAt(expected, 127, 127, 127));
}

struct Load {
    std::size_t store;
    VolumeFile file;
};

struct ReloadCase {
    const char* name;
    std::vector<Load> loads;
};

void PrintTo(const ReloadCase& c, std::ostream* out) { *out << c.name; }

class Reload : public testing::TestWithParam<ReloadCase> {};

TEST_P(Reload, EveryStoreShowsExactlyItsLastLoadedVolume) {
    const std::size_t blocksBefore = sharedblocks::usage().blocks;
    std::array<VoxelVolume, 3> stores;
    std::array<const reference::Volume*, 3> shown = {nullptr, nullptr, nullptr};
    std::int32_t bytesRead = 0;
    for (std::size_t step = 0; step < GetParam().loads.size(); ++step) {
        const Load& load = GetParam().loads[step];
        const reference::Volume* loaded = files().volume(load.file);
        const VolumeLoadResult result =
            stores[load.store].loadVolumeFile(files().path(load.file).c_str(), bytesRead);
        if (loaded != nullptr) {
            ASSERT_EQ(result, loaded->channelCount) << "load " << step;
            shown[load.store] = loaded;
        } else {
            ASSERT_LT(result, 0) << "load " << step;
        }
        for (std::size_t s = 0; s < stores.size(); ++s) {
            if (shown[s] != nullptr)
                EXPECT_TRUE(showsExactly(stores[s], *shown[s]))
                    << "store " << s << ", load " << step;
            else
                EXPECT_FALSE(stores[s].hasVolume()) << "store " << s << ", load " << step;
        }
        std::set<const reference::Volume*> distinct(shown.begin(), shown.end());
        distinct.erase(nullptr);
        EXPECT_EQ(sharedblocks::usage().blocks - blocksBefore, distinct.size()) << "load " << step;
    }
}

// Each load retires the block it replaces as the spare the next load takes when it is large
// enough, so these orders put volumes into blocks that held others.
INSTANTIATE_TEST_SUITE_P(
    SpareBlocks, Reload,
    testing::Values(
        ReloadCase{"SameFileAgain", {{0, kRgbaA}, {0, kRgbaB}, {0, kRgbaA}, {0, kRgbaA}}},
        ReloadCase{"RgbIntoRgbaBlock", {{0, kRgbaA}, {0, kRgbaB}, {0, kRgbC}}},
        ReloadCase{"RgbaIntoBlockThatHeldRgb",
                   {{0, kRgbaA}, {0, kRgbaB}, {0, kRgbC}, {0, kRgbaB}, {0, kRgbaA}}},
        ReloadCase{"RgbaAfterRgbBlocksTooSmall", {{0, kRgbC}, {0, kRgbD}, {0, kRgbaA}}},
        ReloadCase{"SmallerRecordsIntoFiveChannelBlock",
                   {{0, kFiveChannels}, {0, kRgbaA}, {0, kRgbC}, {0, kFiveChannels}, {0, kRgbD}}},
        ReloadCase{"AcrossStores",
                   {{0, kRgbaA}, {0, kRgbaB}, {1, kRgbC}, {1, kRgbD}, {0, kRgbaA}, {1, kRgbaB}}},
        ReloadCase{"FailuresBetweenGoodLoads",
                   {{0, kShort},
                    {0, kRgbaA},
                    {0, kShort},
                    {0, kRgbC},
                    {1, kMissing},
                    {0, kShort},
                    {1, kRgbaB},
                    {0, kRgbaA},
                    {1, kShort}}},
        ReloadCase{"StoresOnOneFile", {{0, kRgbaA}, {1, kRgbaA}, {2, kRgbaA}, {1, kRgbaA}}},
        ReloadCase{"FilesWithTheSameBytes", {{0, kRgbaA}, {1, kRgbaACopy}, {2, kRgbaA}}},
        ReloadCase{"SharersMoveOnOneByOne",
                   {{0, kRgbaA},
                    {1, kRgbaA},
                    {2, kRgbaACopy},
                    {0, kRgbC},
                    {1, kRgbC},
                    {2, kRgbaB},
                    {2, kRgbC},
                    {0, kRgbaACopy}}},
        ReloadCase{
            "FailedLoadsIntoSharingStores",
            {{0, kRgbaA}, {1, kRgbaA}, {1, kShort}, {2, kMissing}, {2, kRgbaACopy}, {0, kShort}}},
        ReloadCase{"SameBytesOtherRecordSizeOrder",
                   {{0, kRgbC}, {1, kRgbD}, {2, kRgbC}, {0, kRgbD}, {2, kFiveChannels}}}),
    [](const testing::TestParamInfo<ReloadCase>& testCase) {
        return std::string(testCase.param.name);
    });

}  // namespace
