#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "BatchKernels.h"
#include "ReferenceSampler.h"
#include "SamplerKernels.h"
#include "VolumeFiles.h"

namespace {

using Point = std::array<float, 3>;

// Points inside the unit cube where rounding is most delicate: random ones, ones on and a
// single ulp either side of every lattice plane along each axis, a walk of close neighbours, and
// the far corner record that ends the block.
std::vector<Point> delicatePoints() {
    std::mt19937 generator(99);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::vector<Point> points;
    for (int i = 0; i < 50000; ++i)
        points.push_back({unit(generator), unit(generator), unit(generator)});
    for (int k = 0; k <= 128; ++k) {
        const float plane = static_cast<float>(k) / 128;
        for (float c : {std::nextafter(plane, 0.0f), plane, std::nextafter(plane, 1.0f)}) {
            if (c < 0 || c > 1) continue;
            points.push_back({c, unit(generator), unit(generator)});
            points.push_back({unit(generator), c, unit(generator)});
            points.push_back({unit(generator), unit(generator), c});
        }
    }
    // A walk a fraction of a voxel per step, as a render visits its points: runs of points share
    // a cell, and the runs end on every axis in turn.
    for (int i = 0; i < 4000; ++i) {
        const double step = i / 128.0;
        points.push_back({static_cast<float>(std::fmod(0.37 + 0.3 * step, 1.0)),
                          static_cast<float>(std::fmod(0.81 + 0.13 * step, 1.0)),
                          static_cast<float>(std::fmod(0.05 + 0.07 * step, 1.0))});
    }
    // Walks about an eighth of a voxel per step, as a picture's neighbouring points lie, so that
    // vector kernels see groups within a few cells: spread along one, two or three axes, from
    // the last planes on every axis through the wrap.
    const float walks[][3] = {{0.1f, 0.02f, -0.02f}, {0.12f, 0.0f, 0.02f}, {-0.11f, 0.06f, 0.0f},
                              {0.19f, 0.15f, 0.0f},  {0.0f, 0.1f, -0.1f},  {0.05f, 0.0f, -0.15f},
                              {0.22f, 0.0f, 0.01f},  {0.42f, 0.0f, 0.0f},  {0.3f, 0.2f, 0.1f}};
    for (const auto& voxelsPerStep : walks) {
        for (int i = 0; i < 1500; ++i) {
            Point p;
            for (std::size_t axis = 0; axis < 3; ++axis) {
                const float c = 0.95f + 0.02f * float(axis) + voxelsPerStep[axis] * float(i) / 128;
                p[axis] = c - std::floor(c);
            }
            points.push_back(p);
        }
    }
    // Coordinates just above 0 and just below the first plane, one or two axes at a time: weights
    // so small that blends of zero and nonzero records fall below the smallest normal float, or
    // whose complement 1 - t is not exact in float, or so close to 1 that blends of nearly full
    // records end just below 1.
    const float edgeCoordinates[] = {0x1.3p-40f,
                                     0x1.8p-32f,
                                     0x1.7p-62f,
                                     0x1.5p-75f,
                                     0x1.1p-130f,
                                     3 * std::numeric_limits<float>::denorm_min(),
                                     std::nextafter(1.0f / 128, 0.0f)};
    // Runs of 24 alike, each followed by 24 ordinary points, so that vector kernels see whole
    // groups of eight of one kind and, side by side, groups of both kinds in either order; the
    // other axes anywhere, or on lattice planes, where nothing blends such a value away.
    std::uniform_int_distribution<int> planes(0, 127);
    const auto plane = [&] { return static_cast<float>(planes(generator)) / 128; };
    const auto addRun = [&](auto point) {
        for (int i = 0; i < 24; ++i) points.push_back(point());
        for (int i = 0; i < 24; ++i) {
            points.push_back({unit(generator), unit(generator), unit(generator)});
        }
    };
    for (float a : edgeCoordinates) {
        addRun([&]() -> Point { return {a, unit(generator), unit(generator)}; });
        addRun([&]() -> Point { return {unit(generator), a, unit(generator)}; });
        addRun([&]() -> Point { return {a, plane(), plane()}; });
        addRun([&]() -> Point { return {plane(), a, plane()}; });
        // Neighbouring points, each a sixteenth of a voxel further along y.
        float along = 0.25f;
        addRun([&]() -> Point { return {a, along += 1.0f / 2048, 0.5f}; });
        for (float b : edgeCoordinates) addRun([&]() -> Point { return {a, b, unit(generator)}; });
    }
    const float last = 127.0f / 128;
    points.push_back({last, last, last});
    points.push_back({std::nextafter(last, 1.0f), last, std::nextafter(1.0f, 0.0f)});
    points.push_back({std::numeric_limits<float>::denorm_min(), 0.5f, 1.0f});
    return points;
}

std::string describe(const VoxelSample& s) {
    char text[128];
    std::snprintf(text, sizeof text, "(%a, %a, %a, %a)", double(s.r), double(s.g), double(s.b),
                  double(s.a));
    return text;
}

// A volume of random records with the padding the store gives a block, so reads past it are
// caught by ASan.
reference::Volume paddedVolume(std::int32_t channels, unsigned seed) {
    reference::Volume volume{testfiles::randomBody(channels, seed), channels};
    volume.body.resize(volume.body.size() + std::max(samplerkernels::kTrailingPadding,
                                                     batchkernels::kTrailingPadding),
                       0xFF);
    return volume;
}

// Mostly empty records, the rest nearly full (252 to 255): blends with weights near 0 or 1 then
// give values just above 0 and just below 1.
reference::Volume sparseVolume(std::int32_t channels, unsigned seed) {
    reference::Volume volume = paddedVolume(channels, seed);
    for (unsigned char& byte : volume.body) byte = byte < 192 ? 0 : 255 - byte % 4;
    return volume;
}

// `count` points from `points` through a batch kernel. Each output column has guard values past
// its end, which must survive.
std::vector<VoxelSample> sampleInBatch(batchkernels::BatchFunction kernel,
                                       const reference::Volume& volume, const Point* points,
                                       std::size_t count) {
    constexpr std::size_t kGuard = 17;
    constexpr float kUntouched = -7.0f;
    std::vector<float> in[3];
    for (std::size_t axis = 0; axis < 3; ++axis) {
        for (std::size_t i = 0; i < count; ++i) in[axis].push_back(points[i][axis]);
    }
    std::vector<float> out[4];
    for (auto& column : out) column.assign(count + kGuard, kUntouched);
    kernel(volume.body.data(), volume.channelCount, count, in[0].data(), in[1].data(), in[2].data(),
           out[0].data(), out[1].data(), out[2].data(), out[3].data());
    std::vector<VoxelSample> samples;
    for (std::size_t i = 0; i < count; ++i)
        samples.push_back({out[0][i], out[1][i], out[2][i], out[3][i]});
    for (const auto& column : out) {
        for (std::size_t i = count; i < count + kGuard; ++i) {
            if (column[i] != kUntouched) {
                ADD_FAILURE() << "a batch of " << count << " wrote past its end";
                break;
            }
        }
    }
    return samples;
}

// The samples every kernel gives at `points`: per-point kernels one point at a time, batch
// kernels all points in one batch.
std::vector<std::pair<std::string, std::vector<VoxelSample>>> everyKernelsSamples(
    const reference::Volume& volume, const std::vector<Point>& points) {
    const std::int32_t channels = volume.channelCount;
    std::vector<std::pair<std::string, std::vector<VoxelSample>>> results;
    for (const samplerkernels::Kernel& kernel : samplerkernels::usableKernels()) {
        auto& samples = results.emplace_back(kernel.name, std::vector<VoxelSample>()).second;
        for (const Point& p : points) {
            samples.push_back(
                kernel.forRecordSize(channels)(volume.body.data(), channels, p[0], p[1], p[2]));
        }
    }
    for (const batchkernels::BatchKernel& kernel : batchkernels::usableBatchKernels()) {
        results.emplace_back(
            std::string("batch ") + kernel.name,
            sampleInBatch(kernel.forRecordSize(channels), volume, points.data(), points.size()));
    }
    return results;
}

// Every kernel's samples at `points` must be the reference's at `equivalents` (the same points,
// wrapped into the unit cube where they lie outside).
void expectEveryKernelMatches(const reference::Volume& volume, const std::vector<Point>& points,
                              const std::vector<Point>& equivalents) {
    for (const auto& [name, samples] : everyKernelsSamples(volume, points)) {
        int mismatches = 0;
        for (std::size_t i = 0; i < points.size(); ++i) {
            const Point& p = equivalents[i];
            const VoxelSample expected = reference::sampleTrilinear(volume, p[0], p[1], p[2]);
            if (reference::sameBits(samples[i], expected) || ++mismatches > 3) continue;
            ADD_FAILURE() << name << " channels " << volume.channelCount << " at (" << points[i][0]
                          << ", " << points[i][1] << ", " << points[i][2]
                          << "): " << describe(samples[i]) << " expected " << describe(expected);
        }
        EXPECT_EQ(mismatches, 0) << name << " channels " << volume.channelCount;
    }
}

// Every kernel this processor runs must give the reference's bits, for every record layout and
// for random and mostly empty volumes; the block carries the padding the store gives it, so reads
// past it are caught by ASan.
TEST(SamplerKernels, EveryKernelMatchesTheReference) {
    const std::vector<Point> points = delicatePoints();
    for (std::int32_t channels : {3, 4, 5}) {
        expectEveryKernelMatches(paddedVolume(channels, 300u + unsigned(channels)), points, points);
        expectEveryKernelMatches(sparseVolume(channels, 400u + unsigned(channels)), points, points);
    }
}

// A batch of any length gives, point for point, what the per-point kernel gives: lengths below,
// at and past every vector width, and long ones, each from its own place among the delicate
// points.
TEST(SamplerKernels, EveryBatchLengthMatchesThePerPointKernel) {
    const std::vector<Point> points = delicatePoints();
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= 300; ++n) lengths.push_back(n);
    for (std::size_t n : {1023u, 4096u, 4103u, 40000u}) lengths.push_back(n);
    for (std::int32_t channels : {3, 4, 5}) {
        const reference::Volume volume = paddedVolume(channels, 70u + unsigned(channels));
        const samplerkernels::SampleFunction perPoint = samplerkernels::fastestKernel(channels);
        for (const batchkernels::BatchKernel& kernel : batchkernels::usableBatchKernels()) {
            int mismatches = 0;
            for (std::size_t length : lengths) {
                const std::size_t first = (length * 131) % (points.size() - length);
                const std::vector<VoxelSample> samples = sampleInBatch(
                    kernel.forRecordSize(channels), volume, points.data() + first, length);
                for (std::size_t i = 0; i < length; ++i) {
                    const Point& p = points[first + i];
                    const VoxelSample expected =
                        perPoint(volume.body.data(), channels, p[0], p[1], p[2]);
                    if (!reference::sameBits(samples[i], expected) && ++mismatches <= 3) {
                        ADD_FAILURE() << kernel.name << " channels " << channels << " length "
                                      << length << " point " << i << ": " << describe(samples[i])
                                      << " expected " << describe(expected);
                    }
                }
            }
            EXPECT_EQ(mismatches, 0) << kernel.name << " channels " << channels;
        }
    }
}

// Outside the unit cube each axis repeats with period 1 and non-finite coordinates sample as 0,
// one axis at a time and all at once, so the vector kernels' shared wrap check is exercised;
// batch kernels get all such points in one batch, so vectors mix wrapped and plain lanes.
TEST(SamplerKernels, EveryKernelWrapsCoordinates) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float tiny = std::numeric_limits<float>::denorm_min();
    struct Case {
        float outside;
        float inside;
    };
    const Case cases[] = {{1.25f, 0.25f},
                          {-0.25f, 0.75f},
                          {7.5f, 0.5f},
                          {-3.0f, 0.0f},
                          {1e30f, 0.0f},
                          {-1e-30f, 1.0f},
                          {inf, 0.0f},
                          {-inf, 0.0f},
                          {nan, 0.0f},
                          {-nan, 0.0f},
                          {2.0f, 0.0f},
                          {-0.0f, 0.0f},
                          {-tiny, 1.0f},
                          {1.0f, 0.0f},
                          {-1.0f, 0.0f},
                          {8388609.0f, 0.0f},
                          {-8388607.5f, 0.5f},
                          {-2.5e9f, 0.0f},
                          {3.0f + 0.5f / 128, 0.5f / 128},
                          {-1.0f / 128, 127.0f / 128},
                          {-0.3f, 1.0f - 0.3f},
                          {-2.7f, 3.0f - 2.7f}};
    std::vector<Point> outside;
    std::vector<Point> inside;
    for (const Case& c : cases) {
        const Point base = {0.3f, 0.6f, 0.9f};
        for (int axes = 1; axes < 8; ++axes) {
            Point out = base;
            Point in = base;
            for (int axis = 0; axis < 3; ++axis) {
                if ((axes >> axis & 1) == 0) continue;
                out[std::size_t(axis)] = c.outside;
                in[std::size_t(axis)] = c.inside;
            }
            outside.push_back(out);
            inside.push_back(in);
        }
    }
    for (std::int32_t channels : {3, 4, 5}) {
        expectEveryKernelMatches(paddedVolume(channels, 17u + unsigned(channels)), outside, inside);
    }
}

}  // namespace
