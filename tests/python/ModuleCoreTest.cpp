// The Python module's C++ side held against the node in the stand-in host and against the
// store's scalar sampler: refused files give the node's words, samples the node's bits.
#include <gtest/gtest.h>
#include <maya/MFloatMatrix.h>
#include <voxlumhost/Host.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "ModuleCore.h"
#include "PluginFixture.h"
#include "SampleAssertions.h"
#include "VolumeFiles.h"

namespace {

namespace fs = std::filesystem;

constexpr float kInfinity = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

std::vector<unsigned char> volumeOf(std::int32_t channels, std::uint32_t seed) {
    testfiles::VolumeHeaderFields fields;
    fields.channelCount = channels;
    return testfiles::volumeBytes(fields, testfiles::randomBody(channels, seed));
}

struct RefusedCase {
    const char* label;
    std::string fileName;  // in the test's folder; empty: the empty name
    std::function<void(const fs::path&)> make;
    std::optional<VolumeLoadResult> code;
};

void PrintTo(const RefusedCase& c, std::ostream* out) { *out << c.label; }

std::function<void(const fs::path&)> holding(std::vector<unsigned char> bytes) {
    return [bytes](const fs::path& path) { testfiles::writeBytes(path, bytes); };
}

std::function<void(const fs::path&)> holdingHeader(testfiles::VolumeHeaderFields fields) {
    return holding(testfiles::headerBytes(fields));
}

std::function<void(const fs::path&)> cutTo(std::size_t length) {
    std::vector<unsigned char> bytes = volumeOf(4, 3);
    bytes.resize(length);
    return holding(bytes);
}

const auto nothing = [](const fs::path&) {};

class RefusedFile : public PluginTest, public testing::WithParamInterface<RefusedCase> {
  protected:
    testfiles::ScratchFolder folder_;
};

// Each file is set on a node and read by the module: the node's one error line is the refusal's
// text, whatever the reason, and the refusal carries the loader's code.
TEST_P(RefusedFile, TheModuleRefusesInTheNodesWords) {
    const RefusedCase& c = GetParam();
    const std::string path = c.fileName.empty() ? "" : folder_.file(c.fileName).string();
    c.make(path);
    mayahost::Node* node = createVoxlum();
    mayahost::clearMessages();
    mayahost::setString(node, "fileTextureName", path);
    const std::vector<std::string> shown = messageTexts(mayahost::MessageKind::Error);
    ASSERT_EQ(shown.size(), 1u);
    try {
        const voxlumpy::LoadedVolume loaded(path);
        FAIL() << "the module read what the node refuses";
    } catch (const voxlumpy::VolumeRefusal& refusal) {
        EXPECT_EQ(refusal.what(), shown.front());
        EXPECT_EQ(refusal.code(), c.code);
    }
}

using testfiles::VolumeHeaderFields;

INSTANTIATE_TEST_SUITE_P(
    EveryRefusal, RefusedFile,
    testing::Values(
        RefusedCase{"UpperCaseExtension", "cloud.VOL", holding(volumeOf(4, 1)), std::nullopt},
        RefusedCase{"ThreeCharacters", "vol", holding(volumeOf(4, 1)), std::nullopt},
        RefusedCase{"EmptyName", "", nothing, std::nullopt},
        RefusedCase{"MissingFile", "missing.vol", nothing, -1},
        RefusedCase{"Folder", "folder.vol",
                    [](const fs::path& path) { fs::create_directory(path); }, -1},
        RefusedCase{"EmptyFile", "empty.vol", holding({}), -4},
        RefusedCase{"WrongMagic", "magic.vol", holdingHeader({"VOLX", 4, 128, 4, 1}), -4},
        RefusedCase{"ShortHeader", "header.vol", cutTo(100), -5},
        RefusedCase{"WrongVersion", "version.vol", holdingHeader({"VOLU", 3, 128, 4, 1}), -6},
        RefusedCase{"WrongEncoding", "encoding.vol", holdingHeader({"VOLU", 4, 128, 4, 2}), -7},
        RefusedCase{"EdgeLength64", "edge.vol", holdingHeader({"VOLU", 4, 64, 4, 1}), -8},
        RefusedCase{"TwoChannels", "two.vol", holdingHeader({"VOLU", 4, 128, 2, 1}), -8},
        RefusedCase{"ShortBody", "body.vol", cutTo(4096 + 5000), -2},
        RefusedCase{"BodyOneByteShort", "byte.vol", cutTo(4096 + 128 * 128 * 128 * 4 - 1), -2}),
    [](const testing::TestParamInfo<RefusedCase>& testCase) {
        return std::string(testCase.param.label);
    });

// Coordinates of every kind: the lattice's planes and the floats beside them, whole numbers and
// large magnitudes that wrap, tiny negatives whose remainder plus 1 rounds to 1, non-finite.
std::vector<TexturePoint> testPoints() {
    std::vector<float> coordinates;
    for (int plane = 0; plane <= 128; ++plane) {
        const float c = static_cast<float>(plane) / 128.0f;
        coordinates.insert(coordinates.end(),
                           {c, std::nextafter(c, -1.0f), std::nextafter(c, 2.0f), c + 3.0f, -c});
    }
    coordinates.insert(coordinates.end(), {-1e-30f, -0x1p-25f, 0x1p23f + 1, -(0x1p23f + 0.5f),
                                           0x1p24f, -3e38f, 1e30f, kInfinity, -kInfinity, kNaN});
    std::mt19937 generator(31);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::vector<TexturePoint> points;
    for (float c : coordinates) {
        points.push_back({c, unit(generator), unit(generator)});
        points.push_back({unit(generator), c, unit(generator)});
        points.push_back({unit(generator), unit(generator), c});
    }
    std::shuffle(points.begin(), points.end(), generator);
    return points;
}

class ModuleSampling : public testing::TestWithParam<std::int32_t> {
  protected:
    void SetUp() override {
        testfiles::writeBytes(path_, volumeOf(GetParam(), 40));
        std::int32_t bytesRead = 0;
        ASSERT_EQ(store_.loadVolumeFile(path_.c_str(), bytesRead), GetParam());
    }
    testfiles::ScratchFolder folder_;
    std::string path_ = folder_.file("volume.vol").string();
    VoxelVolume store_;
};

// Every batch length from 0 to 300 points, each sample the store's scalar sample of its point.
TEST_P(ModuleSampling, EveryBatchLengthGivesTheScalarSamplersBits) {
    const voxlumpy::LoadedVolume loaded(path_);
    const std::vector<TexturePoint> points = testPoints();
    for (std::size_t count = 0; count <= 300; ++count) {
        std::vector<VoxelSample> samples(count);
        loaded.sample(count, points.data(), nullptr, samples.data());
        for (std::size_t i = 0; i < count; ++i) {
            const TexturePoint& p = points[i];
            ASSERT_TRUE(bitsEqual(samples[i], store_.sampleTrilinear(p.u, p.v, p.w)))
                << count << " points, point " << i << ": " << p.u << ", " << p.v << ", " << p.w;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(RgbAndRgba, ModuleSampling, testing::Values(3, 4));

using PlacedSampling = PluginTest;

// World points through a placement whose products and sums round, past one run of placed points,
// with non-finite coordinates among them: the module's samples are the node's outputs.
TEST_F(PlacedSampling, WorldPointsSampleAsTheNodeRendersThem) {
    testfiles::ScratchFolder folder;
    const std::string path = folder.file("volume.vol").string();
    testfiles::writeBytes(path, volumeOf(4, 41));
    float rows[4][4] = {{0.8f, -0.35f, 0.1f, 0},
                        {0.3f, 0.7f, -0.45f, 0},
                        {-0.2f, 0.4f, 0.9f, 0},
                        {0.125f, -1.3f, 2.7f, 1}};
    PlacementMatrix placement;
    for (std::size_t i = 0; i < placement.size(); ++i) placement[i] = rows[i / 4][i % 4];

    mayahost::Node* node = createVoxlum();
    ASSERT_TRUE(mayahost::setString(node, "fileTextureName", path).ok);
    ASSERT_TRUE(mayahost::setMatrix(node, "placementMatrix", MFloatMatrix(rows)).ok);

    std::mt19937 generator(42);
    std::uniform_real_distribution<float> world(-5.0f, 5.0f);
    std::vector<TexturePoint> points(2500);
    for (TexturePoint& p : points) p = {world(generator), world(generator), world(generator)};
    points[1100] = {kInfinity, 0.5f, 0.5f};
    points[2049] = {0.25f, kNaN, -kInfinity};

    const voxlumpy::LoadedVolume loaded(path);
    std::vector<VoxelSample> samples(points.size());
    loaded.sample(points.size(), points.data(), &placement, samples.data());
    for (std::size_t i = 0; i < points.size(); ++i) {
        const TexturePoint& p = points[i];
        ASSERT_TRUE(mayahost::setFloat3(node, "pointWorld", p.u, p.v, p.w).ok);
        MFloatVector colour;
        float alpha = -1;
        ASSERT_TRUE(mayahost::getFloat3(node, "outColor", colour).ok);
        ASSERT_TRUE(mayahost::getFloat(node, "outAlpha", alpha).ok);
        ASSERT_TRUE(bitsEqual(samples[i], {colour.x, colour.y, colour.z, alpha}))
            << "point " << i << ": " << p.u << ", " << p.v << ", " << p.w;
    }
}

}  // namespace
