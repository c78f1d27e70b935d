// `voxlum compare`: the tolerances decide the exit status, and the report says by how much.
#include <gtest/gtest.h>

#include "ToolTestSupport.h"
#include "VolumeFiles.h"

namespace {

struct CompareCase {
    const char* name;
    const char* arguments;
    int exitCode;
    const char* reported;  // a line the report must hold
};

void PrintTo(const CompareCase& c, std::ostream* out) { *out << c.name; }

// "slightly" has three voxels whose red is 2 higher than in "original"; "very" is another
// volume altogether; "rgb" holds the colours of "opaque" without its alpha of 255.
const CompareCase kCases[] = {
    {"equal", "original.vol original.vol", 0, "voxels differing: 0 of 2097152\n"},
    {"slightly", "original.vol slightly.vol", 4, "red                       2                 3\n"},
    {"slightly_within_fail", "original.vol slightly.vol --fail 2", 0,
     "voxels differing by more than 2: 0, tolerated 0\n"},
    {"slightly_over_fail", "original.vol slightly.vol --fail 1", 4, "over tolerance\n"},
    {"slightly_within_failcount", "original.vol slightly.vol --failcount 3", 0,
     "within tolerance\n"},
    {"slightly_over_failcount", "original.vol slightly.vol --failcount 2", 4, "over tolerance\n"},
    {"very", "original.vol very.vol --fail 20 --failcount 1000", 4, "over tolerance\n"},
    {"missing_alpha_reads_opaque", "rgb.vol opaque.vol", 0, "within tolerance\n"},
    {"another_format", "original.vol original.vdb", 0, "within tolerance\n"},
};

class Compared : public testing::TestWithParam<CompareCase> {
  protected:
    static void SetUpTestSuite() {
        folder_ = new testfiles::ScratchFolder;
        std::vector<unsigned char> body = testfiles::randomBody(4, 5);
        testfiles::writeBytes(folder_->file("original.vol"), testfiles::volumeBytes({}, body));
        for (std::size_t voxel : {0u, 1000u, 2097151u})
            body[4 * voxel] = body[4 * voxel] < 128 ? body[4 * voxel] + 2 : body[4 * voxel] - 2;
        testfiles::writeBytes(folder_->file("slightly.vol"), testfiles::volumeBytes({}, body));
        const std::vector<unsigned char> rgb = testfiles::randomBody(3, 6);
        std::vector<unsigned char> opaque;
        for (std::size_t i = 0; i < rgb.size(); i += 3) {
            opaque.insert(opaque.end(), rgb.begin() + std::ptrdiff_t(i),
                          rgb.begin() + std::ptrdiff_t(i) + 3);
            opaque.push_back(255);
        }
        testfiles::VolumeHeaderFields fields;
        fields.channelCount = 3;
        testfiles::writeBytes(folder_->file("rgb.vol"), testfiles::volumeBytes(fields, rgb));
        testfiles::writeBytes(folder_->file("opaque.vol"), testfiles::volumeBytes({}, opaque));
        // Checked by each test: a failure here would otherwise only mark them skipped.
        for (const char* arguments :
             {"make cloud -o very.vol", "convert original.vol -o original.vdb"}) {
            const tooltest::ToolRun run = tooltest::runVoxlum(folder_->path(), arguments);
            if (run.exitCode != 0) setUpFailure_ += std::string(arguments) + ": " + run.err;
        }
    }
    static void TearDownTestSuite() { delete folder_; }
    void SetUp() override { ASSERT_EQ(setUpFailure_, ""); }
    static testfiles::ScratchFolder* folder_;
    static std::string setUpFailure_;
};

testfiles::ScratchFolder* Compared::folder_ = nullptr;
std::string Compared::setUpFailure_;

TEST_P(Compared, ExitStatusAndReport) {
    const CompareCase& c = GetParam();
    const tooltest::ToolRun run =
        tooltest::runVoxlum(folder_->path(), std::string("compare ") + c.arguments);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
    EXPECT_NE(run.out.find(c.reported), std::string::npos) << run.out;
    EXPECT_EQ(run.err.empty(), c.exitCode == 0) << run.err;
}

INSTANTIATE_TEST_SUITE_P(Volumes, Compared, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<CompareCase>& testCase) {
                             return std::string(testCase.param.name);
                         });

}  // namespace
