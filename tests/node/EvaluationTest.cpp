#include <gtest/gtest.h>
#include <voxlumhost/Host.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "PluginFixture.h"
#include "ReferenceSampler.h"
#include "SampleAssertions.h"
#include "VolumeFiles.h"

namespace {

// The texture-space coordinate a placed coordinate samples: period 1, computed here
// independently of the node.
float wrapped(double coordinate) {
    double remainder = coordinate - std::floor(coordinate);
    return static_cast<float>(remainder);
}

class EvaluationTest : public PluginTest {
  protected:
    void loadVolume(std::int32_t channels) {
        volume_ = {testfiles::randomBody(channels, 90u + static_cast<unsigned>(channels)),
                   channels};
        testfiles::VolumeHeaderFields fields;
        fields.channelCount = channels;
        const auto path = folder_.file("volume.vol");
        testfiles::writeBytes(path, testfiles::volumeBytes(fields, volume_.body));
        node_ = createVoxlum();
        ASSERT_TRUE(mayahost::setString(node_, "fileTextureName", path.string()).ok);
    }

    VoxelSample evaluateAt(float x, float y, float z) {
        EXPECT_TRUE(mayahost::setFloat3(node_, "pointWorld", x, y, z).ok);
        MFloatVector color;
        float alpha = -1;
        EXPECT_TRUE(mayahost::getFloat3(node_, "outColor", color).ok);
        EXPECT_TRUE(mayahost::getFloat(node_, "outAlpha", alpha).ok);
        return {color.x, color.y, color.z, alpha};
    }

    VoxelSample expectedAt(double u, double v, double w) const {
        return reference::sampleTrilinear(volume_, wrapped(u), wrapped(v), wrapped(w));
    }

    testfiles::ScratchFolder folder_;
    reference::Volume volume_;
    mayahost::Node* node_ = nullptr;
};

TEST_F(EvaluationTest, IdentityPlacementRepeatsWithPeriodOne) {
    loadVolume(4);
    struct Case {
        float x, y, z;
        double u, v, w;
    };
    for (const Case& c :
         {Case{0.25f, 0.5f, 0.75f, 0.25, 0.5, 0.75}, Case{1.25f, -0.5f, 3.75f, 0.25, 0.5, 0.75},
          Case{-0.25f, 0.1f, 0.2f, 0.75, 0.1f, 0.2f}, Case{2.0f, -3.0f, 1.0f, 0.0, 0.0, 0.0},
          Case{0.999f, -0.001f, 17.5f, 0.999f, 1.0 - 0.001f, 0.5}}) {
        EXPECT_TRUE(bitsEqual(evaluateAt(c.x, c.y, c.z), expectedAt(c.u, c.v, c.w)))
            << c.x << ", " << c.y << ", " << c.z;
    }
}

// Coordinates of every magnitude, from subnormals to beyond 2^24, both signs, integers and
// the floats next to them: the node's wrap must give exactly the remainder fmod gives.
TEST_F(EvaluationTest, WrapEqualsTheRemainderOfFmodForEveryMagnitude) {
    loadVolume(4);
    const auto fmodWrap = [](float c) {
        float remainder = static_cast<float>(std::fmod(static_cast<double>(c), 1.0));
        if (remainder < 0.0f) remainder = static_cast<float>(remainder + 1.0);
        return remainder;
    };
    std::vector<float> coordinates = {-0.0f,
                                      1e-45f,
                                      -1e-45f,
                                      -1e-30f,
                                      -0x1p-25f,
                                      -0x1p-24f,
                                      std::nextafter(-1.0f, 0.0f),
                                      -1.0f,
                                      1.0f,
                                      0x1p23f + 1,
                                      -(0x1p23f + 0.5f),
                                      0x1p24f,
                                      -3e38f,
                                      1e30f};
    std::mt19937 generator(21);
    std::uniform_int_distribution<int> exponent(-40, 30);
    std::uniform_real_distribution<float> mantissa(-2.0f, 2.0f);
    for (int i = 0; i < 300; ++i) {
        const float c = std::ldexp(mantissa(generator), exponent(generator));
        coordinates.insert(coordinates.end(), {c, std::nextafter(std::round(c), 0.0f)});
    }
    for (std::size_t i = 0; i + 2 < coordinates.size(); ++i) {
        const float x = coordinates[i], y = coordinates[i + 1], z = coordinates[i + 2];
        const VoxelSample expected =
            reference::sampleTrilinear(volume_, fmodWrap(x), fmodWrap(y), fmodWrap(z));
        ASSERT_TRUE(bitsEqual(evaluateAt(x, y, z), expected)) << x << ", " << y << ", " << z;
    }
}

// Infinity times the placement's zeros is NaN, so one non-finite coordinate makes the whole
// placed point NaN, which samples like the lattice's origin rather than failing.
TEST_F(EvaluationTest, APointWithANonFiniteCoordinateSamplesTheOrigin) {
    loadVolume(4);
    constexpr float kInfinity = std::numeric_limits<float>::infinity();
    constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
    const float points[][3] = {{kInfinity, 0.25f, 0.5f},
                               {0.25f, -kInfinity, 0.5f},
                               {0.25f, 0.5f, kNaN},
                               {-kNaN, kInfinity, -kInfinity}};
    const VoxelSample origin = reference::sampleTrilinear(volume_, 0.0f, 0.0f, 0.0f);
    for (const auto& p : points) {
        EXPECT_TRUE(bitsEqual(evaluateAt(p[0], p[1], p[2]), origin))
            << p[0] << ", " << p[1] << ", " << p[2];
    }
}

TEST_F(EvaluationTest, PlacementMatrixMultipliesThePointAsARowVector) {
    loadVolume(4);
    MFloatMatrix translation;
    translation(3, 0) = 0.5f;
    ASSERT_TRUE(mayahost::setMatrix(node_, "placementMatrix", translation).ok);
    EXPECT_TRUE(bitsEqual(evaluateAt(0.25f, 0, 0), expectedAt(0.75, 0, 0)));

    // Scales by powers of two, a swap of x and y and dyadic translations: every product and
    // sum is exact, so the expected coordinate does not depend on the order of operations.
    float rows[4][4] = {{0, 2, 0, 0}, {0.5f, 0, 0, 0}, {0, 0, -4, 0}, {0.125f, 0.25f, 3, 1}};
    ASSERT_TRUE(mayahost::setMatrix(node_, "placementMatrix", MFloatMatrix(rows)).ok);
    std::mt19937 generator(8);
    std::uniform_int_distribution<int> sixteenths(-64, 64);
    for (int i = 0; i < 200; ++i) {
        const double x = sixteenths(generator) / 16.0 + 1.0 / 1024;
        const double y = sixteenths(generator) / 16.0;
        const double z = sixteenths(generator) / 16.0;
        const VoxelSample got =
            evaluateAt(static_cast<float>(x), static_cast<float>(y), static_cast<float>(z));
        ASSERT_TRUE(bitsEqual(got, expectedAt(0.5 * y + 0.125, 2 * x + 0.25, -4 * z + 3)))
            << x << ", " << y << ", " << z;
    }
}

TEST_F(EvaluationTest, ThreeChannelVolumesAreOpaque) {
    loadVolume(3);
    for (float x : {0.0f, 0.3f, 0.77f, 5.5f}) EXPECT_EQ(evaluateAt(x, x / 2, -x).a, 1.0f);
}

TEST_F(EvaluationTest, EveryOutputPlugAndComponentComputes) {
    loadVolume(4);
    ASSERT_TRUE(mayahost::setFloat3(node_, "pointWorld", 0.6f, 0.7f, 0.8f).ok);
    const VoxelSample expected = expectedAt(0.6f, 0.7f, 0.8f);
    for (const char* plug : {"outColorR", "outColorG", "outColorB", "outAlpha", "outColor"}) {
        MStatus status;
        ASSERT_TRUE(mayahost::computePlug(node_, plug, status).ok) << plug;
        EXPECT_EQ(status, MS::kSuccess) << plug;
    }
    const std::pair<const char*, float> components[] = {{"outColorR", expected.r},
                                                        {"outColorG", expected.g},
                                                        {"outColorB", expected.b},
                                                        {"outAlpha", expected.a}};
    for (const auto& [plug, value] : components) {
        ASSERT_TRUE(mayahost::setFloat3(node_, "pointWorld", 0.6f, 0.7f, 0.8f).ok);
        float got = -1;
        ASSERT_TRUE(mayahost::getFloat(node_, plug, got).ok);
        EXPECT_EQ(got, value) << plug;
        // Whichever output was asked for, both were written and are clean.
        for (const char* other : {"outColor", "outAlpha"}) {
            bool dirty = true;
            ASSERT_TRUE(mayahost::isDirty(node_, other, dirty).ok);
            EXPECT_FALSE(dirty) << plug << " left " << other << " dirty";
        }
    }
}

TEST_F(EvaluationTest, InputPlugsAreRefusedAndWriteNothing) {
    loadVolume(4);
    ASSERT_TRUE(mayahost::setFloat3(node_, "pointWorld", 0.6f, 0.7f, 0.8f).ok);
    for (const char* plug :
         {"pointWorld", "pointWorldX", "placementMatrix", "fileTextureName", "fileHasAlpha"}) {
        MStatus status;
        ASSERT_TRUE(mayahost::computePlug(node_, plug, status).ok) << plug;
        EXPECT_EQ(status, MS::kUnknownParameter) << plug;
        bool dirty = false;
        ASSERT_TRUE(mayahost::isDirty(node_, "outColor", dirty).ok);
        EXPECT_TRUE(dirty) << plug;
    }
}

TEST_F(EvaluationTest, FileHasAlphaChangesNoOutput) {
    loadVolume(4);
    const VoxelSample before = evaluateAt(0.1f, 0.2f, 0.3f);
    ASSERT_TRUE(mayahost::setBool(node_, "fileHasAlpha", true).ok);
    EXPECT_TRUE(bitsEqual(evaluateAt(0.1f, 0.2f, 0.3f), before));
}

TEST_F(PluginTest, NodeWithoutVolumeIsTransparentBlack) {
    mayahost::Node* node = createVoxlum();
    ASSERT_TRUE(mayahost::setFloat3(node, "pointWorld", 0.3f, 0.2f, 0.1f).ok);
    MFloatVector color(1, 1, 1);
    float alpha = 1;
    ASSERT_TRUE(mayahost::getFloat3(node, "outColor", color).ok);
    ASSERT_TRUE(mayahost::getFloat(node, "outAlpha", alpha).ok);
    EXPECT_TRUE(color.x == 0 && color.y == 0 && color.z == 0 && alpha == 0);
}

}  // namespace
