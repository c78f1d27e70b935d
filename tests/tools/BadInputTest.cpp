// Bad input: one error line on stderr naming what is wrong, a failing exit status, and no
// output file, whole or partial, left behind.
#include <gtest/gtest.h>

#include "ToolTestSupport.h"
#include "VdbFiles.h"
#include "VolumeFiles.h"

namespace {

namespace fs = std::filesystem;

struct BadInputCase {
    const char* name;
    void (*prepare)(const fs::path& folder);
    const char* arguments;
    // The error line starts with this; where a library words the reason, only the part ours.
    const char* errorStart;
    int exitCode;
};

void PrintTo(const BadInputCase& c, std::ostream* out) { *out << c.name; }

std::array<unsigned char, 4> grey(int, int) { return {128, 128, 128, 255}; }

void nothing(const fs::path&) {}

void slicesOf(const fs::path& folder, std::array<int, 2> secondSize, int secondChannels) {
    fs::create_directory(folder / "slices");
    tooltest::writeImage(folder / "slices/a.png", 16, 16, 3, grey);
    tooltest::writeImage(folder / "slices/b.png", secondSize[0], secondSize[1], secondChannels,
                         grey);
}

void vdbWithTwoGrids(const fs::path& folder) {
    tooltest::writeVdbFile(folder / "smoke.vdb", {{"density",
                                                   1,
                                                   {1, 2, 3},
                                                   {1, 1, 1},
                                                   [](int, int, int) {
                                                       return std::array<float, 3>{0.5f, 0, 0};
                                                   }},
                                                  {"heat", 1, {}, {}, {}}});
}

const BadInputCase kCases[] = {
    {"info_missing_file", nothing, "info missing.vol", "missing.vol: no such file", 1},
    {"convert_missing_input", nothing, "convert missing.vdb -o out.vol",
     "missing.vdb: no such file", 1},
    {"unreadable_image",
     [](const fs::path& folder) {
         slicesOf(folder, {16, 16}, 3);
         testfiles::writeBytes(folder / "slices/b.png", {'n', 'o', 't', ' ', 'p', 'n', 'g'});
     },
     "convert slices -o out.vol", "slices/b.png: cannot read image (", 1},
    {"slice_size_differs",
     [](const fs::path& folder) {
         slicesOf(folder, {8, 16}, 3);
     },
     "convert slices -o out.vol", "slices/b.png: size 8x16 differs from 16x16 of slices/a.png\n",
     1},
    {"slice_channels_differ",
     [](const fs::path& folder) {
         slicesOf(folder, {16, 16}, 1);
     },
     "convert slices -o out.vol", "slices/b.png: 1 channels differ from 3 of slices/a.png\n", 1},
    {"pattern_matches_nothing",
     [](const fs::path& folder) {
         slicesOf(folder, {16, 16}, 3);
     },
     "convert 'slices/s_%02d.png' -o out.vol",
     "slices/s_%02d.png: no slice file matches (tried numbers 0 and 1)\n", 1},
    {"raw_wrong_size",
     [](const fs::path& folder) {
         testfiles::writeBytes(folder / "in.raw", std::vector<unsigned char>(1000));
     },
     "convert in.raw --raw 16x16x16 -o out.vol",
     "in.raw: has 1000 bytes, expected 4096 for 16x16x16 with 1 channel(s)\n", 1},
    {"raw_size_malformed", nothing, "convert in.raw --raw 16x16 -o out.vol",
     "--raw 16x16: expected WIDTHxHEIGHTxDEPTH, each 1 to 65536\n", 2},
    {"raw_size_out_of_range", nothing, "convert in.raw --raw 16x0x16 -o out.vol",
     "--raw 16x0x16: expected WIDTHxHEIGHTxDEPTH, each 1 to 65536\n", 2},
    {"render_size_malformed", nothing, "render v.vol --size 12y -o out.png",
     "--size: expected W or WxH, got \"12y\"\n", 2},
    {"render_placement_short", nothing, "render v.vol --placement '1 0 0' -o out.png",
     "--placement: expected 16 numbers\n", 2},
    {"vdb_grid_absent", vdbWithTwoGrids, "convert smoke.vdb --grid temperature -o out.vol",
     "smoke.vdb: no grid named \"temperature\" (grids: density, heat)\n", 1},
    {"vdb_grid_unchosen", vdbWithTwoGrids, "convert smoke.vdb -o out.vol",
     "smoke.vdb: holds several grids (density, heat); choose one with --grid, or map them "
     "with --grid CHANNEL=NAME\n",
     1},
    {"vdb_grid_empty", vdbWithTwoGrids, "convert smoke.vdb --grid heat -o out.vol",
     "smoke.vdb: grid \"heat\" has no active voxels\n", 1},
    {"mitsuba_data_short",
     [](const fs::path& folder) {
         tooltest::writeForeignGrid(folder / "grid.vol", 1, {4, 4, 4}, 1, std::vector<float>(10));
     },
     "convert grid.vol -o out.vol", "grid.vol: grid data has 10 of 64 values\n", 1},
    {"mitsuba_encoding",
     [](const fs::path& folder) {
         tooltest::writeForeignGrid(folder / "grid.vol", 3, {2, 2, 2}, 1, std::vector<float>(8));
     },
     "convert grid.vol -o out.vol",
     "grid.vol: grid encoding 3 is not supported (only 1, float32)\n", 1},
    {"unrecognised_input",
     [](const fs::path& folder) {
         testfiles::writeBytes(folder / "notes.txt", {'h', 'i'});
     },
     "convert notes.txt -o out.vol", "notes.txt: not a volume this tool reads (", 1},
    {"output_folder_missing", nothing, "make cloud -o nowhere/out.vol",
     "nowhere/out.vol: cannot write (No such file or directory)\n", 1},
    {"output_is_a_folder", [](const fs::path& folder) { fs::create_directory(folder / "out.vol"); },
     "make gradient -o out.vol", "out.vol: cannot write (Is a directory)\n", 1},
    {"odd_checker_cells", nothing, "make checker --cells 3 -o out.vol",
     "--cells: must be an even number from 2 to 128\n", 2},
    {"frames_malformed", nothing, "info v.#.vol --frames 9-3",
     "--frames: \"9-3\": a range runs from low to high by a step of 1 or more\n", 2},
    {"frames_step_without_range", nothing, "info v.#.vol --frames 5x2", "--frames: ", 2},
    {"frames_too_many", nothing, "info v.#.vol --frames 1-999999999", "--frames: ", 2},
    {"frames_without_field", nothing, "convert in.vol -o out.#.vol --frames 1-3",
     "--frames: the input and the output both need a frame field such as ####\n", 2},
    {"sequence_output_without_field", nothing, "render v.#.vol -o out.png",
     "out.png: a sequence's output needs a frame field such as ####\n", 2},
    {"output_format_unknown", nothing, "convert in.vol -o out.unknown",
     "--output: cannot tell the format of \"out.unknown\" from its name; choose it with --to\n", 2},
    {"sequence_matches_nothing", nothing, "convert v.#.vdb -o v.#.vol",
     "v.#.vdb: no frame matches\n", 1},
    {"bounds_without_extent", vdbWithTwoGrids, "convert smoke.vdb -o out.vol --bounds 0 0 0 0 1 1",
     "--bounds: each maximum must be above its minimum (x: 0 to 0)\n", 2},
    {"bounds_inverted", vdbWithTwoGrids, "convert smoke.vdb -o out.vol --bounds 0 0 0 1 -1 1",
     "--bounds: each maximum must be above its minimum (y: 0 to -1)\n", 2},
    {"bounds_malformed", vdbWithTwoGrids, "convert smoke.vdb -o out.vol --bounds 0 0 0 1",
     "--bounds: expected union, domain or X0 Y0 Z0 X1 Y1 Z1\n", 2},
    {"index_bounds_inverted", vdbWithTwoGrids,
     "convert smoke.vdb -o out.vol --index-bounds 0 0 5 9 9 4",
     "--index-bounds: each last index must be at least its first (k: 5 to 4)\n", 2},
    {"bounds_conflict", vdbWithTwoGrids,
     "convert smoke.vdb -o out.vol --bounds union --index-bounds 0 0 0 1 1 1", "--", 2},
    {"range_empty", vdbWithTwoGrids, "convert smoke.vdb -o out.vol --grid density --range 2 2",
     "--range 2 2: HI must be above LO\n", 2},
    {"range_channel_unknown", vdbWithTwoGrids, "convert smoke.vdb -o out.vol --range x=0 1",
     "--range x=0 1: unknown channel \"x\" (expected r, g, b, a or rgb)\n", 2},
    {"map_grid_absent", vdbWithTwoGrids, "convert smoke.vdb -o out.vol --grid a=flame",
     "--grid flame: smoke.vdb has no grid named \"flame\" (grids: density, heat)\n", 2},
    {"map_grid_wrong_type", vdbWithTwoGrids, "convert smoke.vdb -o out.vol --grid rgb=density",
     "--grid density: grid \"density\" of smoke.vdb holds float values; rgb= takes a vec3s "
     "grid\n",
     2},
    {"map_channel_twice", vdbWithTwoGrids,
     "convert smoke.vdb -o out.vol --grid rgb=colour --grid g=density",
     "--grid g=density: channel g is mapped twice\n", 2},
    {"map_with_lone_grid", vdbWithTwoGrids,
     "convert smoke.vdb -o out.vol --grid density --grid a=heat",
     "--grid a=heat: a channel map cannot go with a single grid NAME; map that one too, as "
     "CHANNEL=NAME\n",
     2},
    {"bounds_on_other_input",
     [](const fs::path& folder) {
         tooltest::writeForeignGrid(folder / "grid.vol", 1, {2, 2, 2}, 1, std::vector<float>(8));
     },
     "convert grid.vol -o out.vol --bounds union",
     "--bounds: applies to OpenVDB inputs only, and grid.vol is not one\n", 2},
    {"domain_not_named", vdbWithTwoGrids,
     "convert smoke.vdb -o out.vol --grid density --bounds domain",
     "smoke.vdb: names no simulation domain (no grid has file_base_resolution metadata); use "
     "--bounds union or --bounds X0 Y0 Z0 X1 Y1 Z1\n",
     1},
    {"frame_field_too_wide", nothing, "info v.%0999999999d.vol",
     "v.%0999999999d.vol: a frame field is at most 255 digits wide\n", 2},
};

class BadInput : public testing::TestWithParam<BadInputCase> {};

TEST_P(BadInput, OneLineErrorAndNoOutput) {
    const BadInputCase& c = GetParam();
    const testfiles::ScratchFolder folder;
    c.prepare(folder.path());
    const std::vector<std::string> before = tooltest::folderListing(folder.path());

    const tooltest::ToolRun run = tooltest::runVoxlum(folder.path(), c.arguments);
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("voxlum: error: " + std::string(c.errorStart), 0), 0u) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(run.err.back(), '\n');
    EXPECT_EQ(tooltest::folderListing(folder.path()), before);
}

INSTANTIATE_TEST_SUITE_P(Cases, BadInput, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<BadInputCase>& testCase) {
                             return std::string(testCase.param.name);
                         });

}  // namespace
