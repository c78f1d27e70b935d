// Loads the Voxlum plug-in module into the stand-in host for each test and unloads it after.
#pragma once

#include <gtest/gtest.h>
#include <voxlumhost/Host.h>

#include <string>
#include <vector>

class PluginTest : public testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Creates a Voxlum node, deleted again in TearDown.
    mayahost::Node* createVoxlum();
    std::vector<std::string> messageTexts(mayahost::MessageKind kind) const;

    mayahost::PluginInfo plugin_;
    std::vector<mayahost::Node*> nodes_;
};
