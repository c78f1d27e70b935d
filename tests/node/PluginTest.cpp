#include <gtest/gtest.h>
#include <voxlumhost/Host.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <future>
#include <regex>
#include <string>
#include <thread>

#include "PluginFixture.h"
#include "VolumeFiles.h"

#ifndef _WIN32
#include <dlfcn.h>
#endif

namespace {

bool voxlumRegistered() {
    const auto types = mayahost::nodeTypes();
    return std::any_of(types.begin(), types.end(), [](const mayahost::NodeTypeInfo& type) {
        return type.name == "Voxlum" && type.id == 0x10A510 && type.classification == "texture/3d";
    });
}

TEST_F(PluginTest, LoadingShowsTheBannerFirstAndRegistersTheNode) {
    EXPECT_EQ(plugin_.apiVersion, "800");
    EXPECT_EQ(plugin_.entryPoints, mayahost::EntryPointNames::Plain);
    const auto messages = mayahost::messages();
    ASSERT_EQ(messages.size(), 13u);
    for (const mayahost::Message& line : messages) {
        EXPECT_EQ(line.kind, mayahost::MessageKind::Info);
        EXPECT_EQ(line.text.size(), 118u) << '"' << line.text << '"';
    }
    EXPECT_EQ(messages.front().text, std::string(118, '-'));
    EXPECT_EQ(messages.back().text, std::string(118, '-'));
    EXPECT_EQ(messages[8].text.rfind("    Voxlum - v1.0 ", 0), 0u);
    for (int row = 2; row <= 6; ++row) {
        EXPECT_NE(messages[static_cast<std::size_t>(row)].text.find("_/"), std::string::npos);
    }
    EXPECT_TRUE(voxlumRegistered());
}

TEST(PluginModule, UnloadingDeregistersTheNodeType) {
    mayahost::setConsoleEcho(false);
    ASSERT_TRUE(mayahost::loadPlugin(VOXLUM_PLUGIN_PATH).ok);
    ASSERT_TRUE(voxlumRegistered());
    ASSERT_TRUE(mayahost::unloadPlugin(VOXLUM_PLUGIN_PATH).ok);
    EXPECT_FALSE(voxlumRegistered());
    mayahost::Node* node = nullptr;
    EXPECT_FALSE(mayahost::createNode("Voxlum", node).ok);
}

// The report for a failed host call: file name, line, then the status's own description.
const std::regex kStatusReport(
    R"(\nAPI error detected in ([A-Za-z]+\.cpp) at line [0-9]+\n[^\n]+\n)");

TEST(PluginModule, LoadingTwiceReportsTheFailedRegistrationAndStillSucceeds) {
    mayahost::setConsoleEcho(false);
    ASSERT_TRUE(mayahost::loadPlugin(VOXLUM_PLUGIN_PATH).ok);
    testing::internal::CaptureStderr();
    const mayahost::Result second = mayahost::loadPlugin(VOXLUM_PLUGIN_PATH);
    const std::string report = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(second.ok) << second.error;
    std::smatch match;
    ASSERT_TRUE(std::regex_search(report, match, kStatusReport)) << report;
    EXPECT_EQ(match[1], "VoxlumPlugin.cpp");
    EXPECT_TRUE(voxlumRegistered());
    // Each load is undone by an unload of its own; the next test finds nothing left behind.
    EXPECT_TRUE(mayahost::unloadPlugin(VOXLUM_PLUGIN_PATH).ok);
    EXPECT_TRUE(mayahost::unloadPlugin(VOXLUM_PLUGIN_PATH).ok);
    EXPECT_FALSE(voxlumRegistered());
}

TEST(PluginModule, FailedDeregistrationIsReportedAndUnloadingGoesOn) {
    mayahost::setConsoleEcho(false);
    ASSERT_TRUE(mayahost::loadPlugin(VOXLUM_PLUGIN_PATH).ok);
    ASSERT_TRUE(mayahost::injectFailure("MFnPlugin::deregisterNode").ok);
    testing::internal::CaptureStderr();
    const mayahost::Result unloaded = mayahost::unloadPlugin(VOXLUM_PLUGIN_PATH);
    const std::string report = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(unloaded.ok) << unloaded.error;
    std::smatch match;
    ASSERT_TRUE(std::regex_search(report, match, kStatusReport)) << report;
    EXPECT_EQ(match[1], "VoxlumPlugin.cpp");
}

// A failing attribute call is reported where it happened; the attribute set-up goes on.
TEST(PluginModule, FailedAttributeCallsAreReportedAndSetUpGoesOn) {
    using Attributes = std::vector<mayahost::AttributeInfo>;
    const auto named = [](const Attributes& attributes, const std::string& name) {
        return *std::find_if(attributes.begin(), attributes.end(),
                             [&](const mayahost::AttributeInfo& a) { return a.longName == name; });
    };
    struct Case {
        const char* operation;
        std::function<bool(const Attributes&)> failedCallHadNoEffect;
    };
    for (const Case& c : {
             Case{"MFnAttribute::setKeyable",
                  [&](const Attributes& a) { return !named(a, "placementMatrix").keyable; }},
             Case{"MFnAttribute::setHidden",
                  [&](const Attributes& a) { return !named(a, "pointWorld").hidden; }},
             Case{"MPxNode::attributeAffects",
                  [&](const Attributes& a) {
                      return named(a, "pointWorld").affects == std::vector<std::string>{"outAlpha"};
                  }},
         }) {
        mayahost::setConsoleEcho(false);
        ASSERT_TRUE(mayahost::injectFailure(c.operation).ok) << c.operation;
        testing::internal::CaptureStderr();
        const mayahost::Result loaded = mayahost::loadPlugin(VOXLUM_PLUGIN_PATH);
        const std::string report = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(loaded.ok) << loaded.error;
        std::smatch match;
        EXPECT_TRUE(std::regex_search(report, match, kStatusReport)) << c.operation << report;
        EXPECT_EQ(match[1], "Voxlum.cpp") << c.operation;
        std::vector<mayahost::AttributeInfo> attributes;
        ASSERT_TRUE(mayahost::describeNodeType("Voxlum", attributes).ok);
        EXPECT_EQ(attributes.size(), 6u + 3u + 3u) << c.operation;
        EXPECT_TRUE(c.failedCallHadNoEffect(attributes)) << c.operation;
        EXPECT_TRUE(mayahost::unloadPlugin(VOXLUM_PLUGIN_PATH).ok);
        mayahost::clearInjectedFailures();
    }
}

#ifdef __linux__
TEST(PluginModule, DynamicSymbolTableHoldsThePlainEntryPointNames) {
    const std::string command = std::string("nm -D --defined-only ") + VOXLUM_PLUGIN_PATH;
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string symbols;
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) symbols += buffer;
    ASSERT_EQ(pclose(pipe), 0);
    for (const char* name : {"initializePlugin", "uninitializePlugin", "MApiVersion"}) {
        EXPECT_TRUE(std::regex_search(symbols, std::regex(std::string(" ") + name + "\n"))) << name;
    }
    EXPECT_EQ(symbols.find("VoxelVolume"), std::string::npos) << "internals must stay private";
}
#endif

#ifndef _WIN32
bool pluginModuleMapped() {
    void* const module = dlopen(VOXLUM_PLUGIN_PATH, RTLD_NOW | RTLD_NOLOAD);
    if (module != nullptr) dlclose(module);
    return module != nullptr;
}

// A render thread that sampled may outlive the plug-in: unloading must still unmap the module,
// so nothing of it may stay hooked to the end of that thread, which must then end cleanly.
TEST(PluginModule, UnloadsWhileAThreadThatSampledLivesOn) {
    testfiles::ScratchFolder folder;
    const std::string path = folder.file("volume.vol").string();
    testfiles::writeBytes(path, testfiles::volumeBytes({}, testfiles::randomBody(4, 9)));
    mayahost::setConsoleEcho(false);
    ASSERT_TRUE(mayahost::loadPlugin(VOXLUM_PLUGIN_PATH).ok);
    mayahost::Node* node = nullptr;
    ASSERT_TRUE(mayahost::createNode("Voxlum", node).ok);
    ASSERT_TRUE(mayahost::setString(node, "fileTextureName", path).ok);

    std::promise<bool> sampled;
    std::promise<void> unloaded;
    std::thread renderThread([&] {
        MFloatVector color;
        sampled.set_value(mayahost::getFloat3(node, "outColor", color).ok);
        unloaded.get_future().wait();
    });
    EXPECT_TRUE(sampled.get_future().get());
    EXPECT_TRUE(mayahost::deleteNode(node).ok);
    EXPECT_TRUE(mayahost::unloadPlugin(VOXLUM_PLUGIN_PATH).ok);
    EXPECT_FALSE(pluginModuleMapped());
    unloaded.set_value();
    renderThread.join();
}
#endif

}  // namespace
