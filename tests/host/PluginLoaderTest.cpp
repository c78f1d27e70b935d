// Loading plug-in libraries through the host's real loader.
// This file reads the version the devkit header gives plug-ins that state none.
#undef MNoVersionString
#include <maya/MFnPlugin.h>
#include <voxlumhost/Host.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> messageTexts() {
    std::vector<std::string> texts;
    for (const mayahost::Message& message : mayahost::messages()) {
        texts.push_back(message.text);
    }
    return texts;
}

class PluginLoaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        mayahost::setConsoleEcho(false);
        mayahost::clearMessages();
    }
};

TEST_F(PluginLoaderTest, ResolvesEntryPointsByPlainOrMangledNameAndReadsTheVersion) {
    struct Case {
        const char* path;
        mayahost::EntryPointNames names;
        std::string apiVersion;
    };
    const Case cases[] = {
        {HOST_TEST_PLUGIN_PLAIN, mayahost::EntryPointNames::Plain, HOST_TEST_PLUGIN_API_VERSION},
        {HOST_TEST_PLUGIN_MANGLED, mayahost::EntryPointNames::Mangled, MApiVersion},
    };
    for (const Case& c : cases) {
        mayahost::clearMessages();
        mayahost::PluginInfo info;
        const mayahost::Result loaded = mayahost::loadPlugin(c.path, &info);
        ASSERT_TRUE(loaded) << loaded.error;
        EXPECT_EQ(info.entryPoints, c.names) << c.path;
        EXPECT_EQ(info.apiVersion, c.apiVersion) << c.path;

        mayahost::Node* node = nullptr;
        ASSERT_TRUE(mayahost::createNode("HostTestDoubler", node));
        float doubled = 0;
        ASSERT_TRUE(mayahost::getFloat(node, "out", doubled));
        EXPECT_EQ(doubled, 3);
        EXPECT_FALSE(mayahost::unloadPlugin(c.path)) << "in use";
        ASSERT_TRUE(mayahost::deleteNode(node));

        ASSERT_TRUE(mayahost::unloadPlugin(c.path));
        EXPECT_TRUE(mayahost::nodeTypes().empty());
        EXPECT_EQ(messageTexts(), (std::vector<std::string>{"registered: 1", "unloading"}));
    }
}

TEST_F(PluginLoaderTest, LoadingTwiceCallsInitializeAgainAndKeepsTheLibraryUntilTheLastUnload) {
    ASSERT_TRUE(mayahost::loadPlugin(HOST_TEST_PLUGIN_PLAIN));
    const mayahost::Result second = mayahost::loadPlugin(HOST_TEST_PLUGIN_PLAIN);
    EXPECT_FALSE(second);
    EXPECT_NE(second.error.find("initializePlugin"), std::string::npos) << second.error;
    EXPECT_EQ(messageTexts(), (std::vector<std::string>{"registered: 1", "registered: 0"}));

    // The failed second load closed its reference only: the first one's code still runs.
    mayahost::Node* node = nullptr;
    ASSERT_TRUE(mayahost::createNode("HostTestDoubler", node));
    ASSERT_TRUE(mayahost::setFloat(node, "in", 4));
    float doubled = 0;
    ASSERT_TRUE(mayahost::getFloat(node, "out", doubled));
    EXPECT_EQ(doubled, 8);
    ASSERT_TRUE(mayahost::deleteNode(node));

    EXPECT_TRUE(mayahost::unloadPlugin(HOST_TEST_PLUGIN_PLAIN));
    EXPECT_FALSE(mayahost::unloadPlugin(HOST_TEST_PLUGIN_PLAIN));
}

TEST_F(PluginLoaderTest, RefusesLibrariesThatAreNoPlugins) {
    for (const char* path : {"no-such-plugin.so", HOST_LIBRARY}) {
        const mayahost::Result loaded = mayahost::loadPlugin(path);
        EXPECT_FALSE(loaded) << path;
        EXPECT_NE(loaded.error.find(path), std::string::npos) << loaded.error;
    }
    EXPECT_TRUE(mayahost::nodeTypes().empty());
}

}  // namespace
