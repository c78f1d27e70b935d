#include <gtest/gtest.h>
#include <voxlumhost/Host.h>

#include <functional>
#include <string>
#include <vector>

#include "PluginFixture.h"

namespace {

using mayahost::AttributeInfo;
using mayahost::AttributeKind;

struct ExpectedAttribute {
    const char* longName;
    const char* shortName;
    AttributeKind kind;
    double defaultValue;
    bool isInput;
    bool hidden;
    bool internal;
    std::vector<std::string> children;
};

TEST_F(PluginTest, NodeCarriesSixAttributesWithTheirNamesKindsAndFlags) {
    const std::vector<ExpectedAttribute> expected = {
        {"pointWorld",
         "pw",
         AttributeKind::Point,
         0,
         true,
         true,
         false,
         {"pointWorldX", "pointWorldY", "pointWorldZ"}},
        {"placementMatrix", "pm", AttributeKind::FloatMatrix, 0, true, false, false, {}},
        {"fileTextureName", "ftn", AttributeKind::String, 0, true, false, true, {}},
        {"fileHasAlpha", "fha", AttributeKind::Bool, 0, true, false, false, {}},
        {"outAlpha", "oa", AttributeKind::Float, 0, false, false, false, {}},
        {"outColor",
         "oc",
         AttributeKind::Color,
         0,
         false,
         false,
         false,
         {"outColorR", "outColorG", "outColorB"}},
    };
    std::vector<AttributeInfo> attributes;
    ASSERT_TRUE(mayahost::describeNodeType("Voxlum", attributes).ok);

    std::vector<AttributeInfo> topLevel;
    for (const AttributeInfo& attribute : attributes) {
        if (attribute.parent.empty()) topLevel.push_back(attribute);
    }
    ASSERT_EQ(topLevel.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const ExpectedAttribute& want = expected[i];
        const AttributeInfo& got = topLevel[i];
        SCOPED_TRACE(want.longName);
        EXPECT_EQ(got.longName, want.longName);
        EXPECT_EQ(got.shortName, want.shortName);
        EXPECT_EQ(got.kind, want.kind);
        EXPECT_EQ(got.defaultValue, want.defaultValue);
        EXPECT_EQ(got.keyable, want.isInput);
        EXPECT_EQ(got.storable, want.isInput);
        EXPECT_TRUE(got.readable);
        EXPECT_EQ(got.writable, want.isInput);
        EXPECT_EQ(got.hidden, want.hidden);
        EXPECT_EQ(got.internal, want.internal);
        EXPECT_EQ(got.children, want.children);
        const std::vector<std::string> bothOutputs = {"outColor", "outAlpha"};
        EXPECT_EQ(got.affects, want.isInput ? bothOutputs : std::vector<std::string>{});
    }
}

// Every input dirties both outputs and each component of the colour.
TEST_F(PluginTest, ChangingAnyInputMarksBothOutputsDirty) {
    mayahost::Node* node = createVoxlum();
    ASSERT_NE(node, nullptr);
    const std::vector<std::string> outputs = {"outColor", "outColorR", "outColorG", "outColorB",
                                              "outAlpha"};
    const auto readAllOutputs = [&] {
        MFloatVector color;
        float alpha = 0;
        ASSERT_TRUE(mayahost::getFloat3(node, "outColor", color).ok);
        ASSERT_TRUE(mayahost::getFloat(node, "outAlpha", alpha).ok);
        for (const std::string& output : outputs) {
            bool dirty = true;
            ASSERT_TRUE(mayahost::isDirty(node, output, dirty).ok);
            ASSERT_FALSE(dirty) << output << " stays dirty after it was read";
        }
    };
    const std::vector<std::pair<const char*, std::function<mayahost::Result()>>> changes = {
        {"pointWorld", [&] { return mayahost::setFloat3(node, "pointWorld", 0.1f, 0.2f, 0.3f); }},
        {"pointWorldY", [&] { return mayahost::setFloat(node, "pointWorldY", 0.7f); }},
        {"placementMatrix",
         [&] {
             MFloatMatrix matrix;
             matrix(3, 0) = 0.5f;
             return mayahost::setMatrix(node, "placementMatrix", matrix);
         }},
        {"fileTextureName", [&] { return mayahost::setString(node, "fileTextureName", "x.txt"); }},
        {"fileHasAlpha", [&] { return mayahost::setBool(node, "fileHasAlpha", true); }},
    };
    for (const auto& [input, change] : changes) {
        SCOPED_TRACE(input);
        readAllOutputs();
        change();
        for (const std::string& output : outputs) {
            bool dirty = false;
            ASSERT_TRUE(mayahost::isDirty(node, output, dirty).ok);
            EXPECT_TRUE(dirty) << output;
        }
    }
}

}  // namespace
