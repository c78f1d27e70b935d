// Fuzzes what the voxlum tool parses from its users: frame lists, numbered file names, the
// header and values of Mitsuba-style grids, and the grid maps, boxes and value ranges of
// OpenVDB conversions. The first byte picks the parser, the rest is its
// input. A parser must refuse its input with a FormatError about that input, or accept it with
// results that hold together; any other exception is a finding too.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ForeignVolume.h"
#include "FormatError.h"
#include "FramePattern.h"
#include "FuzzInput.h"
#include "GridOptions.h"
#include "VolumeFiles.h"

namespace {

namespace fs = std::filesystem;
namespace layout = fuzzinput::toolinput;

// Longer lists are not checked frame by frame: shorter ones reach the same code.
constexpr std::size_t kMaxCheckedFrames = 1000;
// Numbers named through every pattern: zero, narrower and wider than the usual fields, the
// widest frame number.
constexpr int kNumbers[] = {0, 7, 12, 13, 1001, 999999999};
const std::string kGridPath = "grid.vol";

// The folder numbered names are looked up in. Frame 12 is there at the width "##" has and at
// the eight digits it had earlier, frame 13 at the earlier width only, frame 7 for "#" and "@".
struct Fixture {
    testfiles::ScratchFolder folder;
    const std::string prefix = folder.path().string() + "/";

    Fixture() {
        // The folder's own path must not hold the field the input's name is to hold.
        FUZZ_CHECK(!NumberedName::find(prefix).has_value());
        for (const char* name :
             {"f.12.vol", "f.00000012.vol", "f.00000013.vol", "f.0007.vol", "f.7.vol"})
            testfiles::writeBytes(folder.file(name), {});
    }
};

const Fixture& fixture() {
    static const Fixture instance;
    return instance;
}

bool isAbout(const FormatError& error, const std::string& subject) {
    return std::string(error.what()).rfind(subject + ": ", 0) == 0;
}

void checkFrameList(const std::string& text) {
    std::vector<int> frames;
    try {
        frames = parseFrameList(text);
    } catch (const FormatError& error) {
        FUZZ_CHECK(isAbout(error, "--frames " + text));
        return;
    }
    FUZZ_CHECK(!frames.empty());
    FUZZ_CHECK(std::all_of(frames.begin(), frames.end(), [](int frame) { return frame >= 0; }));
    if (frames.size() > kMaxCheckedFrames) return;
    FUZZ_CHECK(std::set<int>(frames.begin(), frames.end()).size() == frames.size());
    std::string list;
    for (int frame : frames) list += (list.empty() ? "" : ",") + std::to_string(frame);
    FUZZ_CHECK(parseFrameList(list) == frames);
}

// `text` names files in the fixture's folder.
void checkNumberedName(const std::string& text) {
    const std::string path = fixture().prefix + text;
    std::optional<NumberedName> name;
    try {
        name = NumberedName::find(path);
    } catch (const FormatError& error) {
        FUZZ_CHECK(isAbout(error, path));
        return;
    }
    if (!name) {
        FUZZ_CHECK(text.find_first_of("#@") == std::string::npos);
        return;
    }
    FUZZ_CHECK(name->text() == path);
    std::set<std::string> outputs;
    for (int number : kNumbers) {
        const std::string output = name->nameOf(number);
        FUZZ_CHECK(output.find(std::to_string(number)) != std::string::npos);
        outputs.insert(output);
        // A name at the earlier width only stands in for a missing file.
        const std::string input = name->inputNameOf(number);
        FUZZ_CHECK(input == output || (!fs::exists(output) && fs::exists(input)));
    }
    FUZZ_CHECK(outputs.size() == std::size(kNumbers));
    // Only the fixture's folder is listed.
    if (text.find('/') == std::string::npos)
        for (int number : name->numbersOnDisk()) FUZZ_CHECK(fs::exists(name->inputNameOf(number)));
}

void checkForeignGrid(const std::vector<unsigned char>& bytes) {
    ForeignGridHeader header;
    try {
        header = readForeignGridHeader(kGridPath, bytes);
    } catch (const FormatError& error) {
        FUZZ_CHECK(bytes.size() < kForeignHeaderSize && isAbout(error, kGridPath));
        return;
    }
    Lattice lattice;
    try {
        lattice = readForeignGrid(kGridPath, bytes);
    } catch (const FormatError& error) {
        FUZZ_CHECK(isAbout(error, kGridPath));
        return;
    }
    FUZZ_CHECK(header.encoding == kForeignFloat32Encoding);
    FUZZ_CHECK(lattice.size == header.resolution && lattice.channels == header.channels);
    FUZZ_CHECK(lattice.values.size() == lattice.voxelCount() * std::size_t(lattice.channels));
    FUZZ_CHECK(kForeignHeaderSize + 4 * lattice.values.size() <= bytes.size());
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find(separator, start)) != std::string::npos; start = end + 1)
        parts.push_back(text.substr(start, end - start));
    parts.push_back(text.substr(start));
    return parts;
}

// Runs `parse`; a refusal must be a OptionError naming `option`. Returns whether it accepted.
template <typename Parse>
bool parsedOrRefused(const std::string& option, Parse parse) {
    try {
        parse();
        return true;
    } catch (const OptionError& error) {
        FUZZ_CHECK(std::string(error.what()).rfind(option, 0) == 0);
        return false;
    }
}

void checkGridMap(const std::vector<std::string>& values) {
    GridSelection selection;
    if (!parsedOrRefused("--grid", [&] { selection = parseGridSelection(values); })) return;
    FUZZ_CHECK(selection.lone.empty() || selection.map.empty());
    std::set<int> channels;
    std::size_t mapped = 0;
    for (const GridMapping& mapping : selection.map) {
        FUZZ_CHECK(!mapping.grid.empty());
        FUZZ_CHECK(mapping.channels.size() == (mapping.vector ? 3u : 1u));
        channels.insert(mapping.channels.begin(), mapping.channels.end());
        mapped += mapping.channels.size();
    }
    FUZZ_CHECK(channels.size() == mapped);
    FUZZ_CHECK(channels.empty() || (*channels.begin() >= 0 && *channels.rbegin() < kRgbaChannels));
}

void checkBounds(const std::vector<std::string>& words) {
    BoundsChoice bounds;
    if (!parsedOrRefused("--bounds", [&] { bounds = parseBounds(words); })) return;
    if (bounds.kind != BoundsChoice::Kind::kWorld) {
        FUZZ_CHECK(words.size() == 1);
        return;
    }
    for (std::size_t axis = 0; axis < 3; ++axis)
        FUZZ_CHECK(bounds.world.min[axis] < bounds.world.max[axis]);
    // A box printed by `voxlum bounds` reads back as the very same box.
    const BoundsChoice again = parseBounds(split(formatBox(bounds.world), ' '));
    FUZZ_CHECK(again.world.min == bounds.world.min && again.world.max == bounds.world.max);
}

void checkIndexBounds(const std::vector<std::string>& words) {
    BoundsChoice bounds;
    if (!parsedOrRefused("--index-bounds", [&] { bounds = parseIndexBounds(words); })) return;
    for (std::size_t axis = 0; axis < 3; ++axis)
        FUZZ_CHECK(bounds.firstIndex[axis] <= bounds.lastIndex[axis]);
}

void checkRanges(const std::string& text) {
    std::vector<std::vector<std::string>> occurrences;
    for (const std::string& occurrence : split(text, ';'))
        occurrences.push_back(split(occurrence, ' '));
    ChannelRanges ranges;
    if (!parsedOrRefused("--range", [&] { ranges = parseRanges(occurrences); })) return;
    for (const ValueRange& range : ranges)
        FUZZ_CHECK(range.automatic || (std::isfinite(range.low) && range.low < range.high &&
                                       std::isfinite(range.high)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzinput::ByteReader input(data, size);
    const auto parser = input.take<std::uint8_t>();
    const std::vector<std::uint8_t> rest = input.rest();
    // Text typed on a command line ends at its first NUL, as an argument does.
    const std::string text(rest.begin(), std::find(rest.begin(), rest.end(), 0));
    switch (parser) {
        case layout::kFrameList:
            checkFrameList(text);
            break;
        case layout::kNumberedName:
            checkNumberedName(text);
            break;
        case layout::kForeignGrid:
            checkForeignGrid(rest);
            break;
        case layout::kGridMap:
            checkGridMap(split(text, ' '));
            break;
        case layout::kBounds:
            checkBounds(split(text, ' '));
            break;
        case layout::kIndexBounds:
            checkIndexBounds(split(text, ' '));
            break;
        case layout::kRanges:
            checkRanges(text);
            break;
        default:
            break;
    }
    return 0;
}
