// `voxlum convert`: each input kind gives the voxels it should.
#include <gtest/gtest.h>
#include <openvdb/openvdb.h>

#include <algorithm>
#include <cmath>

#include "ToolTestSupport.h"
#include "VolumeFiles.h"

namespace {

class Converted : public testing::Test {
  protected:
    tooltest::VolumeBody convert(const std::string& arguments) {
        return tooltest::producedVolume(
            folder_.path(), "convert " + arguments + " -o converted.vol", "converted.vol");
    }

    // A one-channel raw file of `size` whose byte at (x, y, z) is value(x).
    void writeRawAlongX(std::array<int, 3> size, unsigned char (*value)(int)) {
        std::vector<unsigned char> bytes;
        for (int i = 0; i < size[0] * size[1] * size[2]; ++i) bytes.push_back(value(i % size[0]));
        testfiles::writeBytes(folder_.file("ramp.raw"), bytes);
    }

    testfiles::ScratchFolder folder_;
};

TEST_F(Converted, RawAt128IsCopiedByteForByte) {
    for (int channels : {3, 4}) {
        const auto body = testfiles::randomBody(channels, 21);
        testfiles::writeBytes(folder_.file("in.raw"), body);
        const std::string c = std::to_string(channels);
        EXPECT_EQ(
            convert("in.raw --raw 128x128x128 --raw-channels " + c + " --channels " + c).bytes,
            body);
    }
}

// Upsampling interpolates linearly between voxel centres and clamps at the edges.
TEST_F(Converted, RawUpsamplesLinearly) {
    writeRawAlongX({64, 64, 64}, [](int x) { return static_cast<unsigned char>(4 * x); });
    const tooltest::VolumeBody volume = convert("ramp.raw --raw 64x64x64");
    for (int x = 0; x < 128; ++x) {
        const double source = std::clamp((x + 0.5) / 2 - 0.5, 0.0, 63.0);
        EXPECT_EQ(volume.at(x, 70, 3)[0], std::lround(4 * source)) << x;
        EXPECT_EQ(volume.at(x, 70, 3)[3], 255);
    }
}

// Downsampling averages every input voxel an output voxel covers, not just the nearest ones.
TEST_F(Converted, RawDownsamplesByArea) {
    writeRawAlongX({384, 4, 4},
                   [](int x) { return static_cast<unsigned char>(x % 3 == 1 ? 90 : 0); });
    const tooltest::VolumeBody volume = convert("ramp.raw --raw 384x4x4");
    for (int x = 0; x < 128; ++x) EXPECT_EQ(volume.at(x, 100, 50)[0], 30) << x;
}

TEST_F(Converted, TileRemovesTheSeamThatClampingLeaves) {
    writeRawAlongX({64, 8, 8}, [](int x) { return static_cast<unsigned char>(4 * x); });
    const tooltest::VolumeBody clamped = convert("ramp.raw --raw 64x8x8 --no-tile");
    EXPECT_GT(tooltest::planeDifference(clamped, 0, 127, 0), 200);

    const tooltest::VolumeBody tiled = convert("ramp.raw --raw 64x8x8 --tile");
    int inside = 0;
    for (int x = 0; x < 127; ++x)
        inside = std::max(inside, tooltest::planeDifference(tiled, 0, x, x + 1));
    EXPECT_LE(tooltest::planeDifference(tiled, 0, 127, 0), inside);
    EXPECT_LT(inside, 40);
}

unsigned char unitToByte(float unit) {
    return static_cast<unsigned char>(std::lround(std::clamp(unit, 0.0f, 1.0f) * 255));
}

// A density value per voxel, with values outside [0, 1] that must clamp.
float densityAt(int x, int y, int z) { return float((x + 2 * y + 3 * z) % 300) / 255.0f - 0.1f; }

TEST_F(Converted, MitsubaDensityBecomesGreyAndAlpha) {
    std::vector<float> values;
    for (int z = 0; z < 128; ++z)
        for (int y = 0; y < 128; ++y)
            for (int x = 0; x < 128; ++x) values.push_back(densityAt(x, y, z));
    tooltest::writeForeignGrid(folder_.file("smoke.vol"), 1, {128, 128, 128}, 1, values);
    const tooltest::VolumeBody volume = convert("smoke.vol");
    for (int z = 0; z < 128; z += 7)
        for (int y = 0; y < 128; y += 3)
            for (int x = 0; x < 128; ++x) {
                const unsigned char expected = unitToByte(densityAt(x, y, z));
                const unsigned char* voxel = volume.at(x, y, z);
                ASSERT_EQ(voxel[0], expected) << x << "," << y << "," << z;
                ASSERT_EQ(voxel[2], expected);
                ASSERT_EQ(voxel[3], expected);
            }
}

// Grids whose active voxels fill a 128^3 box away from the origin, which must be the box read.
TEST_F(Converted, OpenVdbGridsOverTheirActiveBox) {
    openvdb::initialize();
    const openvdb::Coord densityOrigin(5, -20, 300), colourOrigin(-64, 0, 7);
    auto density = openvdb::FloatGrid::create(0.0f);
    auto colour = openvdb::Vec3SGrid::create();
    density->setName("density");
    colour->setName("colour");
    auto densityVoxels = density->getAccessor();
    auto colourVoxels = colour->getAccessor();
    for (int z = 0; z < 128; ++z)
        for (int y = 0; y < 128; ++y)
            for (int x = 0; x < 128; ++x) {
                densityVoxels.setValue(densityOrigin.offsetBy(x, y, z), densityAt(x, y, z));
                colourVoxels.setValue(colourOrigin.offsetBy(x, y, z),
                                      openvdb::Vec3s(x / 127.0f, y / 127.0f, z / 127.0f));
            }
    openvdb::io::File(folder_.file("smoke.vdb").string()).write({density, colour});

    const tooltest::VolumeBody grey = convert("smoke.vdb --grid density");
    const tooltest::VolumeBody rgb = convert("smoke.vdb --grid colour");
    for (int z = 0; z < 128; z += 9)
        for (int y = 0; y < 128; y += 5)
            for (int x = 0; x < 128; ++x) {
                const unsigned char expected = unitToByte(densityAt(x, y, z));
                ASSERT_EQ(grey.at(x, y, z)[1], expected) << x << "," << y << "," << z;
                ASSERT_EQ(grey.at(x, y, z)[3], expected);
                const unsigned char* voxel = rgb.at(x, y, z);
                ASSERT_EQ(voxel[0], unitToByte(x / 127.0f));
                ASSERT_EQ(voxel[1], unitToByte(y / 127.0f));
                ASSERT_EQ(voxel[2], unitToByte(z / 127.0f));
                ASSERT_EQ(voxel[3], 255);
            }
}

// Slices run along z; an image's bottom row is y = 0.
TEST_F(Converted, SliceStacksFromAFolderOrAPattern) {
    std::filesystem::create_directory(folder_.file("slices"));
    for (int z = 0; z < 128; ++z) {
        char name[32];
        std::snprintf(name, sizeof name, "slices/slice_%03d.png", z);
        tooltest::writeImage(folder_.file(name), 128, 128, 3, [z](int column, int row) {
            return std::array<unsigned char, 4>{static_cast<unsigned char>(column),
                                                static_cast<unsigned char>(row),
                                                static_cast<unsigned char>(2 * z), 0};
        });
    }
    for (const char* input : {"slices", "slices/slice_%03d.png"}) {
        const tooltest::VolumeBody volume = convert(input);
        for (const auto& [x, y, z] :
             {std::array{0, 0, 0}, {127, 0, 5}, {3, 127, 127}, {60, 20, 90}}) {
            const unsigned char* voxel = volume.at(x, y, z);
            EXPECT_EQ(voxel[0], x) << input;
            EXPECT_EQ(voxel[1], 127 - y) << input;
            EXPECT_EQ(voxel[2], 2 * z) << input;
            EXPECT_EQ(voxel[3], 255) << input;
        }
    }
}

}  // namespace
