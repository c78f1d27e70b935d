#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "ReferenceSampler.h"
#include "SamplerKernels.h"
#include "VolumeFiles.h"

namespace {

using Point = std::array<float, 3>;

// Points inside the unit cube where rounding is most delicate: random ones, and ones on and a
// single ulp either side of every lattice plane along each axis, including the far corner
// record that ends the block.
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

// Every kernel this processor runs must give the reference's bits, for every record layout;
// the block carries the padding the store gives it, so reads past it are caught by ASan.
TEST(SamplerKernels, EveryKernelMatchesTheReference) {
    const std::vector<Point> points = delicatePoints();
    for (std::int32_t channels : {3, 4, 5}) {
        reference::Volume volume{testfiles::randomBody(channels, 300u + unsigned(channels)),
                                 channels};
        volume.body.resize(volume.body.size() + samplerkernels::kTrailingPadding, 0xFF);
        for (const samplerkernels::Kernel& kernel : samplerkernels::usableKernels()) {
            int mismatches = 0;
            for (const Point& p : points) {
                const VoxelSample expected = reference::sampleTrilinear(volume, p[0], p[1], p[2]);
                const VoxelSample actual =
                    kernel.forRecordSize(channels)(volume.body.data(), channels, p[0], p[1], p[2]);
                if (reference::sameBits(actual, expected)) continue;
                if (++mismatches <= 3) {
                    ADD_FAILURE() << kernel.name << " channels " << channels << " at (" << p[0]
                                  << ", " << p[1] << ", " << p[2] << "): " << describe(actual)
                                  << " expected " << describe(expected);
                }
            }
            EXPECT_EQ(mismatches, 0) << kernel.name << " channels " << channels;
        }
    }
}

// Outside the unit cube each axis repeats with period 1 and non-finite coordinates sample as 0,
// one axis at a time and all at once, so the vector kernels' shared wrap check is exercised.
TEST(SamplerKernels, EveryKernelWrapsCoordinates) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        float outside;
        float inside;
    };
    const Case cases[] = {{1.25f, 0.25f}, {-0.25f, 0.75f}, {7.5f, 0.5f}, {-3.0f, 0.0f},
                          {1e30f, 0.0f},  {-1e-30f, 1.0f}, {inf, 0.0f},  {-inf, 0.0f},
                          {nan, 0.0f},    {-nan, 0.0f},    {2.0f, 0.0f}, {-0.0f, 0.0f}};
    reference::Volume volume{testfiles::randomBody(4, 17), 4};
    for (const samplerkernels::Kernel& kernel : samplerkernels::usableKernels()) {
        for (const Case& c : cases) {
            const Point base = {0.3f, 0.6f, 0.9f};
            for (int axes = 1; axes < 8; ++axes) {
                Point outside = base;
                Point inside = base;
                for (int axis = 0; axis < 3; ++axis) {
                    if ((axes >> axis & 1) == 0) continue;
                    outside[std::size_t(axis)] = c.outside;
                    inside[std::size_t(axis)] = c.inside;
                }
                const VoxelSample actual = kernel.forRecordSize(4)(
                    volume.body.data(), 4, outside[0], outside[1], outside[2]);
                const VoxelSample expected =
                    reference::sampleTrilinear(volume, inside[0], inside[1], inside[2]);
                EXPECT_TRUE(reference::sameBits(actual, expected))
                    << kernel.name << " outside " << c.outside << " axes " << axes << ": "
                    << describe(actual) << " expected " << describe(expected);
            }
        }
    }
}

}  // namespace
