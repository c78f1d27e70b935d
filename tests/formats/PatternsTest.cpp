// Procedural volumes: every pattern loads, tiles where it should, and is the same for a seed.
#include <gtest/gtest.h>

#include "FormatError.h"
#include "Inspect.h"
#include "Patterns.h"
#include "VolumeFiles.h"
#include "VoxelVolume.h"

namespace {

using OptionChange = void (*)(PatternOptions&);

class Made : public testing::Test {
  protected:
    // The pattern, with `change` applied to the default options.
    static testfiles::VolumeBody make(Pattern pattern, OptionChange change = nullptr) {
        const VoxelGrid grid = makePattern(optionsOf(pattern, change));
        return {grid.channels(), grid.bytes()};
    }

    static PatternOptions optionsOf(Pattern pattern, OptionChange change) {
        PatternOptions options;
        options.pattern = pattern;
        if (change) change(options);
        return options;
    }

    testfiles::ScratchFolder folder_;
};

TEST_F(Made, EveryPatternLoadsWithTheChannelsAsked) {
    const std::pair<Pattern, OptionChange> cases[] = {
        {Pattern::kCloud, [](PatternOptions& o) { o.channels = 3; }},
        {Pattern::kMarble, nullptr},
        {Pattern::kChecker, [](PatternOptions& o) { o.channels = 3; }},
        {Pattern::kGradient, nullptr}};
    for (const auto& [pattern, change] : cases) {
        const PatternOptions options = optionsOf(pattern, change);
        writeVolumeFile(folder_.file("made.vol"), makePattern(options));
        VoxelVolume volume;
        std::int32_t bytesRead = 0;
        EXPECT_EQ(volume.loadVolumeFile(folder_.file("made.vol").c_str(), bytesRead),
                  options.channels)
            << int(pattern);
    }
}

TEST_F(Made, OptionsOutOfRangeAreRefused) {
    const std::pair<OptionChange, const char*> cases[] = {
        {[](PatternOptions& o) { o.channels = 2; }, "--channels: expected 3 or 4"},
        {[](PatternOptions& o) { o.cells = 3; }, "--cells: must be an even number from 2 to 128"},
        {[](PatternOptions& o) { o.cells = 130; }, "--cells: must be an even number from 2 to 128"},
        {[](PatternOptions& o) { o.frequency = 0; }, "--frequency: must be from 1 to 8"},
        {[](PatternOptions& o) { o.frequency = 9; }, "--frequency: must be from 1 to 8"}};
    for (const auto& [change, message] : cases) {
        try {
            make(Pattern::kChecker, change);
            ADD_FAILURE() << message << ": accepted";
        } catch (const OptionError& error) {
            EXPECT_STREQ(error.what(), message);
        }
    }
}

// Across the seam (plane 127 to plane 0) a tiling pattern changes no more than between any
// two neighbouring planes inside the volume.
TEST_F(Made, NoisePatternsAreContinuousAcrossTheSeam) {
    const std::pair<Pattern, OptionChange> noisy[] = {
        {Pattern::kCloud, [](PatternOptions& o) { o.seed = 3; }},
        {Pattern::kMarble, [](PatternOptions& o) { o.seed = 5, o.frequency = 2; }}};
    for (const auto& [pattern, change] : noisy) {
        const testfiles::VolumeBody volume = make(pattern, change);
        for (int axis = 0; axis < 3; ++axis) {
            int inside = 0;
            for (int plane = 0; plane < 127; ++plane)
                inside =
                    std::max(inside, testfiles::planeDifference(volume, axis, plane, plane + 1));
            EXPECT_GT(inside, 0) << int(pattern) << " axis " << axis;
            EXPECT_LE(testfiles::planeDifference(volume, axis, 127, 0), inside)
                << int(pattern) << " axis " << axis;
        }
    }
}

TEST_F(Made, CheckerCellsAreEqualAndAlternateAcrossTheSeam) {
    const std::pair<int, OptionChange> cellCounts[] = {
        {2, [](PatternOptions& o) { o.cells = 2; }}, {4, nullptr}, {16, [](PatternOptions& o) {
                                                                        o.cells = 16;
                                                                    }}};
    for (const auto& [cells, change] : cellCounts) {
        const testfiles::VolumeBody volume = make(Pattern::kChecker, change);
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
    const auto seed11 = [](PatternOptions& o) { o.seed = 11; };
    const auto first = make(Pattern::kCloud, seed11).bytes;
    EXPECT_EQ(make(Pattern::kCloud, seed11).bytes, first);
    EXPECT_NE(make(Pattern::kCloud, [](PatternOptions& o) { o.seed = 12; }).bytes, first);
}

TEST_F(Made, CloudKeepsDensityInAlpha) {
    const testfiles::VolumeBody volume = make(Pattern::kCloud);
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
    const testfiles::VolumeBody volume = make(Pattern::kGradient);
    writeVolumeFile(folder_.file("made.vol"), makePattern(optionsOf(Pattern::kGradient, nullptr)));
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
    const VolumeInspection info = inspectVolumeFile(folder_.file("made.vol"));
    ASSERT_TRUE(info.loads()) << info.reason;
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(info.stats.low[c], 0) << c;
        EXPECT_EQ(info.stats.high[c], 255) << c;
    }
    EXPECT_FALSE(info.stats.alphaUsed());
}

}  // namespace
