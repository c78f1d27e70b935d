// `voxlum info` on good and malformed files: stdout, stderr and exit status must match the
// expected files in golden/ exactly, and `info --json` must parse to the same value as the
// golden .json. After an intended change of the output, run the suite with
// VOXLUM_UPDATE_GOLDEN=1 to rewrite them, then review the difference.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <fstream>

#include "ToolTestSupport.h"
#include "VolumeFiles.h"

namespace {

using testfiles::VolumeHeaderFields;

struct InfoCase {
    const char* name;
    std::function<std::vector<unsigned char>()> bytes;
    int exitCode;
};

void PrintTo(const InfoCase& c, std::ostream* out) { *out << c.name; }

// A header edited by `edit`, followed by a random body of `bodyChannels` channels cut short
// by `missing` bytes.
std::vector<unsigned char> volumeFile(void (*edit)(VolumeHeaderFields&), std::int32_t bodyChannels,
                                      std::size_t missing = 0) {
    VolumeHeaderFields fields;
    edit(fields);
    auto bytes = testfiles::volumeBytes(fields, testfiles::randomBody(bodyChannels, 7));
    bytes.resize(bytes.size() - missing);
    return bytes;
}

void unchanged(VolumeHeaderFields&) {}

std::vector<unsigned char> foreignGrid() {
    const testfiles::ScratchFolder folder;
    tooltest::writeForeignGrid(folder.file("grid"), 1, {4, 2, 3}, 1, std::vector<float>(24, 0.5f));
    std::ifstream in(folder.file("grid"), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

const InfoCase kCases[] = {
    {"rgba", [] { return volumeFile(unchanged, 4); }, 0},
    // The loader ignores bytes after the body.
    {"rgb_trailing_bytes",
     [] { return volumeFile([](VolumeHeaderFields& f) { f.channelCount = 3; }, 4); }, 0},
    {"six_channels",
     [] { return volumeFile([](VolumeHeaderFields& f) { f.channelCount = 6; }, 6); }, 0},
    {"bad_magic", [] { return volumeFile([](VolumeHeaderFields& f) { f.magic = "VOLX"; }, 4); }, 1},
    {"two_bytes",
     [] {
         return std::vector<unsigned char>{'V', 'O'};
     },
     1},
    {"short_header",
     [] {
         auto header = testfiles::headerBytes({});
         header.resize(1000);
         return header;
     },
     1},
    {"short_body", [] { return volumeFile(unchanged, 4, 1000); }, 1},
    {"bad_version", [] { return volumeFile([](VolumeHeaderFields& f) { f.version = 3; }, 4); }, 1},
    {"bad_encoding", [] { return volumeFile([](VolumeHeaderFields& f) { f.encoding = 2; }, 4); },
     1},
    {"edge_64", [] { return volumeFile([](VolumeHeaderFields& f) { f.edgeLength = 64; }, 4); }, 1},
    {"two_channels",
     [] { return volumeFile([](VolumeHeaderFields& f) { f.channelCount = 2; }, 4); }, 1},
    {"mitsuba_grid", foreignGrid, 1},
};

std::string goldenPath(const std::string& name) {
    return std::string(VOXLUM_GOLDEN_DIR) + "/" + name;
}

std::string readGolden(const std::string& name) {
    std::ifstream in(goldenPath(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// `info OPTIONS FILE` on the case's file.
tooltest::ToolRun runInfo(const InfoCase& c, const std::string& options) {
    const testfiles::ScratchFolder folder;
    const std::string file = std::string(c.name) + ".vol";
    testfiles::writeBytes(folder.file(file), c.bytes());
    return tooltest::runVoxlum(folder.path(), "info " + options + file);
}

class InfoOutput : public testing::TestWithParam<InfoCase> {};

TEST_P(InfoOutput, MatchesGoldenFiles) {
    const InfoCase& c = GetParam();
    const tooltest::ToolRun run = runInfo(c, "");
    const std::string outName = std::string(c.name) + ".out",
                      errName = std::string(c.name) + ".err";
    if (std::getenv("VOXLUM_UPDATE_GOLDEN")) {
        std::ofstream(goldenPath(outName), std::ios::binary) << run.out;
        std::ofstream(goldenPath(errName), std::ios::binary) << run.err;
    }
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_EQ(run.out, readGolden(outName));
    EXPECT_EQ(run.err, readGolden(errName));
}

// Parsed back, not compared as text: the fields and their values are what scripts rely on.
TEST_P(InfoOutput, JsonMatchesGoldenFiles) {
    const InfoCase& c = GetParam();
    const tooltest::ToolRun run = runInfo(c, "--json ");
    const std::string jsonName = std::string(c.name) + ".json";
    if (std::getenv("VOXLUM_UPDATE_GOLDEN"))
        std::ofstream(goldenPath(jsonName), std::ios::binary) << run.out;
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_EQ(run.err, readGolden(std::string(c.name) + ".err"));
    const nlohmann::json actual = nlohmann::json::parse(run.out, nullptr, false);
    ASSERT_FALSE(actual.is_discarded()) << run.out;
    EXPECT_EQ(actual, nlohmann::json::parse(readGolden(jsonName))) << actual.dump(2);
    EXPECT_EQ(actual["node"]["loads"], c.exitCode == 0);
    EXPECT_EQ(actual.contains("reason"), c.exitCode != 0);
}

INSTANTIATE_TEST_SUITE_P(Files, InfoOutput, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<InfoCase>& testCase) {
                             return std::string(testCase.param.name);
                         });

}  // namespace
