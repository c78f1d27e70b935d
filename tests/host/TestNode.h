// A small node type registered in-process by the host tests: result = position * gain and
// sum = result.x + result.y + result.z; label is internal, flag affects nothing.
#pragma once

#include <maya/MFloatVector.h>
#include <maya/MFnAttribute.h>
#include <maya/MFnNumericAttribute.h>
#include <maya/MFnPlugin.h>
#include <maya/MFnTypedAttribute.h>
#include <maya/MPxNode.h>
#include <maya/MTypeId.h>
#include <voxlumhost/Host.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class TestNode : public MPxNode {
  public:
    static inline const MTypeId kId{0x7F0010};
    static inline MObject gain, position, label, flag, result, sum;
    // Read by postConstructor and setInternalValueInContext; set by tests before use.
    static inline bool mpSafe = true;
    static inline bool keepsLabel = false;
    static inline std::chrono::microseconds labelHandlerDuration{0};
    // How long compute waits for another compute to join it, so that evaluations on other
    // threads overlap where they may. Waited for by the clock, as short sleeps are not kept
    // everywhere.
    static inline std::chrono::microseconds computeDuration{0};

    static void* creator() { return new TestNode; }

    static MStatus initialize() {
        MFnNumericAttribute numeric;
        MFnTypedAttribute typed;
        gain = numeric.create("gain", "g", MFnNumericData::kFloat, 1.0);
        position = numeric.createPoint("position", "pos");
        flag = numeric.create("flag", "fl", MFnNumericData::kBoolean, 1);
        result = numeric.createColor("result", "res");
        numeric.setWritable(false);
        sum = numeric.create("sum", "sm", MFnNumericData::kFloat);
        numeric.setWritable(false);
        label = typed.create("label", "lb", MFnData::kString);
        typed.setInternal(true);
        for (const MObject* attribute : {&gain, &position, &flag, &result, &sum, &label}) {
            addAttribute(*attribute);
        }
        for (const MObject* input : {&gain, &position, &label}) {
            attributeAffects(*input, result);
            attributeAffects(*input, sum);
        }
        return MS::kSuccess;
    }

    void postConstructor() override { setMPSafe(mpSafe); }

    // Handles result and sum only, so that the host must ask again for a child's parent.
    MStatus compute(const MPlug& plug, MDataBlock& block) override {
        MStatus parentStatus;
        lastPlugIsResultChild = plug.parent(&parentStatus) == result && parentStatus;
        if (plug != result && plug != sum) {
            return MS::kUnknownParameter;
        }
        const int running = ++runningComputes;
        maxRunningComputes = std::max(maxRunningComputes.load(), running);
        if (labelHandlerRunning) {
            computeOverlappedLabelHandler = true;
        }
        const auto until = std::chrono::steady_clock::now() + computeDuration;
        while (runningComputes < 2 && std::chrono::steady_clock::now() < until) {
            std::this_thread::yield();
        }
        if (duringNextCompute) {
            std::exchange(duringNextCompute, nullptr)(block);
        }
        const float scale = block.inputValue(gain).asFloat();
        const float3& point = block.inputValue(position).asFloat3();
        MDataHandle resultHandle = block.outputValue(result);
        resultHandle.asFloatVector() =
            MFloatVector(point[0] * scale, point[1] * scale, point[2] * scale);
        resultHandle.setClean();
        const MFloatVector& color = resultHandle.asFloatVector();
        block.outputValue(sum).asFloat() = color.x + color.y + color.z;
        block.setClean(sum);
        ++computeCount;
        --runningComputes;
        return MS::kSuccess;
    }

    bool setInternalValueInContext(const MPlug& plug, const MDataHandle& handle,
                                   MDGContext& context) override {
        labelHandlerRunning = true;
        std::this_thread::sleep_for(labelHandlerDuration);
        receivedLabels.push_back(handle.asString().asChar());
        labelHandlerRunning = false;
        return keepsLabel || MPxNode::setInternalValueInContext(plug, handle, context);
    }

    std::atomic<int> computeCount{0};
    std::atomic<int> runningComputes{0};
    std::atomic<int> maxRunningComputes{0};
    std::atomic<bool> labelHandlerRunning{false};
    std::atomic<bool> computeOverlappedLabelHandler{false};
    std::atomic<bool> lastPlugIsResultChild{false};
    std::vector<std::string> receivedLabels;
    // Runs inside the next compute, between the host's snapshot and its publishing.
    std::function<void(MDataBlock&)> duringNextCompute;
};

// Registers TestNode under an in-process plug-in object for each test and removes it after.
class TestNodeFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        mayahost::setConsoleEcho(false);
        mayahost::clearMessages();
        TestNode::mpSafe = true;
        TestNode::keepsLabel = false;
        TestNode::labelHandlerDuration = std::chrono::microseconds(0);
        TestNode::computeDuration = std::chrono::microseconds(0);
        plugin_ = mayahost::createPluginObject();
        MFnPlugin functionSet(plugin_);
        ASSERT_EQ(functionSet.registerNode("HostTestNode", TestNode::kId, TestNode::creator,
                                           TestNode::initialize),
                  MS::kSuccess);
    }

    void TearDown() override {
        for (mayahost::Node* node : nodes_) {
            EXPECT_TRUE(mayahost::deleteNode(node));
        }
        EXPECT_TRUE(mayahost::destroyPluginObject(plugin_));
        mayahost::clearInjectedFailures();
    }

    mayahost::Node* makeNode() {
        mayahost::Node* node = nullptr;
        mayahost::Result created = mayahost::createNode("HostTestNode", node);
        EXPECT_TRUE(created) << created.error;
        nodes_.push_back(node);
        return node;
    }

    static TestNode& user(mayahost::Node* node) {
        return *static_cast<TestNode*>(mayahost::userNode(node));
    }

    MObject plugin_;
    std::vector<mayahost::Node*> nodes_;
};
