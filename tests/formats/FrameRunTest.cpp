// What a command's names mean, decided once in the library: one file, a sequence, a slice stack;
// and frames run side by side with their reports in order.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <thread>

#include "ConvertRun.h"
#include "FormatError.h"
#include "FrameRun.h"
#include "Patterns.h"
#include "VolumeFiles.h"

namespace {

using Kind = InputSource::Kind;

struct NamingCase {
    const char* name;
    const char* input;
    const char* output;
    SequenceRule rule;
    std::vector<int> framesOnDisk;
    // Frames listed as --frames lists them, instead of those on disk.
    bool listed;
    // The frames run, empty for a single file, and the kind of the first file read.
    std::vector<int> frames;
    Kind firstKind;
};

const NamingCase kNamings[] = {
    {"frames_on_disk",
     "v.####.vol",
     "",
     SequenceRule::kInputField,
     {1, 3},
     false,
     {1, 3},
     Kind::kFile},
    {"slice_pattern_alone",
     "s_%03d.png",
     "out.vol",
     SequenceRule::kBothFields,
     {},
     false,
     {},
     Kind::kSlicePattern},
    {"slice_pattern_per_frame",
     "f.####/s_%03d.png",
     "o.####.vol",
     SequenceRule::kBothFields,
     {},
     true,
     {7},
     Kind::kSlicePattern},
    {"field_in_input_only_for_render",
     "v.@@.vol",
     "p.@@.png",
     SequenceRule::kInputField,
     {12},
     false,
     {12},
     Kind::kFile},
    {"folder", "slices", "out.vol", SequenceRule::kBothFields, {}, false, {}, Kind::kSliceFolder},
};

class Naming : public testing::TestWithParam<NamingCase> {
  protected:
    testfiles::ScratchFolder folder_;
};

TEST_P(Naming, DecidesTheInputsKindOnce) {
    const NamingCase& c = GetParam();
    std::filesystem::create_directory(folder_.file("slices"));
    const std::string input = folder_.file(c.input).string();
    const std::string output = *c.output ? folder_.file(c.output).string() : "";
    for (int frame : c.framesOnDisk)
        testfiles::writeBytes(NumberedName::find(input)->nameOf(frame), {1});
    const FrameRun run =
        planFrameRun(input, output, c.listed ? std::optional(c.frames) : std::nullopt, c.rule);
    EXPECT_EQ(run.frames, c.frames);
    EXPECT_EQ(run.sequence(), !c.frames.empty());
    EXPECT_EQ(inputSourceOf(run.inputPaths().front()).kind, c.firstKind);
}

INSTANTIATE_TEST_SUITE_P(Names, Naming, testing::ValuesIn(kNamings),
                         [](const auto& naming) { return naming.param.name; });

// The option a refusal names, for options that do not fit the names or the input.
TEST(Planning, RefusesOptionsThatDoNotFitTheInput) {
    testfiles::ScratchFolder folder;
    const std::string volume = folder.file("a.vol").string();
    writeVolumeFile(volume, makePattern({}));
    const auto refusal = [](const std::function<void()>& plan) -> std::string {
        try {
            plan();
        } catch (const OptionError& error) {
            return error.subject();
        }
        return "accepted";
    };
    const auto convert = [&](ConvertOptions options, std::optional<RawLayout> raw = {}) {
        planConversion(volume, volume + ".out.vol", std::nullopt, options, raw,
                       VolumeFileFormat::kVoxlum);
    };
    ConvertOptions grid, box, indexBox, automatic;
    grid.grids.lone = "density";
    box.bounds = BoundsChoice{};
    indexBox.bounds = BoundsChoice{};
    indexBox.bounds->kind = BoundsChoice::Kind::kIndex;
    automatic.ranges[kAlpha].automatic = true;
    EXPECT_EQ(refusal([&] { convert(grid); }), "--grid");
    EXPECT_EQ(refusal([&] { convert(box); }), "--bounds");
    EXPECT_EQ(refusal([&] { convert(indexBox); }), "--index-bounds");
    EXPECT_EQ(refusal([&] { convert(automatic); }), "--range auto");
    EXPECT_EQ(refusal([&] { convert({}, RawLayout{{4, 4, 4}, 5}); }), "--raw-channels 5");
    EXPECT_EQ(refusal([&] { convert({}, RawLayout{{4, 70000, 4}, 1}); }), "--raw 4x70000x4");
    EXPECT_EQ(
        refusal([&] { planFrameRun(volume, "", std::vector<int>{1}, SequenceRule::kInputField); }),
        "--frames");
    EXPECT_EQ(refusal([&] { convert({}); }), "accepted");
    EXPECT_FALSE(std::filesystem::exists(volume + ".out.vol"));
}

// Later frames finish first, one frame fails: reports still arrive in frame order, one at a
// time, and the failure is reported with the others done.
TEST(Frames, ReportInOrderWhateverFinishesFirst) {
    const std::vector<int> frames{1, 2, 3, 4, 5, 6};
    std::vector<int> delivered;
    std::vector<std::string> errors;
    forEachFrame(
        frames, 3,
        [](int frame, FrameReport& report) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10 * (7 - frame)));
            if (frame == 4) throw FormatError("frame 4", "unreadable");
            report.out = std::to_string(frame);
        },
        [&](int frame, const FrameReport& report) {
            delivered.push_back(frame);
            EXPECT_EQ(report.index, std::size_t(frame - 1));
            if (report.error.empty()) {
                EXPECT_EQ(report.out, std::to_string(frame));
            } else {
                errors.push_back(report.error);
            }
        });
    EXPECT_EQ(delivered, frames);
    EXPECT_EQ(errors, std::vector<std::string>{"frame 4: unreadable"});
}

}  // namespace
