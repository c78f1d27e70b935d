// `voxlum convert`: each input kind gives the voxels it should.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>

#include "ToolTestSupport.h"
#include "VdbFiles.h"
#include "VolumeFiles.h"

namespace {

class Converted : public testing::Test {
  protected:
    testfiles::VolumeBody convert(const std::string& arguments) {
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
    const testfiles::VolumeBody volume = convert("ramp.raw --raw 64x64x64");
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
    const testfiles::VolumeBody volume = convert("ramp.raw --raw 384x4x4");
    for (int x = 0; x < 128; ++x) EXPECT_EQ(volume.at(x, 100, 50)[0], 30) << x;
}

TEST_F(Converted, TileRemovesTheSeamThatClampingLeaves) {
    writeRawAlongX({64, 8, 8}, [](int x) { return static_cast<unsigned char>(4 * x); });
    const testfiles::VolumeBody clamped = convert("ramp.raw --raw 64x8x8 --no-tile");
    EXPECT_GT(testfiles::planeDifference(clamped, 0, 127, 0), 200);

    const testfiles::VolumeBody tiled = convert("ramp.raw --raw 64x8x8 --tile");
    int inside = 0;
    for (int x = 0; x < 127; ++x)
        inside = std::max(inside, testfiles::planeDifference(tiled, 0, x, x + 1));
    EXPECT_LE(testfiles::planeDifference(tiled, 0, 127, 0), inside);
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
    const testfiles::VolumeBody volume = convert("smoke.vol");
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
    const std::array<int, 3> kBox{128, 128, 128};
    tooltest::writeVdbFile(folder_.file("smoke.vdb"),
                           {{"density",
                             1,
                             {5, -20, 300},
                             kBox,
                             [](int x, int y, int z) {
                                 return std::array<float, 3>{densityAt(x, y, z), 0, 0};
                             }},
                            {"colour", 3, {-64, 0, 7}, kBox, [](int x, int y, int z) {
                                 return std::array<float, 3>{static_cast<float>(x) / 127.0f,
                                                             static_cast<float>(y) / 127.0f,
                                                             static_cast<float>(z) / 127.0f};
                             }}});

    const testfiles::VolumeBody grey = convert("smoke.vdb --grid density");
    const testfiles::VolumeBody rgb = convert("smoke.vdb --grid colour");
    for (int z = 0; z < 128; z += 9)
        for (int y = 0; y < 128; y += 5)
            for (int x = 0; x < 128; ++x) {
                const unsigned char expected = unitToByte(densityAt(x, y, z));
                ASSERT_EQ(grey.at(x, y, z)[1], expected) << x << "," << y << "," << z;
                ASSERT_EQ(grey.at(x, y, z)[3], expected);
                const unsigned char* voxel = rgb.at(x, y, z);
                ASSERT_EQ(voxel[0], unitToByte(static_cast<float>(x) / 127.0f));
                ASSERT_EQ(voxel[1], unitToByte(static_cast<float>(y) / 127.0f));
                ASSERT_EQ(voxel[2], unitToByte(static_cast<float>(z) / 127.0f));
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
        const testfiles::VolumeBody volume = convert(input);
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

// Every format convert writes, it reads back to the very bytes it started from, with no option
// but the raw size and the channel count.
struct RoundTrip {
    const char* name;
    const char* writeArguments;
    const char* readArguments;  // {C} stands for the channel count
};

void PrintTo(const RoundTrip& c, std::ostream* out) { *out << c.name; }

const RoundTrip kRoundTrips[] = {
    {"openvdb", "-o out.vdb", "out.vdb"},
    {"png_slices", "-o 'slices/z_%03d.png'", "'slices/z_%03d.png'"},
    {"tiff_slices_hashed", "-o slices/z.@@@.tif", "slices"},
    {"png_slices_at_earlier_width", "-o 'slices/z_%08d.png'", "slices/z_##.png"},
    {"raw", "-o out.raw", "out.raw --raw 128x128x128 --raw-channels {C}"},
    {"mitsuba", "-o grid.vol --to mitsuba", "grid.vol"},
};

class RoundTripped : public testing::TestWithParam<RoundTrip> {};

TEST_P(RoundTripped, GivesBackTheSameBytes) {
    const RoundTrip& c = GetParam();
    for (int channels : {3, 4}) {
        const testfiles::ScratchFolder folder;
        std::filesystem::create_directory(folder.file("slices"));
        testfiles::VolumeHeaderFields fields;
        fields.channelCount = channels;
        const std::vector<unsigned char> original =
            testfiles::volumeBytes(fields, testfiles::randomBody(channels, 40 + channels));
        testfiles::writeBytes(folder.file("original.vol"), original);

        const tooltest::ToolRun written = tooltest::runVoxlum(
            folder.path(), "convert original.vol " + std::string(c.writeArguments));
        ASSERT_EQ(written.exitCode, 0) << written.err;
        std::string readArguments = c.readArguments;
        const std::string count = std::to_string(channels);
        if (const std::size_t at = readArguments.find("{C}"); at != std::string::npos)
            readArguments.replace(at, 3, count);
        const testfiles::VolumeBody back = tooltest::producedVolume(
            folder.path(), "convert " + readArguments + " --channels " + count + " -o back.vol",
            "back.vol");
        EXPECT_EQ(back.channels, channels);
        EXPECT_TRUE(back.bytes ==
                    std::vector<unsigned char>(original.begin() + 4096, original.end()))
            << channels << " channels";
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, RoundTripped, testing::ValuesIn(kRoundTrips),
                         [](const testing::TestParamInfo<RoundTrip>& testCase) {
                             return std::string(testCase.param.name);
                         });

// OpenVDB's own tool reads what convert writes, with the documented grids and voxel size.
TEST_F(Converted, OpenVdbExportReadsInOpenVdbsOwnTool) {
    if (!std::filesystem::exists("/usr/bin/vdb_print")) GTEST_SKIP() << "no vdb_print";
    tooltest::producedVolume(folder_.path(), "make cloud -o cloud.vol", "cloud.vol");
    ASSERT_EQ(tooltest::runVoxlum(folder_.path(), "convert cloud.vol -o cloud.vdb").exitCode, 0);
    const testfiles::ScratchFolder captures;
    const std::string command = "/usr/bin/vdb_print -l '" + folder_.file("cloud.vdb").string() +
                                "' > '" + captures.file("out").string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::ifstream in(captures.file("out"));
    const std::string listing{std::istreambuf_iterator<char>(in), {}};
    for (const char* expected : {"Name: color", "Name: density", "voxel size: 0.00781",
                                 "Bounding box of active voxels: [0, 0, 0] -> [127, 127, 127]"})
        EXPECT_NE(listing.find(expected), std::string::npos) << expected << "\n" << listing;
}

// One marked voxel at (3, 5, 7) goes where each axis flag sends it, on the way into a .vol
// and on the way out of one (into raw bytes).
TEST_F(Converted, AxisFlagsMoveAMarkedVoxel) {
    std::vector<unsigned char> body(128 * 128 * 128 * 4, 0);
    const std::size_t marked = ((7 * 128 + 5) * 128 + 3) * 4;
    std::fill_n(body.begin() + std::ptrdiff_t(marked), 4, 200);
    testfiles::writeBytes(folder_.file("marked.vol"), testfiles::volumeBytes({}, body));
    struct Case {
        const char* flags;
        std::array<int, 3> expected;
    };
    const Case cases[] = {{"", {3, 5, 7}},
                          {"--flip-x", {124, 5, 7}},
                          {"--flip-y", {3, 122, 7}},
                          {"--flip-z", {3, 5, 120}},
                          {"--swap-yz", {3, 7, 5}},
                          {"--swap-yz --flip-z", {3, 7, 122}},
                          {"--flip-x --flip-y --flip-z", {124, 122, 120}}};
    for (const Case& c : cases) {
        for (const std::string output : {"in.vol", "out.raw"}) {
            const std::string arguments =
                "convert marked.vol " + std::string(c.flags) + " -o " + output;
            ASSERT_EQ(tooltest::runVoxlum(folder_.path(), arguments).exitCode, 0) << arguments;
            const testfiles::VolumeBody volume =
                output == "in.vol" ? tooltest::readVolume(folder_.file("in.vol"))
                                   : convert("out.raw --raw 128x128x128 --raw-channels 4");
            ASSERT_EQ(volume.bytes.size(), 128u * 128 * 128 * 4) << arguments;
            std::vector<std::array<int, 3>> found;
            for (int z = 0; z < 128; ++z)
                for (int y = 0; y < 128; ++y)
                    for (int x = 0; x < 128; ++x)
                        if (volume.at(x, y, z)[0] != 0) found.push_back({x, y, z});
            const std::vector<std::array<int, 3>> expected{c.expected};
            EXPECT_EQ(found, expected) << arguments;
        }
    }
}

}  // namespace
