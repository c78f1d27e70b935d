// What every command shares: --version, -q and -v, errors on stderr only, and the exit codes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "ToolTestSupport.h"
#include "VolumeFiles.h"

namespace {

using tooltest::runVoxlum;

class CommandLine : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(runVoxlum(folder_.path(), "make checker -o a.vol").exitCode, 0);
    }
    testfiles::ScratchFolder folder_;
};

// Each command with the common options, given before or after its name.
const char* const kCommands[] = {"make marble -o made.vol", "info a.vol", "convert a.vol -o b.raw",
                                 "render a.vol -o a.png --size 8"};

TEST_F(CommandLine, VersionOnEveryCommand) {
    EXPECT_EQ(runVoxlum(folder_.path(), "--version").out, "voxlum 1.0\n");
    for (const char* command : kCommands) {
        const tooltest::ToolRun run =
            runVoxlum(folder_.path(), std::string(command) + " --version");
        EXPECT_EQ(run.exitCode, 0) << command;
        EXPECT_EQ(run.out, "voxlum 1.0\n") << command;
    }
}

TEST_F(CommandLine, QuietPrintsNothingVerboseSaysWhatWasWritten) {
    for (const char* command : kCommands) {
        const tooltest::ToolRun quiet = runVoxlum(folder_.path(), std::string(command) + " -q");
        EXPECT_EQ(quiet.exitCode, 0) << command << quiet.err;
        EXPECT_EQ(quiet.out, "") << command;
        EXPECT_EQ(quiet.err, "") << command;
        const tooltest::ToolRun shortQuiet =
            runVoxlum(folder_.path(), "-q " + std::string(command));
        EXPECT_EQ(shortQuiet.out, "") << command;

        const tooltest::ToolRun verbose =
            runVoxlum(folder_.path(), std::string(command) + " --verbose");
        EXPECT_EQ(verbose.exitCode, 0) << command << verbose.err;
        EXPECT_EQ(verbose.err, "") << command;
        if (std::string(command).rfind("info", 0) != 0 &&
            std::string(command).rfind("compare", 0) != 0) {
            EXPECT_NE(verbose.out.find("wrote "), std::string::npos) << command << verbose.out;
        }
    }
    EXPECT_EQ(runVoxlum(folder_.path(), "info a.vol -q -v").exitCode, 2);
}

// Started by its bare name, found along PATH as users start it, the tool finds the image module
// beside it (a picture and a slice stack are written through it).
TEST_F(CommandLine, FoundAlongPathItFindsItsImageModule) {
    const std::string searchPath = std::getenv("PATH");
    const std::string toolFolder = std::filesystem::path(VOXLUM_TOOL_PATH).parent_path().string();
    setenv("PATH", (toolFolder + ":" + searchPath).c_str(), 1);
    for (const char* command : {"render a.vol -o a.png --size 8", "convert a.vol -o s_%03d.png"}) {
        const tooltest::ToolRun run = runVoxlum(folder_.path(), command, "voxlum");
        EXPECT_EQ(run.exitCode, 0) << command << ": " << run.err;
    }
    setenv("PATH", searchPath.c_str(), 1);
}

// One case for every row of the exit-code table in tools/README.md.
TEST_F(CommandLine, EveryExitCodeOfTheTable) {
    testfiles::writeBytes(folder_.file("b.0002.vol"), {'x'});
    std::filesystem::copy_file(folder_.file("a.vol"), folder_.file("b.0001.vol"));
    ASSERT_EQ(runVoxlum(folder_.path(), "make gradient -o made.vol").exitCode, 0);
    const std::pair<const char*, int> cases[] = {
        {"info a.vol", 0},
        {"info b.0002.vol", 1},
        {"convert a.vol -o a.unknown", 2},
        {"info a.vol --no-such-option", 2},
        {"info b.#.vol", 3},
        {"compare a.vol b.0001.vol", 0},
        {"compare a.vol made.vol", 4},
    };
    for (const auto& [arguments, exitCode] : cases) {
        const tooltest::ToolRun run = runVoxlum(folder_.path(), arguments);
        EXPECT_EQ(run.exitCode, exitCode) << arguments;
        if (exitCode != 0) {
            EXPECT_NE(run.err.find("voxlum: error: "), std::string::npos) << arguments;
        }
        EXPECT_EQ(run.out.find("error"), std::string::npos) << arguments;
    }
}

}  // namespace
