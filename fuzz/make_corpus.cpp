// Writes the fuzzers' seed corpora: OUT/loader holds one input per load outcome (every code
// and a success for 3, 4 and 5 channels), OUT/node a few operation sequences over the node's
// generated files and hostile names.
//
// usage: make_fuzz_corpus OUT
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
    return 0;
}
