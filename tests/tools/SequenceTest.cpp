// Frame sequences: which frames a pattern names, and a batch that goes on past a bad frame.
#include <gtest/gtest.h>

#include <regex>

#include "ToolTestSupport.h"
#include "VolumeFiles.h"

namespace {

namespace fs = std::filesystem;
using tooltest::runVoxlum;

// Frames 1, 2, 3, 5, 6 and 7 on disk, frame 6 not a volume; frame 4 is a gap. Frame 1001 has
// five digits, 12 three and eight (as earlier releases named it for "##"), 13 two and eight.
class Sequence : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(runVoxlum(folder_.path(), "make gradient --channels 3 -o src.0001.vol").exitCode,
                  0);
        for (const char* frame :
             {"0002", "0003", "0005", "0007", "01001", "012", "00000012", "13", "00000013"})
            fs::copy_file(folder_.file("src.0001.vol"),
                          folder_.file("src." + std::string(frame) + ".vol"));
        testfiles::writeBytes(folder_.file("src.0006.vol"), {'V', 'O', 'L', 'U', 0});
    }

    // The numbers of the files `info` described, as their names spell them, in order.
    std::string describedNumbers(const std::string& arguments) {
        const tooltest::ToolRun run = runVoxlum(folder_.path(), "info " + arguments);
        std::string numbers;
        const std::regex file("file: src\\.([0-9]+)\\.vol");
        for (auto match = std::sregex_iterator(run.out.begin(), run.out.end(), file);
             match != std::sregex_iterator(); ++match)
            numbers += (numbers.empty() ? "" : " ") + (*match)[1].str();
        return numbers;
    }

    testfiles::ScratchFolder folder_;
};

TEST_F(Sequence, PatternsAndFrameListsNameTheirFrames) {
    const char* const frames = "0001 0002 0003 0005 0006 0007";
    const std::pair<const char*, const char*> cases[] = {
        {"src.#.vol", frames},
        {"src.####.vol", frames},
        {"src.@@@@.vol", frames},
        {"'src.%04d.vol'", frames},
        {"src.#.vol --frames 2-3", "0002 0003"},
        {"src.#.vol --frames 1-7x2", "0001 0003 0005 0007"},
        {"src.#.vol --frames 5", "0005"},
        {"src.#.vol --frames 7,1-3,2", "0007 0001 0002 0003"},
        {"src.@@@.vol", "012"},
        {"src.@.vol --frames 13", "13"},
        {"src.@@@@@.vol --frames 1001", "01001"},
        {"src.#####.vol --frames 1001", "01001"},
        // Runs of '#' also find files at the width earlier releases gave them, preferring the
        // width of today.
        {"src.##.vol", "00000012 13"},
        {"src.##.vol --frames 13,12", "13 00000012"},
        {"src.#@.vol", "13 01001"},
    };
    for (const auto& [arguments, numbers] : cases)
        EXPECT_EQ(describedNumbers(arguments), numbers) << arguments;
}

struct BatchCase {
    const char* name;
    const char* arguments;
    const char* outputPattern;  // printf form of the outputs' names
    const char* summary;
};

void PrintTo(const BatchCase& c, std::ostream* out) { *out << c.name; }

const BatchCase kBatches[] = {
    {"convert_frames_on_disk", "convert src.#.vol -o out.#.vdb", "out.%04d.vdb",
     "5 of 6 frames written\n"},
    {"render_frames_on_disk", "render src.#.vol -o pic.#.png --size 8", "pic.%04d.png",
     "5 of 6 frames rendered\n"},
};

class Batch : public Sequence, public testing::WithParamInterface<BatchCase> {};

// The bad frame is reported on its own line, the good frames are written, and no file, whole or
// partial, is left for the bad one.
TEST_P(Batch, GoesOnPastABadFrame) {
    const BatchCase& c = GetParam();
    std::vector<std::string> expected = tooltest::folderListing(folder_.path());
    const tooltest::ToolRun run = runVoxlum(folder_.path(), c.arguments);
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_EQ(run.out, c.summary);
    EXPECT_EQ(run.err.rfind("voxlum: error: src.0006.vol: ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find("\nvoxlum: error: 1 of 6 frames failed: 6\n"), std::string::npos)
        << run.err;
    for (int frame : {1, 2, 3, 5, 7}) {
        char name[64];
        std::snprintf(name, sizeof name, c.outputPattern, frame);
        expected.push_back(name);
    }
    std::sort(expected.begin(), expected.end());
    const tooltest::ToolRun again = runVoxlum(folder_.path(), "-q " + std::string(c.arguments));
    EXPECT_EQ(again.out, "");
    EXPECT_EQ(tooltest::folderListing(folder_.path()), expected);
}

INSTANTIATE_TEST_SUITE_P(Commands, Batch, testing::ValuesIn(kBatches),
                         [](const testing::TestParamInfo<BatchCase>& testCase) {
                             return std::string(testCase.param.name);
                         });

TEST_F(Sequence, ListedFramesThatAreMissingFailToo) {
    const tooltest::ToolRun run =
        runVoxlum(folder_.path(), "convert src.#.vol -o out.#.vol --frames 3-6");
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_EQ(run.out, "2 of 4 frames written\n");
    EXPECT_NE(run.err.find("src.0004.vol: no such file\n"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("voxlum: error: 2 of 4 frames failed: 4, 6\n"), std::string::npos)
        << run.err;
}

TEST_F(Sequence, EveryFrameFailingIsAFailure) {
    const tooltest::ToolRun run = runVoxlum(folder_.path(), "info src.#.vol --frames 4,6");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("voxlum: error: 2 of 2 frames failed: 4, 6\n"), std::string::npos)
        << run.err;
}

}  // namespace
