// Writes the fuzzers' seed corpora: OUT/loader holds one input per load outcome (every code
// and a success for 3, 4 and 5 channels), OUT/node a few operation sequences over the node's
// generated files and hostile names, OUT/tool_input frame lists, numbered names and grids,
// good and bad, for each of the tool's parsers.
//
// usage: make_fuzz_corpus OUT
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "FuzzInput.h"
#include "VolumeFiles.h"

namespace {

using fuzzinput::ByteWriter;
using testfiles::VolumeHeaderFields;
namespace loader = fuzzinput::loader;
namespace ops = fuzzinput::node;
namespace parsers = fuzzinput::toolinput;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// Sample coordinates that stress the wrap: non-finite, signed zero, huge, just below 0, lattice
// planes and their midpoints.
const float kCoordinates[][3] = {
    {0.5f, 0.25f, 0.75f},
    {kNaN, kInf, -kInf},
    {-0.0f, 1.0f, 1e30f},
    {-1e-10f, 1.0f / 128, 127.5f / 128},
    {8388608.5f, -3.75f, 0.999999f},
};

std::vector<std::uint8_t> loaderInput(std::uint8_t flags, const std::vector<unsigned char>& file) {
    ByteWriter input;
    input.put(flags);
    for (int i = 0; i < loader::kPoints; ++i)
        for (float c : kCoordinates[(i + flags) % std::size(kCoordinates)]) input.put(c);
    return input.putBytes(file).bytes();
}

std::vector<unsigned char> header(VolumeHeaderFields fields) {
    return testfiles::headerBytes(fields);
}

// A header followed by a few body bytes holding the extremes, so the first records differ.
std::vector<unsigned char> headerAndBodyStart(std::int32_t channels) {
    VolumeHeaderFields fields;
    fields.channelCount = channels;
    auto bytes = testfiles::headerBytes(fields);
    for (int i = 0; i < 64; ++i) bytes.push_back(static_cast<unsigned char>(i % 2 ? 255 : i * 4));
    return bytes;
}

std::vector<std::pair<std::string, std::vector<std::uint8_t>>> loaderSeeds() {
    const std::uint8_t extend = loader::kExtendToDeclaredBody;
    const std::uint8_t loaded = loader::kIntoLoadedStore;
    auto shortHeader = header({});
    shortHeader.resize(100);
    return {
        {"loads-rgba", loaderInput(extend | loaded, headerAndBodyStart(4))},
        {"loads-rgb", loaderInput(extend, headerAndBodyStart(3))},
        {"loads-five-channels", loaderInput(extend | loaded, headerAndBodyStart(5))},
        {"body-one-byte-short",
         loaderInput(extend | loaded | loader::kOneByteShort, headerAndBodyStart(4))},
        {"header-without-body", loaderInput(loaded, header({}))},
        {"bad-magic", loaderInput(loaded, header({"VOLX", 4, 128, 4, 1}))},
        {"empty-file", loaderInput(loaded, {})},
        {"short-header", loaderInput(loaded, shortHeader)},
        {"bad-version", loaderInput(loaded, header({"VOLU", 3, 128, 4, 1}))},
        {"bad-encoding", loaderInput(loaded, header({"VOLU", 4, 128, 4, 2}))},
        {"edge-length-64", loaderInput(loaded, header({"VOLU", 4, 64, 4, 1}))},
        {"two-channels", loaderInput(loaded, header({"VOLU", 4, 128, 2, 1}))},
        {"body-over-2-gib", loaderInput(loaded, header({"VOLU", 4, 128, 1024, 1}))},
    };
}

class Ops {
  public:
    Ops& file(std::size_t index) {
        input_.put(std::uint8_t{ops::kSetGeneratedFile}).put(static_cast<std::uint8_t>(index));
        return *this;
    }
    Ops& name(const std::string& text, bool appendExtension) {
        input_.put(std::uint8_t{ops::kSetName})
            .put(static_cast<std::uint8_t>(text.size() |
                                           (appendExtension ? ops::kAppendExtension : 0)))
            .putBytes({text.begin(), text.end()});
        return *this;
    }
    Ops& point(float x, float y, float z) {
        input_.put(std::uint8_t{ops::kSetPoint}).put(x).put(y).put(z);
        return *this;
    }
    Ops& matrix(float diagonal, float translation) {
        input_.put(std::uint8_t{ops::kSetMatrix});
        for (int row = 0; row < 4; ++row)
            for (int column = 0; column < 4; ++column)
                input_.put(row == column ? diagonal : (row == 3 ? translation : 0.0f));
        return *this;
    }
    Ops& read() {
        input_.put(std::uint8_t{ops::kReadOutputs});
        return *this;
    }
    Ops& recreate() {
        input_.put(std::uint8_t{ops::kRecreateNode});
        return *this;
    }
    const std::vector<std::uint8_t>& bytes() const { return input_.bytes(); }

  private:
    ByteWriter input_;
};

std::vector<std::pair<std::string, std::vector<std::uint8_t>>> nodeSeeds() {
    Ops everyFile;
    everyFile.point(0.3f, 0.4f, 0.5f);
    for (std::size_t i = 0; i < ops::generatedFiles().size(); ++i) everyFile.file(i).read();
    return {
        {"every-generated-file", everyFile.bytes()},
        {"hostile-names", Ops()
                              .file(1)
                              .read()
                              .name("/dev/zero", false)
                              .name("/dev/urandom", true)
                              .name("", false)
                              .name("\xff\xfe/\xc3\xa9t\xc3\xa9", true)
                              .read()
                              .bytes()},
        {"non-finite-placement", Ops()
                                     .file(0)
                                     .matrix(kInf, kNaN)
                                     .read()
                                     .matrix(1e30f, -1e-30f)
                                     .point(kNaN, -0.0f, 3e38f)
                                     .read()
                                     .bytes()},
        {"recreated-node", Ops().file(0).read().recreate().read().file(4).read().bytes()},
    };
}

std::vector<std::uint8_t> toolInput(parsers::Parser parser, const std::string& text) {
    return ByteWriter().put(std::uint8_t{parser}).putBytes({text.begin(), text.end()}).bytes();
}

// A grid header, then `values` float32 values whatever the header asks for.
std::vector<std::uint8_t> gridInput(std::int32_t encoding, std::array<std::int32_t, 3> size,
                                    std::int32_t channels, std::size_t values) {
    ByteWriter grid;
    grid.put(std::uint8_t{parsers::kForeignGrid}).putBytes({'V', 'O', 'L', 3}).put(encoding);
    for (std::int32_t extent : size) grid.put(extent);
    grid.put(channels);
    for (float bound : {0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 1.0f}) grid.put(bound);
    for (std::size_t i = 0; i < values; ++i) grid.put(float(i % 5) / 4);
    return grid.bytes();
}

std::vector<std::pair<std::string, std::vector<std::uint8_t>>> toolInputSeeds() {
    struct TextSeed {
        parsers::Parser parser;
        const char* name;
        const char* text;
    };
    const TextSeed texts[] = {
        {parsers::kFrameList, "frames-range", "1001-1100"},
        {parsers::kFrameList, "frames-one", "7"},
        {parsers::kFrameList, "frames-step", "1-100x4"},
        {parsers::kFrameList, "frames-list", "7,1-3,2,5-9x2"},
        {parsers::kFrameList, "frames-backwards", "9-3"},
        {parsers::kFrameList, "frames-step-alone", "5x2"},
        {parsers::kFrameList, "frames-too-many", "1-999999999"},
        {parsers::kFrameList, "frames-empty-item", "1,,2"},
        {parsers::kNumberedName, "name-hashes", "f.####.vol"},
        {parsers::kNumberedName, "name-two-hashes", "f.##.vol"},
        {parsers::kNumberedName, "name-lone-hash", "f.#.vol"},
        {parsers::kNumberedName, "name-mixed", "f.#@.vol"},
        {parsers::kNumberedName, "name-ats", "f.@@@.vol"},
        {parsers::kNumberedName, "name-zero-padded", "f.%04d.vol"},
        {parsers::kNumberedName, "name-space-padded", "f.%4d.vol"},
        {parsers::kNumberedName, "name-printf", "f.%d.vol"},
        {parsers::kNumberedName, "name-per-frame", "f.####/z_%03d.png"},
        {parsers::kNumberedName, "name-no-field", "f.%%x.vol"},
        {parsers::kGridMap, "map-blender", "r=color_r g=color_g b=color_b a=density"},
        {parsers::kGridMap, "map-houdini", "rgb=Cd a=density"},
        {parsers::kGridMap, "map-lone", "density"},
        {parsers::kGridMap, "map-twice", "rgb=Cd g=density"},
        {parsers::kBounds, "bounds-union", "union"},
        {parsers::kBounds, "bounds-domain", "domain"},
        {parsers::kBounds, "bounds-world", "-1.925 -2.025 -2.025 12.025 2.025 2.025"},
        {parsers::kBounds, "bounds-flat", "0 0 0 0 1 1"},
        {parsers::kIndexBounds, "index-bounds", "0 0 0 127 63 31"},
        {parsers::kIndexBounds, "index-bounds-inverted", "0 0 5 9 9 4"},
        {parsers::kRanges, "ranges-one", "0 2.5"},
        {parsers::kRanges, "ranges-auto", "auto"},
        {parsers::kRanges, "ranges-channels", "rgb=0 5;a=auto;r=1e-3 7"},
        {parsers::kRanges, "ranges-empty", "2 2"},
    };
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> seeds;
    for (const TextSeed& seed : texts)
        seeds.emplace_back(seed.name, toolInput(seed.parser, seed.text));
    seeds.insert(seeds.end(), {
                                  {"grid-density", gridInput(1, {2, 3, 4}, 1, 24)},
                                  {"grid-colour", gridInput(1, {2, 2, 2}, 3, 24)},
                                  {"grid-half-floats", gridInput(2, {2, 2, 2}, 4, 32)},
                                  {"grid-no-extent", gridInput(1, {0, 2, 2}, 1, 0)},
                                  {"grid-values-short", gridInput(1, {4, 4, 4}, 1, 10)},
                                  {"grid-two-channels", gridInput(1, {1, 1, 1}, 2, 2)},
                              });
    return seeds;
}

void writeSeeds(const std::filesystem::path& folder,
                const std::vector<std::pair<std::string, std::vector<std::uint8_t>>>& seeds) {
    std::filesystem::create_directories(folder);
    for (const auto& [name, bytes] : seeds) testfiles::writeBytes(folder / name, bytes);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT\n", argv[0]);
        return 2;
    }
    writeSeeds(std::filesystem::path(argv[1]) / "loader", loaderSeeds());
    writeSeeds(std::filesystem::path(argv[1]) / "node", nodeSeeds());
    writeSeeds(std::filesystem::path(argv[1]) / "tool_input", toolInputSeeds());
    return 0;
}
