// `voxlum make`: every pattern loads, tiles where it should, and is the same for a seed.
#include <gtest/gtest.h>

#include "ToolTestSupport.h"
#include "VolumeFiles.h"
#include "VoxelVolume.h"

namespace {

using tooltest::runVoxlum;

class Made : public testing::Test {
  protected:
    tooltest::VolumeBody make(const std::string& arguments) {
        return tooltest::producedVolume(folder_.path(), "make " + arguments + " -o made.vol",
                                        "made.vol");
    }

    testfiles::ScratchFolder folder_;
};

TEST_F(Made, EveryPatternLoadsWithTheChannelsAsked) {
    const std::pair<const char*, int> cases[] = {
        {"cloud", 3}, {"marble", 4}, {"checker", 3}, {"gradient", 4}};
    for (const auto& [pattern, channels] : cases) {
        make(std::string(pattern) + " --channels " + std::to_string(channels));
        VoxelVolume volume;
        std::int32_t bytesRead = 0;
        EXPECT_EQ(volume.loadVolumeFile(folder_.file("made.vol").c_str(), bytesRead), channels)
            << pattern;
    }
}

// Across the seam (plane 127 to plane 0) a tiling pattern changes no more than between any
// two neighbouring planes inside the volume.
TEST_F(Made, NoisePatternsAreContinuousAcrossTheSeam) {
    for (const char* pattern : {"cloud --seed 3", "marble --seed 5 --frequency 2"}) {
        const tooltest::VolumeBody volume = make(pattern);
        for (int axis = 0; axis < 3; ++axis) {
            int inside = 0;
            for (int plane = 0; plane < 127; ++plane)
                inside =
                    std::max(inside, tooltest::planeDifference(volume, axis, plane, plane + 1));
            EXPECT_GT(inside, 0) << pattern << " axis " << axis;
            EXPECT_LE(tooltest::planeDifference(volume, axis, 127, 0), inside)
                << pattern << " axis " << axis;
        }
    }
}

TEST_F(Made, CheckerCellsAreEqualAndAlternateAcrossTheSeam) {
    for (int cells : {2, 4, 16}) {
        const tooltest::VolumeBody volume = make("checker --cells " + std::to_string(cells));
        const int width = 128 / cells;
        for (int x = 0; x < 128; ++x) {
            const bool sameCellAsNext = (x + 1) % width != 0;
            const int next = (x + 1) % 128;
            EXPECT_EQ(*volume.at(x, 5, 9) == *volume.at(next, 5, 9), sameCellAsNext)
                << cells << " cells, x " << x;
            EXPECT_EQ(*volume.at(5, x, 9) == *volume.at(5, next, 9), sameCellAsNext);
            EXPECT_EQ(*volume.at(5, 9, x) == *volume.at(5, 9, next), sameCellAsNext);
        }
    }
}

TEST_F(Made, SameSeedSameVolumeOtherSeedOtherVolume) {
    const auto first = make("cloud --seed 11").bytes;
    EXPECT_EQ(make("cloud --seed 11").bytes, first);
    EXPECT_NE(make("cloud --seed 12").bytes, first);
}

TEST_F(Made, CloudKeepsDensityInAlpha) {
    const tooltest::VolumeBody volume = make("cloud");
    int thinnest = 255, densest = 0;
    for (std::size_t i = 3; i < volume.bytes.size(); i += 4) {
        thinnest = std::min<int>(thinnest, volume.bytes[i]);
        densest = std::max<int>(densest, volume.bytes[i]);
    }
    EXPECT_LT(thinnest, 64);
    EXPECT_GT(densest, 192);
}

// Red grows along x, green along y, blue along z, from 0 at index 0 to 255 at index 127.
TEST_F(Made, GradientAxes) {
    const tooltest::VolumeBody volume = make("gradient");
    struct Probe {
        int x, y, z;
        unsigned char r, g, b;
    };
    const Probe probes[] = {{0, 0, 0, 0, 0, 0},     {127, 0, 0, 255, 0, 0},
                            {0, 127, 0, 0, 255, 0}, {0, 0, 127, 0, 0, 255},
                            {1, 2, 3, 2, 4, 6},     {64, 127, 32, 129, 255, 64}};
    for (const Probe& p : probes) {
        const unsigned char* voxel = volume.at(p.x, p.y, p.z);
        EXPECT_EQ(voxel[0], p.r) << p.x << "," << p.y << "," << p.z;
        EXPECT_EQ(voxel[1], p.g) << p.x << "," << p.y << "," << p.z;
        EXPECT_EQ(voxel[2], p.b) << p.x << "," << p.y << "," << p.z;
        EXPECT_EQ(voxel[3], 255);
    }
    const tooltest::ToolRun info = runVoxlum(folder_.path(), "info made.vol");
    EXPECT_EQ(info.exitCode, 0);
    for (const char* channel : {"red      ", "green    ", "blue     "})
        EXPECT_NE(info.out.find(std::string(channel) + "  0  255"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("alpha used: no"), std::string::npos) << info.out;
}

}  // namespace
