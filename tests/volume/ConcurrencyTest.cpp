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

using Point = std::array<float, 3>;

// An RGBA and an RGB volume, and files to load in turn: each volume's and two that fail (one cut
// short, one missing).
struct LoadFiles {
    testfiles::ScratchFolder folder;
    const std::array<reference::Volume, 2> volumes = {
        reference::Volume{testfiles::randomBody(4, 501), 4},
        reference::Volume{testfiles::randomBody(3, 502), 3}};
    const std::array<std::string, 4> paths = {
        folder.file("a.vol").string(), folder.file("short.vol").string(),
        folder.file("b.vol").string(), folder.file("missing.vol").string()};
    const std::vector<Point> points = randomPoints();

    LoadFiles() {
        testfiles::writeBytes(paths[0], testfiles::volumeBytes({}, volumes[0].body));
        testfiles::writeBytes(paths[2],
                              testfiles::volumeBytes({"VOLU", 4, 128, 3, 1}, volumes[1].body));
        auto truncated = testfiles::volumeBytes({}, volumes[0].body);
        truncated.resize(truncated.size() / 2);
        testfiles::writeBytes(paths[1], truncated);
    }

    // Samples `store` at the i-th point: true if the sample is exactly what one of the volumes
    // gives, never a mixture or garbage.
    bool sampleMatchesAVolume(const VoxelVolume& store, std::size_t i) const {
        const Point& p = points[i % points.size()];
        const VoxelSample s = store.sampleTrilinear(p[0], p[1], p[2]);
        return reference::sameBits(s, reference::sampleTrilinear(volumes[0], p[0], p[1], p[2])) ||
               reference::sameBits(s, reference::sampleTrilinear(volumes[1], p[0], p[1], p[2]));
    }

    // Loads the files into `store` in turn from `first` on, `rounds` times; returns the number
    // of loads that succeeded.
    int loadInTurn(VoxelVolume& store, std::size_t first, int rounds) const {
        int successfulLoads = 0;
        std::int32_t bytesRead = 0;
        for (int round = 0; round < rounds; ++round) {
            const std::string& path = paths[(first + static_cast<std::size_t>(round)) % 4];
            if (store.loadVolumeFile(path.c_str(), bytesRead) > 0) ++successfulLoads;
        }
        return successfulLoads;
    }

  private:
    static std::vector<Point> randomPoints() {
        std::vector<Point> result;
        std::mt19937 generator(5);
        std::uniform_real_distribution<float> unit(0.0f, 1.0f);
        for (int i = 0; i < 64; ++i)
            result.push_back({unit(generator), unit(generator), unit(generator)});
        return result;
    }
};

// Samplers run on `stores` in turn until `loading` is cleared.
class Samplers {
  public:
    Samplers(const LoadFiles& files, const std::vector<const VoxelVolume*>& stores, int count) {
        for (int t = 0; t < count; ++t) {
            threads_.emplace_back([&files, stores, t, this] {
                for (std::size_t i = static_cast<std::size_t>(t); running_.load(); ++i) {
                    if (!files.sampleMatchesAVolume(*stores[i % stores.size()], i)) ++bad_;
                    ++samples_;
                }
            });
        }
    }
    // Stops the samplers and waits for them.
    void stop() {
        running_ = false;
        for (auto& thread : threads_) thread.join();
        threads_.clear();
    }
    ~Samplers() { stop(); }
    long samples() const { return samples_.load(); }
    int badSamples() const { return bad_.load(); }

  private:
    std::atomic<bool> running_{true};
    std::atomic<int> bad_{0};
    std::atomic<long> samples_{0};
    std::vector<std::thread> threads_;
};

// Samplers run while another thread keeps replacing the volume with good and bad files.
TEST(Concurrency, SamplesDuringLoadsMatchAnInstalledVolume) {
    const LoadFiles files;
    VoxelVolume store;
    std::int32_t bytesRead = 0;
    ASSERT_EQ(store.loadVolumeFile(files.paths[0].c_str(), bytesRead), 4);

    Samplers samplers(files, {&store}, 3);
    const int successfulLoads = files.loadInTurn(store, 0, 24);
    samplers.stop();

    EXPECT_EQ(successfulLoads, 12);
    EXPECT_GT(samplers.samples(), 0);
    EXPECT_EQ(samplers.badSamples(), 0);
}

// Two stores load at once, so blocks one retires become the spare the other fills, while both
// are sampled: no sampler may ever read a block that a load is filling.
TEST(Concurrency, LoadsIntoTwoStoresAtOnceWhileBothAreSampled) {
    const LoadFiles files;
    std::array<VoxelVolume, 2> stores;
    std::int32_t bytesRead = 0;
    for (VoxelVolume& store : stores)
        ASSERT_EQ(store.loadVolumeFile(files.paths[0].c_str(), bytesRead), 4);

    Samplers samplers(files, {&stores[0], &stores[1]}, 2);
    std::array<int, 2> successfulLoads = {0, 0};
    std::vector<std::thread> loaders;
    for (std::size_t s = 0; s < stores.size(); ++s) {
        loaders.emplace_back(
            [&, s] { successfulLoads[s] = files.loadInTurn(stores[s], 2 * s, 24); });
    }
    for (auto& thread : loaders) thread.join();
    samplers.stop();

    EXPECT_EQ(successfulLoads[0], 12);
    EXPECT_EQ(successfulLoads[1], 12);
    EXPECT_GT(samplers.samples(), 0);
    EXPECT_EQ(samplers.badSamples(), 0);
}

}  // namespace
