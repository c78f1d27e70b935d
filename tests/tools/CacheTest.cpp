// Simulation caches as other programs write them: sequences whose extent moves from frame to
// frame, grids of other voxel sizes, colour kept in several grids, densities above 1.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include "ToolTestSupport.h"
#include "VdbFiles.h"
#include "VolumeFiles.h"

namespace {

namespace fs = std::filesystem;
using testfiles::VolumeBody;
using tooltest::runVoxlum;
using tooltest::VdbGrid;

constexpr double kVoxelSize = 0.1;

struct Ball {
    std::array<int, 3> centre;
    int radius;
    double voxelSize = kVoxelSize;
};

// A fog ball of density 2.5, as a simulator writes one: only the voxels inside are active.
VdbGrid densityBall(const Ball& ball) {
    const int r = ball.radius;
    VdbGrid grid{"density",
                 1,
                 {ball.centre[0] - r, ball.centre[1] - r, ball.centre[2] - r},
                 {2 * r + 1, 2 * r + 1, 2 * r + 1},
                 [](int, int, int) {
                     return std::array<float, 3>{2.5f, 0, 0};
                 }};
    grid.present = [r](int x, int y, int z) {
        return (x - r) * (x - r) + (y - r) * (y - r) + (z - r) * (z - r) <= r * r;
    };
    grid.voxelSize = ball.voxelSize;
    return grid;
}

std::string frameName(const std::string& prefix, int frame, const std::string& suffix) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04d", frame);
    return prefix + digits + suffix;
}

// The alpha-weighted centre of a volume, in voxels, and its total alpha.
struct Mass {
    std::array<double, 3> centre{};
    double total = 0;
};

Mass massOf(const VolumeBody& volume) {
    Mass mass;
    for (int z = 0; z < 128; ++z)
        for (int y = 0; y < 128; ++y)
            for (int x = 0; x < 128; ++x) {
                const double alpha = volume.at(x, y, z)[3];
                mass.total += alpha;
                mass.centre[0] += alpha * x;
                mass.centre[1] += alpha * y;
                mass.centre[2] += alpha * z;
            }
    for (double& axis : mass.centre) axis /= mass.total;
    return mass;
}

std::array<double, 6> numbersOf(const std::string& text) {
    std::istringstream in(text);
    std::array<double, 6> numbers{};
    for (double& number : numbers) in >> number;
    EXPECT_TRUE(in) << text;
    return numbers;
}

struct MotionCase {
    const char* name;
    std::array<int, 3> step;  // voxels the ball's centre moves per frame
    int growth;               // voxels its radius grows per frame
};

void PrintTo(const MotionCase& c, std::ostream* out) { *out << c.name; }

const MotionCase kMotions[] = {
    {"moving", {10, 0, -4}, 0},
    {"growing", {0, 0, 0}, 3},
};

class Motion : public testing::TestWithParam<MotionCase> {
  protected:
    static constexpr int kFrames = 4;
    Ball ballAt(int frame) const {
        const MotionCase& c = GetParam();
        return {{20 + frame * c.step[0], 20 + frame * c.step[1], 40 + frame * c.step[2]},
                6 + frame * c.growth};
    }
    testfiles::ScratchFolder folder_;
};

// The sequence is converted over the union of its frames, so the ball's centre moves in the
// volumes as it moves in the cache, and `bounds` names that union.
TEST_P(Motion, SurvivesConversion) {
    std::array<int, 3> low{1 << 20, 1 << 20, 1 << 20}, high{-(1 << 20), -(1 << 20), -(1 << 20)};
    for (int frame = 1; frame <= kFrames; ++frame) {
        const Ball ball = ballAt(frame);
        tooltest::writeVdbFile(folder_.file(frameName("ball.", frame, ".vdb")),
                               {densityBall(ball)});
        for (std::size_t axis = 0; axis < 3; ++axis) {
            low[axis] = std::min(low[axis], ball.centre[axis] - ball.radius);
            high[axis] = std::max(high[axis], ball.centre[axis] + ball.radius);
        }
    }
    const tooltest::ToolRun bounds = runVoxlum(folder_.path(), "bounds ball.####.vdb");
    ASSERT_EQ(bounds.exitCode, 0) << bounds.err;
    const std::array<double, 6> box = numbersOf(bounds.out);
    for (std::size_t axis = 0; axis < 3; ++axis) {
        EXPECT_NEAR(box[axis], (low[axis] - 0.5) * kVoxelSize, 1e-12);
        EXPECT_NEAR(box[axis + 3], (high[axis] + 0.5) * kVoxelSize, 1e-12);
    }

    const tooltest::ToolRun run =
        runVoxlum(folder_.path(), "convert ball.####.vdb -o out.####.vol --range auto");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    double firstTotal = 0;
    for (int frame = 1; frame <= kFrames; ++frame) {
        const Mass mass =
            massOf(tooltest::readVolume(folder_.file(frameName("out.", frame, ".vol"))));
        const Ball ball = ballAt(frame);
        for (std::size_t axis = 0; axis < 3; ++axis) {
            // Voxel centres aligned: source voxel i lies at output (i - low + 0.5) * s - 0.5.
            const double scale = 128.0 / (high[axis] - low[axis] + 1);
            const double expected = (ball.centre[axis] - low[axis] + 0.5) * scale - 0.5;
            EXPECT_NEAR(mass.centre[axis], expected, 0.5) << "frame " << frame << " axis " << axis;
        }
        // The ball's share of one box grows with the cube of its radius.
        if (frame == 1) firstTotal = mass.total;
        const double growth = double(ball.radius) / ballAt(1).radius;
        EXPECT_NEAR(mass.total / firstTotal, growth * growth * growth,
                    0.15 * growth * growth * growth)
            << "frame " << frame;
    }
}

INSTANTIATE_TEST_SUITE_P(Balls, Motion, testing::ValuesIn(kMotions),
                         [](const testing::TestParamInfo<MotionCase>& testCase) {
                             return std::string(testCase.param.name);
                         });

TEST(Cache, FramesOfOtherVoxelSizesLineUpInWorldSpace) {
    const testfiles::ScratchFolder folder;
    // The same ball in world space, at voxel sizes 0.1 and 0.05.
    tooltest::writeVdbFile(folder.file("ball.0001.vdb"), {densityBall({{20, 20, 20}, 6})});
    tooltest::writeVdbFile(folder.file("ball.0002.vdb"),
                           {densityBall({{40, 40, 40}, 12, kVoxelSize / 2})});
    const tooltest::ToolRun run =
        runVoxlum(folder.path(), "convert ball.####.vdb -o out.####.vol --range 0 2.5");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const Mass coarse = massOf(tooltest::readVolume(folder.file("out.0001.vol")));
    const Mass fine = massOf(tooltest::readVolume(folder.file("out.0002.vol")));
    for (std::size_t axis = 0; axis < 3; ++axis)
        EXPECT_NEAR(coarse.centre[axis], fine.centre[axis], 0.3) << axis;
    EXPECT_NEAR(fine.total / coarse.total, 1.0, 0.1);
}

// Caches laid out as Blender's and Houdini's: colour in three float grids beside the density,
// an empty grid, the domain in metadata; or a vector colour grid beside a density above 1.
void blenderLike(const fs::path& path) {
    const auto block = [](float value) {
        return [value](int, int, int) { return std::array<float, 3>{value, value, value}; };
    };
    const std::vector<std::pair<std::string, std::array<int, 3>>> domain{
        {"file_base_resolution", {16, 16, 16}}};
    std::vector<VdbGrid> grids;
    for (const auto& [name, value] : std::vector<std::pair<const char*, float>>{
             {"color_r", 0.8f}, {"color_g", 0.4f}, {"density", 1.0f}, {"temperature", 1.5f}})
        grids.push_back({name, 1, {4, 4, 4}, {8, 8, 8}, block(value)});
    grids.push_back({"color_b", 1, {}, {}, {}});
    grids.push_back({"flame", 1, {}, {}, {}});
    grids.push_back({"velocity", 3, {4, 4, 4}, {8, 8, 8}, block(0.1f)});
    for (VdbGrid& grid : grids) {
        grid.voxelSize = 0.125;
        grid.metadata = domain;
    }
    tooltest::writeVdbFile(path, grids);
}

void houdiniLike(const fs::path& path) {
    VdbGrid colour{"Cd", 3, {0, 0, 0}, {10, 10, 10}, [](int, int, int) {
                       return std::array<float, 3>{1.0f, 0.5f, 0.25f};
                   }};
    VdbGrid density{"density", 1, {0, 0, 0}, {10, 10, 10}, [](int, int, int) {
                        return std::array<float, 3>{2.0f, 0, 0};
                    }};
    for (VdbGrid* grid : {&colour, &density}) {
        grid->voxelSize = 0.2;
        grid->translation = {-1.0, 0.0, -1.0};
    }
    tooltest::writeVdbFile(path, {density, colour});
}

struct MappedCase {
    const char* name;
    void (*write)(const fs::path&);
    const char* arguments;
    std::array<int, 3> voxel;
    std::array<unsigned char, 4> rgba;
    const char* stdoutHolds;
    const char* stderrHolds;
};

void PrintTo(const MappedCase& c, std::ostream* out) { *out << c.name; }

const char* const kBlenderMap =
    "--grid r=color_r --grid g=color_g --grid b=color_b --grid a=density";

const MappedCase kMapped[] = {
    // The domain is 16 voxels from index 0; the smoke fills 4 to 11 of them.
    {"blender_domain_inside",
     blenderLike,
     "--bounds domain",
     {64, 64, 64},
     {204, 102, 0, 255},
     "box -0.0625 -0.0625 -0.0625 1.9375 1.9375 1.9375\n",
     "voxlum: warning: smoke.vdb: grid \"color_b\" has no active voxels; it reads as its "
     "background value 0\n"},
    {"blender_domain_outside", blenderLike, "--bounds domain", {4, 4, 4}, {0, 0, 0, 0}, "", ""},
    {"blender_own_box",
     blenderLike,
     "",
     {0, 0, 0},
     {204, 102, 0, 255},
     "box 0.4375 0.4375 0.4375 1.4375 1.4375 1.4375\n",
     ""},
    {"blender_index_box",
     blenderLike,
     "--index-bounds 0 0 0 7 7 7",
     {127, 127, 127},
     {204, 102, 0, 255},
     "box -0.0625 -0.0625 -0.0625 0.9375 0.9375 0.9375\n",
     ""},
    {"blender_world_box",
     blenderLike,
     "--bounds 0.4375 0.4375 0.4375 2.4375 2.4375 2.4375",
     {80, 80, 80},
     {0, 0, 0, 0},
     "",
     ""},
    {"blender_box_beside",
     blenderLike,
     "--bounds 2 2 2 3 3 3",
     {64, 64, 64},
     {0, 0, 0, 0},
     "",
     "smoke.vdb: the box 2 2 2 3 3 3 holds none of the active voxels (0.4375 0.4375 0.4375 "
     "1.4375 1.4375 1.4375)\n"},
    // Colour grey from the first grid mapped, alpha opaque when unmapped.
    {"blender_grey",
     blenderLike,
     "--grid r=temperature --range 0 2",
     {64, 64, 64},
     {191, 191, 191, 255},
     "range: r 0 2, g 0 2, b 0 2, a 0 2\n",
     ""},
    {"houdini_colour_and_density",
     houdiniLike,
     "--grid rgb=Cd --grid a=density --range a=0 4",
     {64, 64, 64},
     {255, 128, 64, 128},
     "box -1.1 -0.1 -1.1 0.9",
     ""},
    {"houdini_auto_range",
     houdiniLike,
     "--grid rgb=Cd --grid a=density --range auto",
     {64, 64, 64},
     {255, 128, 64, 255},
     "range: r 0 1, g 0 1, b 0 1, a 0 2\n",
     ""},
};

class Mapped : public testing::TestWithParam<MappedCase> {};

TEST_P(Mapped, ChannelsComeFromTheirGridsOverTheBox) {
    const MappedCase& c = GetParam();
    const testfiles::ScratchFolder folder;
    c.write(folder.file("smoke.vdb"));
    const std::string map = std::string(c.arguments).find("--grid") == std::string::npos
                                ? std::string(kBlenderMap) + " "
                                : "";
    const tooltest::ToolRun run = runVoxlum(
        folder.path(), "-v convert smoke.vdb -o out.vol " + map + std::string(c.arguments));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find(c.stdoutHolds), std::string::npos) << run.out;
    EXPECT_NE(run.err.find(c.stderrHolds), std::string::npos) << run.err;
    const VolumeBody volume = tooltest::readVolume(folder.file("out.vol"));
    const unsigned char* voxel = volume.at(c.voxel[0], c.voxel[1], c.voxel[2]);
    for (std::size_t channel = 0; channel < 4; ++channel)
        EXPECT_NEAR(voxel[channel], c.rgba[channel], 1) << "channel " << channel;
}

INSTANTIATE_TEST_SUITE_P(Caches, Mapped, testing::ValuesIn(kMapped),
                         [](const testing::TestParamInfo<MappedCase>& testCase) {
                             return std::string(testCase.param.name);
                         });

// A single-word form ("auto", "union") followed by the input: the word after it is the input.
TEST(Cache, InputMayFollowAWordOfAnOption) {
    const testfiles::ScratchFolder folder;
    houdiniLike(folder.file("smoke.vdb"));
    const tooltest::ToolRun run =
        runVoxlum(folder.path(),
                  "convert --range auto smoke.vdb --bounds union --grid rgb=Cd "
                  "--grid a=density -o out.vol");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const VolumeBody volume = tooltest::readVolume(folder.file("out.vol"));
    const unsigned char* voxel = volume.at(64, 64, 64);
    EXPECT_EQ(std::vector<int>(voxel, voxel + 4), (std::vector<int>{255, 128, 64, 255}));
}

class MovingSequence : public testing::Test {
  protected:
    void SetUp() override {
        for (int frame = 1; frame <= 6; ++frame)
            tooltest::writeVdbFile(folder_.file(frameName("ball.", frame, ".vdb")),
                                   {densityBall({{20 + 7 * frame, 30, 30 - 3 * frame}, 5})});
    }
    std::vector<std::string> volumes(const std::string& prefix,
                                     const std::string& suffix = ".vol") const {
        std::vector<std::string> contents;
        for (int frame = 1; frame <= 7; ++frame) {
            std::ifstream in(folder_.file(frameName(prefix, frame, suffix)), std::ios::binary);
            contents.emplace_back(std::istreambuf_iterator<char>(in),
                                  std::istreambuf_iterator<char>());
        }
        return contents;
    }
    // Frame numbers whose volumes differ, without printing megabytes of voxels.
    static std::vector<int> differentFrames(const std::vector<std::string>& a,
                                            const std::vector<std::string>& b) {
        std::vector<int> frames;
        for (std::size_t i = 0; i < a.size(); ++i)
            if (a[i] != b[i]) frames.push_back(int(i) + 1);
        return frames;
    }
    testfiles::ScratchFolder folder_;
};

// Frames, and a picture's rows, run side by side, yet write the same bytes and print the same
// lines in the same order, a failed frame included.
TEST_F(MovingSequence, SeveralThreadsMatchOne) {
    const struct {
        const char* command;
        const char* prefix;  // of the files written
        const char* suffix;
    } commands[] = {
        {"convert ball.####.vdb -o out.####.vol --frames 1-7 --range auto", "out.", ".vol"},
        {"render out.####.vol -o pic.####.png --size 24 --frames 1-7", "pic.", ".png"},
        {"render out.####.vol -o direct.####.png --size 24 --frames 1-7 --direct", "direct.",
         ".png"},
        {"info out.####.vol --frames 1-7 --json", "", ""},
    };
    for (const auto& c : commands) {
        const std::string command = c.command;
        const tooltest::ToolRun one = runVoxlum(folder_.path(), "-v --threads 1 " + command);
        const std::vector<std::string> written = volumes(c.prefix, c.suffix);
        const tooltest::ToolRun two = runVoxlum(folder_.path(), "-v --threads 2 " + command);
        EXPECT_EQ(one.exitCode, 3) << command;
        EXPECT_EQ(two.exitCode, 3) << command;
        EXPECT_EQ(one.out, two.out) << command;
        EXPECT_EQ(one.err, two.err) << command;
        EXPECT_NE(one.err.find("1 of 7 frames failed: 7"), std::string::npos) << command;
        if (*c.prefix == 0) continue;
        EXPECT_EQ(differentFrames(volumes(c.prefix, c.suffix), written), std::vector<int>{})
            << command;
        EXPECT_FALSE(written.front().empty()) << command;
    }
}

// The recipe for a render farm: the union once, then each task's frames over it; the volumes
// equal those of one run over every frame.
TEST_F(MovingSequence, FarmTasksLineUpWithOneRun) {
    ASSERT_EQ(runVoxlum(folder_.path(), "convert ball.####.vdb -o one.####.vol").exitCode, 0);
    const std::string tool = VOXLUM_TOOL_PATH;
    const std::string recipe = "cd '" + folder_.path().string() + "' && box=$('" + tool +
                               "' bounds 'ball.####.vdb') && printf '1-2\\n3-4\\n5-6\\n' | "
                               "xargs -P 3 -I RANGE '" +
                               tool +
                               "' -q convert 'ball.####.vdb' -o 'farm.####.vol' --frames RANGE "
                               "--bounds $box";
    ASSERT_EQ(std::system(recipe.c_str()), 0);
    const std::vector<std::string> farm = volumes("farm.");
    EXPECT_EQ(differentFrames(farm, volumes("one.")), std::vector<int>{});
    EXPECT_FALSE(farm.front().empty());
}

}  // namespace
