#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <random>
#include <thread>
#include <vector>

#include "ReferenceSampler.h"
#include "VolumeFiles.h"
#include "VoxelVolume.h"

namespace {

// Samplers run while another thread keeps replacing the volume with good and bad files: every
// sample must be exactly what one of the installed volumes gives, never a mixture or garbage.
TEST(Concurrency, SamplesDuringLoadsMatchAnInstalledVolume) {
    testfiles::ScratchFolder folder;
    const std::array<reference::Volume, 2> volumes = {
        reference::Volume{testfiles::randomBody(4, 501), 4},
        reference::Volume{testfiles::randomBody(3, 502), 3}};
    testfiles::writeBytes(folder.file("a.vol"), testfiles::volumeBytes({}, volumes[0].body));
    testfiles::writeBytes(folder.file("b.vol"),
                          testfiles::volumeBytes({"VOLU", 4, 128, 3, 1}, volumes[1].body));
    auto truncated = testfiles::volumeBytes({}, volumes[0].body);
    truncated.resize(truncated.size() / 2);
    testfiles::writeBytes(folder.file("short.vol"), truncated);
    const std::array<std::string, 4> files = {
        folder.file("a.vol").string(), folder.file("short.vol").string(),
        folder.file("b.vol").string(), folder.file("missing.vol").string()};

    std::vector<std::array<float, 3>> points;
    std::mt19937 generator(5);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int i = 0; i < 64; ++i)
        points.push_back({unit(generator), unit(generator), unit(generator)});

    VoxelVolume store;
    std::int32_t bytesRead = 0;
    ASSERT_EQ(store.loadVolumeFile(files[0].c_str(), bytesRead), 4);

    std::atomic<bool> loading{true};
    std::atomic<int> badSamples{0};
    std::atomic<long> samples{0};
    std::vector<std::thread> samplers;
    for (int t = 0; t < 3; ++t) {
        samplers.emplace_back([&, t] {
            std::size_t i = static_cast<std::size_t>(t);
            while (loading.load()) {
                const auto& p = points[i++ % points.size()];
                const VoxelSample s = store.sampleTrilinear(p[0], p[1], p[2]);
                const bool matches =
                    reference::sameBits(s,
                                        reference::sampleTrilinear(volumes[0], p[0], p[1], p[2])) ||
                    reference::sameBits(s,
                                        reference::sampleTrilinear(volumes[1], p[0], p[1], p[2]));
                if (!matches) ++badSamples;
                ++samples;
            }
        });
    }
    int successfulLoads = 0;
    for (int round = 0; round < 24; ++round) {
        if (store.loadVolumeFile(files[static_cast<std::size_t>(round) % files.size()].c_str(),
                                 bytesRead) > 0)
            ++successfulLoads;
    }
    loading = false;
    for (auto& thread : samplers) thread.join();

    EXPECT_EQ(successfulLoads, 12);
    EXPECT_GT(samples.load(), 0);
    EXPECT_EQ(badSamples.load(), 0);
}

}  // namespace
