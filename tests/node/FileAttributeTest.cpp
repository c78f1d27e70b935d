#include <gtest/gtest.h>
#include <voxlumhost/Host.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "PluginFixture.h"
#include "VolumeFiles.h"

namespace {

using mayahost::MessageKind;

struct ShownLine {
    MessageKind kind;
    std::string text;
    bool operator==(const ShownLine& other) const {
        return kind == other.kind && text == other.text;
    }
};

void PrintTo(const ShownLine& line, std::ostream* out) {
    *out << (line.kind == MessageKind::Info ? "info: " : "error: ") << line.text;
}

class FileAttributeTest : public PluginTest {
  protected:
    // Lines shown since the plug-in's banner.
    std::vector<ShownLine> linesAfterBanner() const {
        std::vector<ShownLine> lines;
        const auto messages = mayahost::messages();
        for (std::size_t i = 13; i < messages.size(); ++i)
            lines.push_back({messages[i].kind, messages[i].text});
        return lines;
    }
    testfiles::ScratchFolder folder_;
};

ShownLine info(std::string text) { return {MessageKind::Info, std::move(text)}; }
ShownLine error(std::string text) { return {MessageKind::Error, std::move(text)}; }
ShownLine loadingLine(const std::string& name) {
    return info("Loading texture volume file \"" + name + "\"...");
}

TEST_F(FileAttributeTest, GoodFileShowsTheLoadingAndChannelLines) {
    const std::string name = folder_.file("cloud.vol").string();
    testfiles::writeBytes(name, testfiles::volumeBytes({}, testfiles::randomBody(4, 3)));
    mayahost::Node* node = createVoxlum();
    const mayahost::Result set = mayahost::setString(node, "fileTextureName", name);
    EXPECT_TRUE(set.ok) << set.error;
    EXPECT_EQ(linesAfterBanner(),
              (std::vector<ShownLine>{loadingLine(name),
                                      info("Texture volume file loaded. Number of channels: 4")}));
    std::string stored;
    ASSERT_TRUE(mayahost::getString(node, "fileTextureName", stored).ok);
    EXPECT_EQ(stored, name);
}

struct RefusedCase {
    const char* label;
    std::function<std::string(const testfiles::ScratchFolder&)> makeFile;  // returns the name
    std::function<std::vector<ShownLine>(const std::string&)> expectedLines;
};

void PrintTo(const RefusedCase& c, std::ostream* out) { *out << c.label; }

std::function<std::vector<ShownLine>(const std::string&)> loadingThen(const std::string& error) {
    return [error](const std::string& name) {
        return std::vector<ShownLine>{loadingLine(name), ShownLine{MessageKind::Error, error}};
    };
}

std::function<std::vector<ShownLine>(const std::string&)> onlyTheNameError() {
    return [](const std::string&) {
        return std::vector<ShownLine>{error("The texture file must be a volume texture (.vol).")};
    };
}

std::function<std::string(const testfiles::ScratchFolder&)> writing(
    const char* fileName, std::vector<unsigned char> bytes) {
    return [fileName, bytes](const testfiles::ScratchFolder& folder) {
        const auto path = folder.file(fileName);
        testfiles::writeBytes(path, bytes);
        return path.string();
    };
}

std::function<std::string(const testfiles::ScratchFolder&)> justTheName(const char* name) {
    return [name](const testfiles::ScratchFolder&) { return std::string(name); };
}

// The first `length` bytes of an RGBA file; only those are made, as the cases are listed.
std::vector<unsigned char> truncatedRgba(std::size_t length) {
    const std::size_t header = volformat::kHeaderSize;
    auto bytes =
        testfiles::volumeBytes({}, testfiles::randomBytes(length - std::min(length, header), 4));
    bytes.resize(length);
    return bytes;
}

class RefusedFile : public FileAttributeTest, public testing::WithParamInterface<RefusedCase> {};

// Whatever is refused, exactly the expected lines appear and the loaded volume stays in use.
TEST_P(RefusedFile, ShowsOneErrorAndKeepsTheVolume) {
    const RefusedCase& c = GetParam();
    const auto good = folder_.file("good.vol");
    testfiles::writeBytes(
        good, testfiles::volumeBytes({"VOLU", 4, 128, 3, 1}, testfiles::randomBody(3, 12)));
    mayahost::Node* node = createVoxlum();
    ASSERT_TRUE(mayahost::setString(node, "fileTextureName", good.string()).ok);
    ASSERT_TRUE(mayahost::setFloat3(node, "pointWorld", 0.3f, 0.4f, 0.5f).ok);
    MFloatVector before;
    ASSERT_TRUE(mayahost::getFloat3(node, "outColor", before).ok);
    mayahost::clearMessages();

    const std::string name = c.makeFile(folder_);
    mayahost::setString(node, "fileTextureName", name);

    std::vector<ShownLine> lines;
    for (const auto& message : mayahost::messages()) lines.push_back({message.kind, message.text});
    EXPECT_EQ(lines, c.expectedLines(name));
    MFloatVector after;
    float alpha = 0;
    ASSERT_TRUE(mayahost::getFloat3(node, "outColor", after).ok);
    ASSERT_TRUE(mayahost::getFloat(node, "outAlpha", alpha).ok);
    EXPECT_TRUE(after.x == before.x && after.y == before.y && after.z == before.z);
    EXPECT_EQ(alpha, 1.0f);
}

INSTANTIATE_TEST_SUITE_P(
    EveryRefusal, RefusedFile,
    testing::Values(
        RefusedCase{"UpperCaseExtension", justTheName("cloud.VOL"), onlyTheNameError()},
        RefusedCase{"ShortExtension", justTheName("cloud.vo"), onlyTheNameError()},
        RefusedCase{"EmptyName", justTheName(""), onlyTheNameError()},
        RefusedCase{"ThreeCharacters", justTheName("vol"), onlyTheNameError()},
        RefusedCase{"MissingFile", justTheName("/nonexistent/cloud.vol"),
                    loadingThen("Opening file failed.")},
        RefusedCase{"Directory",
                    [](const testfiles::ScratchFolder& folder) {
                        std::filesystem::create_directory(folder.file("folder.vol"));
                        return folder.file("folder.vol").string();
                    },
                    loadingThen("Opening file failed.")},
        RefusedCase{"WrongMagic",
                    writing("magic.vol", testfiles::headerBytes({"VOLX", 4, 128, 4, 1})),
                    loadingThen("Unknown error.")},
        RefusedCase{"WrongVersion",
                    writing("version.vol", testfiles::headerBytes({"VOLU", 3, 128, 4, 1})),
                    loadingThen("Unknown error.")},
        RefusedCase{"WrongEncoding",
                    writing("encoding.vol", testfiles::headerBytes({"VOLU", 4, 128, 4, 2})),
                    loadingThen("Unknown error.")},
        RefusedCase{"UnsupportedEdgeLength",
                    writing("edge.vol", testfiles::headerBytes({"VOLU", 4, 64, 4, 1})),
                    loadingThen("Unknown error.")},
        RefusedCase{"ShortHeader", writing("header.vol", truncatedRgba(100)),
                    loadingThen("Reading file header failed. Bytes read: 100")},
        RefusedCase{"ShortBody", writing("body.vol", truncatedRgba(4096 + 5000)),
                    loadingThen("Reading file failed. Bytes read: 5000")}),
    [](const testing::TestParamInfo<RefusedCase>& testCase) {
        return std::string(testCase.param.label);
    });

}  // namespace
