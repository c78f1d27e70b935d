// Drives the Voxlum node through the stand-in host, as a scene would: the plug-in module is
// loaded once, then each input is a sequence of operations on a fresh node (file names good
// and hostile, arbitrary points and placement matrices, reads of the outputs). Outputs must
// always lie in [0, 1]; a file name the node refuses must show exactly one error and leave the
// outputs bit for bit as they were.
#include <maya/MFloatMatrix.h>
#include <maya/MFloatVector.h>
#include <sys/stat.h>
#include <voxlumhost/Host.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "VolumeFiles.h"

namespace {

namespace ops = fuzzinput::node;

// Each input runs at most this many operations. Once it has loaded kMaxLoads volumes it sets no
// more file names: every further load costs a full 8 MiB read and reaches nothing new.
constexpr int kMaxOperations = 32;
constexpr int kMaxLoads = 2;

struct GeneratedFiles {
    testfiles::ScratchFolder folder;

    GeneratedFiles() {
        const auto rgba = testfiles::volumeBytes({}, testfiles::randomBody(4, 71));
        write("rgba.vol", rgba);
        write("rgba.VOL", rgba);
        write("rgb.vol",
              testfiles::volumeBytes({"VOLU", 4, 128, 3, 1}, testfiles::randomBody(3, 72)));
        write("short-body.vol", {rgba.begin(), rgba.end() - 1});
        write("short-header.vol", {rgba.begin(), rgba.begin() + 200});
        write("bad-magic.vol", testfiles::headerBytes({"VOLX", 4, 128, 4, 1}));
        std::filesystem::create_directory(folder.file("folder.vol"));
        FUZZ_CHECK(::mkfifo(folder.file("pipe.vol").c_str(), 0600) == 0);
        std::filesystem::create_symlink("/dev/zero", folder.file("zero.vol"));
    }
    void write(const char* name, const std::vector<unsigned char>& bytes) {
        testfiles::writeBytes(folder.file(name), bytes);
    }
    std::string path(std::size_t index) const {
        const auto& names = ops::generatedFiles();
        return folder.file(names[index % names.size()]).string();
    }
};

const GeneratedFiles& generatedFiles() {
    static const GeneratedFiles files;
    return files;
}

bool inUnitRange(float value) { return value >= 0.0f && value <= 1.0f; }

// One node and what its outputs last read, to compare with after refused file names.
class NodeDriver {
  public:
    NodeDriver() { create(); }
    ~NodeDriver() { FUZZ_CHECK(mayahost::deleteNode(node_).ok); }
    NodeDriver(const NodeDriver&) = delete;
    NodeDriver& operator=(const NodeDriver&) = delete;

    void run(fuzzinput::ByteReader& input) {
        switch (input.take<std::uint8_t>() % ops::kOpCount) {
            case ops::kSetGeneratedFile: {
                const std::string name = generatedFiles().path(input.take<std::uint8_t>());
                if (loads_ < kMaxLoads) setName(name);
                break;
            }
            case ops::kSetName: {
                const auto length = input.take<std::uint8_t>();
                const auto bytes = input.takeBytes(length & ~ops::kAppendExtension);
                std::string name(bytes.begin(), bytes.end());
                if ((length & ops::kAppendExtension) != 0) name += ".vol";
                if (loads_ < kMaxLoads) setName(name);
                break;
            }
            case ops::kSetPoint: {
                const float x = input.take<float>(), y = input.take<float>(),
                            z = input.take<float>();
                FUZZ_CHECK(mayahost::setFloat3(node_, "pointWorld", x, y, z).ok);
                haveLastRead_ = false;
                break;
            }
            case ops::kSetMatrix: {
                MFloatMatrix matrix;
                for (auto& row : matrix.matrix)
                    for (float& element : row) element = input.take<float>();
                FUZZ_CHECK(mayahost::setMatrix(node_, "placementMatrix", matrix).ok);
                haveLastRead_ = false;
                break;
            }
            case ops::kSetHasAlpha:
                FUZZ_CHECK(
                    mayahost::setBool(node_, "fileHasAlpha", input.take<std::uint8_t>() & 1).ok);
                haveLastRead_ = false;
                break;
            case ops::kReadOutputs:
                readOutputs();
                break;
            default:
                FUZZ_CHECK(mayahost::deleteNode(node_).ok);
                create();
                break;
        }
    }

  private:
    void create() {
        FUZZ_CHECK(mayahost::createNode("Voxlum", node_).ok && node_ != nullptr);
        haveLastRead_ = false;
    }

    void setName(const std::string& name) {
        mayahost::clearMessages();
        mayahost::setString(node_, "fileTextureName", name);
        const auto lines = mayahost::messages();
        std::size_t errors = 0;
        for (const auto& line : lines) errors += line.kind == mayahost::MessageKind::Error ? 1 : 0;
        // Either the name alone is refused, or a loading line is followed by exactly one
        // outcome line.
        FUZZ_CHECK(lines.size() == 1
                       ? errors == 1
                       : lines.size() == 2 && lines[0].kind == mayahost::MessageKind::Info &&
                             errors <= 1);
        if (errors == 0) {
            ++loads_;
            haveLastRead_ = false;
        }
    }

    void readOutputs() {
        MFloatVector color;
        float alpha = -1;
        FUZZ_CHECK(mayahost::getFloat3(node_, "outColor", color).ok);
        FUZZ_CHECK(mayahost::getFloat(node_, "outAlpha", alpha).ok);
        const float read[4] = {color.x, color.y, color.z, alpha};
        for (float value : read) FUZZ_CHECK(inUnitRange(value));
        if (haveLastRead_) FUZZ_CHECK(std::memcmp(read, lastRead_, sizeof read) == 0);
        std::memcpy(lastRead_, read, sizeof read);
        haveLastRead_ = true;
    }

    mayahost::Node* node_ = nullptr;
    float lastRead_[4] = {};
    bool haveLastRead_ = false;  // cleared by anything that may change the outputs
    int loads_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    mayahost::setConsoleEcho(false);
    const mayahost::Result loaded = mayahost::loadPlugin(VOXLUM_PLUGIN_PATH);
    if (!loaded.ok) {
        std::fprintf(stderr, "cannot load %s: %s\n", VOXLUM_PLUGIN_PATH, loaded.error.c_str());
        std::abort();
    }
    generatedFiles();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzinput::ByteReader input(data, size);
    NodeDriver driver;
    for (int i = 0; i < kMaxOperations && !input.empty(); ++i) driver.run(input);
    return 0;
}
