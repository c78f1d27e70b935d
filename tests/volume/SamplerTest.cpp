#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "ReferenceSampler.h"
#include "SampleAssertions.h"
#include "VolumeFiles.h"
#include "VoxelVolume.h"

namespace {

// A store loaded from a file written with `body`, plus the same voxels for the reference.
struct LoadedVolume {
    explicit LoadedVolume(std::vector<unsigned char> body, std::int32_t channels)
        : voxels{std::move(body), channels} {
        testfiles::VolumeHeaderFields fields;
        fields.channelCount = channels;
        const auto path = folder.file("volume.vol");
        testfiles::writeBytes(path, testfiles::volumeBytes(fields, voxels.body));
        std::int32_t bytesRead = 0;
        loadResult = store.loadVolumeFile(path.string().c_str(), bytesRead);
    }
    testfiles::ScratchFolder folder;
    reference::Volume voxels;
    VoxelVolume store;
    VolumeLoadResult loadResult = 0;
};

std::vector<unsigned char> filledBody(std::int32_t channels, unsigned char value) {
    return std::vector<unsigned char>(
        std::size_t{128} * 128 * 128 * static_cast<std::size_t>(channels), value);
}

TEST(Sampler, SingleRedVoxelAtTheOrigin) {
    auto body = filledBody(4, 0);
    body[0] = 255;
    LoadedVolume volume(std::move(body), 4);
    ASSERT_EQ(volume.loadResult, 4);
    const float half = 0.5f / 128;
    EXPECT_TRUE(bitsEqual(volume.store.sampleTrilinear(half, half, half), {0.125f, 0, 0, 0}));
    EXPECT_TRUE(bitsEqual(volume.store.sampleTrilinear(127.5f / 128, 0, 0), {0.5f, 0, 0, 0}));
    EXPECT_TRUE(bitsEqual(volume.store.sampleTrilinear(0, 0, 0), {1, 0, 0, 0}));
    EXPECT_TRUE(bitsEqual(volume.store.sampleTrilinear(1, 1, 1), {1, 0, 0, 0}));
}

TEST(Sampler, LatticeCoordinatesReturnVoxelsWithoutBlending) {
    LoadedVolume volume(testfiles::randomBody(4, 21), 4);
    ASSERT_EQ(volume.loadResult, 4);
    const auto& voxels = volume.voxels;
    EXPECT_TRUE(
        bitsEqual(volume.store.sampleTrilinear(0, 0, 0), reference::voxelAt(voxels, 0, 0, 0)));
    EXPECT_TRUE(bitsEqual(volume.store.sampleTrilinear(5.0f / 128, 9.0f / 128, 100.0f / 128),
                          reference::voxelAt(voxels, 5, 9, 100)));
    EXPECT_TRUE(bitsEqual(volume.store.sampleTrilinear(1.0f, 3.0f / 128, 1.0f),
                          reference::voxelAt(voxels, 0, 3, 0)));
    const VoxelSample halfway = VoxelVolume::lerpSample(reference::voxelAt(voxels, 127, 0, 0),
                                                        reference::voxelAt(voxels, 0, 0, 0), 0.5f);
    EXPECT_TRUE(bitsEqual(volume.store.sampleTrilinear(127.5f / 128, 0, 0), halfway));
}

TEST(Sampler, UniformVolumes) {
    struct Case {
        std::int32_t channels;
        unsigned char value;
        VoxelSample expected;
    };
    for (const Case& c : {Case{4, 255, {1, 1, 1, 1}}, Case{3, 255, {1, 1, 1, 1}},
                          Case{4, 0, {0, 0, 0, 0}}, Case{3, 0, {0, 0, 0, 1}}}) {
        LoadedVolume volume(filledBody(c.channels, c.value), c.channels);
        ASSERT_EQ(volume.loadResult, c.channels);
        for (float u : {0.0f, 0.123f, 0.5f, 0.999f, 1.0f}) {
            EXPECT_TRUE(bitsEqual(volume.store.sampleTrilinear(u, 1 - u, u * u), c.expected))
                << "channels " << c.channels << " value " << int(c.value) << " u " << u;
        }
    }
}

// Random points and points one ulp either side of every lattice plane, against the
// transcription of the algorithm, for every channel layout.
TEST(Sampler, MatchesTheReferenceBitForBit) {
    for (std::int32_t channels : {3, 4, 5}) {
        LoadedVolume volume(testfiles::randomBody(channels, 40u + static_cast<unsigned>(channels)),
                            channels);
        ASSERT_EQ(volume.loadResult, channels);
        std::mt19937 generator(1234);
        std::uniform_real_distribution<float> unit(0.0f, 1.0f);
        int mismatches = 0;
        const auto check = [&](float u, float v, float w) {
            if (!reference::sameBits(volume.store.sampleTrilinear(u, v, w),
                                     reference::sampleTrilinear(volume.voxels, u, v, w)))
                ++mismatches;
        };
        for (int i = 0; i < 100000; ++i) check(unit(generator), unit(generator), unit(generator));
        for (int k = 0; k <= 128; ++k) {
            const float plane = static_cast<float>(k) / 128;
            for (float u : {std::nextafter(plane, 0.0f), plane, std::nextafter(plane, 1.0f)}) {
                if (u < 0 || u > 1) continue;
                check(u, unit(generator), unit(generator));
                check(unit(generator), u, unit(generator));
                check(unit(generator), unit(generator), u);
            }
        }
        check(std::numeric_limits<float>::denorm_min(), 0.5f, std::nextafter(1.0f, 0.0f));
        EXPECT_EQ(mismatches, 0) << "channels " << channels;
    }
}

TEST(Sampler, LerpSampleRoundsOnceFromDouble) {
    std::mt19937 generator(77);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int i = 0; i < 10000; ++i) {
        const VoxelSample a{unit(generator), unit(generator), unit(generator), unit(generator)};
        const VoxelSample b{unit(generator), unit(generator), unit(generator), unit(generator)};
        const float t = unit(generator);
        ASSERT_TRUE(bitsEqual(VoxelVolume::lerpSample(a, b, t), reference::lerp(a, b, t)));
    }
}

TEST(Sampler, VoxelIndicesWrapAtTheGridSize) {
    LoadedVolume volume(testfiles::randomBody(4, 8), 4);
    ASSERT_EQ(volume.loadResult, 4);
    EXPECT_TRUE(
        bitsEqual(volume.store.voxelAt(128, 5, 128), reference::voxelAt(volume.voxels, 0, 5, 0)));
    EXPECT_TRUE(
        bitsEqual(volume.store.voxelAt(127, 128, 1), reference::voxelAt(volume.voxels, 127, 0, 1)));
}

// Outside [0, 1] coordinates repeat with period 1; non-finite ones sample as 0.
TEST(Sampler, CoordinatesOutsideTheUnitCubeWrap) {
    LoadedVolume volume(testfiles::randomBody(4, 9), 4);
    ASSERT_EQ(volume.loadResult, 4);
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        float outside;
        float inside;
    };
    for (const Case& c :
         {Case{1.25f, 0.25f}, Case{-0.25f, 0.75f}, Case{7.5f, 0.5f}, Case{-3.0f, 0.0f},
          Case{1e30f, 0.0f}, Case{-1e30f, 0.0f}, Case{-1e-30f, 1.0f}, Case{inf, 0.0f},
          Case{-inf, 0.0f}, Case{nan, 0.0f}}) {
        EXPECT_TRUE(bitsEqual(volume.store.sampleTrilinear(c.outside, 0.3f, 0.6f),
                              volume.store.sampleTrilinear(c.inside, 0.3f, 0.6f)))
            << c.outside;
        EXPECT_TRUE(bitsEqual(volume.store.sampleTrilinear(0.6f, 0.3f, c.outside),
                              volume.store.sampleTrilinear(0.6f, 0.3f, c.inside)))
            << c.outside;
    }
}

// Both batch forms give each point's own sample, in and outside the unit cube, over more points
// than one slice of the interleaved form; an empty store gives transparent black.
TEST(Sampler, BatchesGiveEachPointsSample) {
    std::mt19937 generator(31);
    std::uniform_real_distribution<float> wide(-3.0f, 3.0f);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<TexturePoint> points;
    for (int i = 0; i < 700; ++i)
        points.push_back({wide(generator), wide(generator), wide(generator)});
    points[5].v = nan;
    points[300].w = -std::numeric_limits<float>::infinity();
    std::vector<float> u, v, w;
    for (const TexturePoint& p : points) {
        u.push_back(p.u);
        v.push_back(p.v);
        w.push_back(p.w);
    }
    for (std::int32_t channels : {0, 3, 4, 5}) {
        const VoxelVolume empty;
        std::unique_ptr<LoadedVolume> loaded;
        if (channels > 0) {
            loaded = std::make_unique<LoadedVolume>(testfiles::randomBody(channels, 60u), channels);
            ASSERT_EQ(loaded->loadResult, channels);
        }
        const VoxelVolume& store = loaded ? loaded->store : empty;
        std::vector<float> r(points.size()), g(points.size()), b(points.size()), a(points.size());
        store.sampleTrilinearBatch(points.size(), u.data(), v.data(), w.data(), r.data(), g.data(),
                                   b.data(), a.data());
        std::vector<VoxelSample> samples(points.size());
        store.sampleTrilinearBatch(points.size(), points.data(), samples.data());
        store.sampleTrilinearBatch(0, nullptr, nullptr);
        int mismatches = 0;
        for (std::size_t i = 0; i < points.size(); ++i) {
            const VoxelSample expected =
                store.sampleTrilinear(points[i].u, points[i].v, points[i].w);
            if (!bitsEqual({r[i], g[i], b[i], a[i]}, expected) || !bitsEqual(samples[i], expected))
                ++mismatches;
        }
        EXPECT_EQ(mismatches, 0) << "channels " << channels;
    }
}

TEST(Sampler, EmptyStoreIsTransparentBlack) {
    VoxelVolume store;
    EXPECT_FALSE(store.hasVolume());
    EXPECT_TRUE(bitsEqual(store.sampleTrilinear(0.5f, 0.25f, 1.0f), {0, 0, 0, 0}));
    EXPECT_TRUE(bitsEqual(store.voxelAt(3, 4, 5), {0, 0, 0, 0}));
}

}  // namespace
