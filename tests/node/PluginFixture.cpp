#include "PluginFixture.h"

void PluginTest::SetUp() {
    mayahost::setConsoleEcho(false);
    mayahost::clearMessages();
    const mayahost::Result loaded = mayahost::loadPlugin(VOXLUM_PLUGIN_PATH, &plugin_);
    ASSERT_TRUE(loaded.ok) << loaded.error;
}

void PluginTest::TearDown() {
    for (mayahost::Node* node : nodes_) EXPECT_TRUE(mayahost::deleteNode(node).ok);
    const mayahost::Result unloaded = mayahost::unloadPlugin(VOXLUM_PLUGIN_PATH);
    EXPECT_TRUE(unloaded.ok) << unloaded.error;
    mayahost::clearInjectedFailures();
}

mayahost::Node* PluginTest::createVoxlum() {
    mayahost::Node* node = nullptr;
    const mayahost::Result created = mayahost::createNode("Voxlum", node);
    EXPECT_TRUE(created.ok) << created.error;
    if (node != nullptr) nodes_.push_back(node);
    return node;
}

std::vector<std::string> PluginTest::messageTexts(mayahost::MessageKind kind) const {
    std::vector<std::string> texts;
    for (const mayahost::Message& message : mayahost::messages()) {
        if (message.kind == kind) texts.push_back(message.text);
    }
    return texts;
}
