// Node evaluation through the host: dirty propagation, compute dispatch, internal attributes
// and concurrent use of one node.
#include "TestNode.h"

namespace {

using mayahost::Node;

std::vector<std::string> dirtyAttributes(Node* node) {
    std::vector<mayahost::AttributeInfo> attributes;
    EXPECT_TRUE(mayahost::describeNodeType("HostTestNode", attributes));
    std::vector<std::string> dirty;
    for (const mayahost::AttributeInfo& attribute : attributes) {
        bool isDirty = false;
        EXPECT_TRUE(mayahost::isDirty(node, attribute.longName, isDirty));
        if (isDirty) {
            dirty.push_back(attribute.longName);
        }
    }
    return dirty;
}

const std::vector<std::string> kAllOutputs = {"result", "resultR", "resultG", "resultB", "sum"};

using EvaluationTest = TestNodeFixture;

TEST_F(EvaluationTest, SettingAnInputDirtiesWhatItAffectsIncludingChildren) {
    struct Case {
        const char* what;
        std::function<mayahost::Result(Node*)> set;
        std::vector<std::string> dirtied;
    };
    const std::vector<Case> cases = {
        {"gain", [](Node* n) { return mayahost::setFloat(n, "g", 2); }, kAllOutputs},
        {"point", [](Node* n) { return mayahost::setFloat3(n, "pos", 1, 2, 3); }, kAllOutputs},
        {"point child", [](Node* n) { return mayahost::setFloat(n, "positionY", 5); }, kAllOutputs},
        {"internal", [](Node* n) { return mayahost::setString(n, "label", "a"); }, kAllOutputs},
        {"unrelated", [](Node* n) { return mayahost::setBool(n, "flag", false); }, {}},
    };
    Node* node = makeNode();
    EXPECT_EQ(dirtyAttributes(node), kAllOutputs);
    for (const Case& c : cases) {
        float sum = 0;
        ASSERT_TRUE(mayahost::getFloat(node, "sum", sum));
        ASSERT_TRUE(dirtyAttributes(node).empty()) << c.what;
        ASSERT_TRUE(c.set(node)) << c.what;
        EXPECT_EQ(dirtyAttributes(node), c.dirtied) << c.what;
    }
}

TEST_F(EvaluationTest, ReadingComputesOnlyWhenDirty) {
    Node* node = makeNode();
    ASSERT_TRUE(mayahost::setFloat3(node, "position", 1, 2, 3));
    ASSERT_TRUE(mayahost::setFloat(node, "gain", 2));
    MFloatVector color;
    float sum = 0;
    ASSERT_TRUE(mayahost::getFloat3(node, "result", color));
    ASSERT_TRUE(mayahost::getFloat(node, "sum", sum));
    EXPECT_EQ(color.x, 2);
    EXPECT_EQ(color.y, 4);
    EXPECT_EQ(color.z, 6);
    EXPECT_EQ(sum, 12);
    EXPECT_EQ(user(node).computeCount, 1);

    ASSERT_TRUE(mayahost::setFloat(node, "positionZ", -1));
    ASSERT_TRUE(mayahost::getFloat(node, "sum", sum));
    EXPECT_EQ(sum, 4);
    EXPECT_EQ(user(node).computeCount, 2);
}

TEST_F(EvaluationTest, AnInputSetDuringComputeKeepsTheOutputDirty) {
    Node* node = makeNode();
    user(node).duringNextCompute = [node](MDataBlock&) {
        EXPECT_TRUE(mayahost::setFloat3(node, "position", 1, 1, 1));
    };
    float sum = -1;
    ASSERT_TRUE(mayahost::getFloat(node, "sum", sum));
    EXPECT_EQ(sum, 0) << "the value of the inputs the evaluation started with";
    bool dirty = false;
    ASSERT_TRUE(mayahost::isDirty(node, "sum", dirty));
    EXPECT_TRUE(dirty);
    ASSERT_TRUE(mayahost::getFloat(node, "sum", sum));
    EXPECT_EQ(sum, 3);
}

// Evaluations on one thread reuse one snapshot block, which keeps the strings it copied while
// they stay the same: a compute must still see its own node's strings as last set, never
// another node's or what an earlier compute wrote through a handle.
TEST_F(EvaluationTest, ComputeSeesTheStringsOfItsOwnNodeAsLastSet) {
    Node* first = makeNode();
    Node* second = makeNode();
    ASSERT_TRUE(mayahost::setString(first, "label", "one"));
    ASSERT_TRUE(mayahost::setString(second, "label", "two"));
    auto evaluate = [](Node* node, std::function<void(MDataBlock&)> duringCompute) {
        user(node).duringNextCompute = std::move(duringCompute);
        float sum = 0;
        EXPECT_TRUE(mayahost::setFloat(node, "gain", 2));
        EXPECT_TRUE(mayahost::getFloat(node, "sum", sum));
    };
    auto labelSeenBy = [&evaluate](Node* node) {
        std::string seen;
        evaluate(node, [&seen](MDataBlock& block) {
            seen = block.inputValue(TestNode::label).asString().asChar();
        });
        return seen;
    };
    const auto scribble = [](MDataBlock& block) {
        block.inputValue(TestNode::label).asString() = "scribbled";
    };

    evaluate(first, nullptr);
    ASSERT_TRUE(mayahost::setString(first, "label", "uno"));
    EXPECT_EQ(labelSeenBy(first), "uno") << "set after the block took the strings";
    EXPECT_EQ(labelSeenBy(second), "two") << "another node's strings";
    evaluate(first, scribble);
    EXPECT_EQ(labelSeenBy(first), "uno") << "written through a handle by the previous compute";
    std::string stored;
    ASSERT_TRUE(mayahost::getString(first, "label", stored));
    EXPECT_EQ(stored, "uno");
}

TEST_F(EvaluationTest, AChildThatComputeRefusesIsComputedThroughItsParent) {
    Node* node = makeNode();
    ASSERT_TRUE(mayahost::setFloat3(node, "position", 1, 2, 3));
    float green = 0;
    ASSERT_TRUE(mayahost::getFloat(node, "resultG", green));
    EXPECT_EQ(green, 2);
    EXPECT_EQ(user(node).computeCount, 1);

    // Without the fallback, compute's own answer comes back; the plug knows its parent.
    MStatus status;
    ASSERT_TRUE(mayahost::computePlug(node, "resultB", status));
    EXPECT_EQ(status, MS::kUnknownParameter);
    EXPECT_TRUE(user(node).lastPlugIsResultChild);
    ASSERT_TRUE(mayahost::computePlug(node, "sum", status));
    EXPECT_EQ(status, MS::kSuccess);
    EXPECT_FALSE(user(node).lastPlugIsResultChild);
}

TEST_F(EvaluationTest, InternalValueIsStoredOnlyWhenTheNodeDoesNotKeepIt) {
    for (bool keeps : {false, true}) {
        TestNode::keepsLabel = keeps;
        Node* node = makeNode();
        float sum = 0;
        ASSERT_TRUE(mayahost::getFloat(node, "sum", sum));
        ASSERT_TRUE(mayahost::setString(node, "lb", "cloud.vol"));
        std::string stored;
        ASSERT_TRUE(mayahost::getString(node, "label", stored));
        EXPECT_EQ(user(node).receivedLabels, std::vector<std::string>{"cloud.vol"});
        EXPECT_EQ(stored, keeps ? "" : "cloud.vol") << "keeps " << keeps;
        bool dirty = false;
        ASSERT_TRUE(mayahost::isDirty(node, "sum", dirty));
        EXPECT_TRUE(dirty) << "keeps " << keeps;
    }
}

TEST_F(EvaluationTest, RefusesWrongValuesAndForeignHandles) {
    Node* node = makeNode();
    mayahost::AttributeHandle gain;
    ASSERT_TRUE(mayahost::findAttribute(node, "g", gain));
    const std::vector<std::pair<const char*, mayahost::Result>> refusals = {
        {"not writable", mayahost::setFloat3(node, "result", 1, 1, 1)},
        {"wrong type", mayahost::setFloat(node, "position", 1)},
        {"unknown name", mayahost::setFloat(node, "nothing", 1)},
        {"default handle", mayahost::setFloat(node, mayahost::AttributeHandle(), 1)},
        {"no node", mayahost::setFloat(nullptr, gain, 1)},
    };
    for (const auto& [what, result] : refusals) {
        EXPECT_FALSE(result) << what;
        EXPECT_FALSE(result.error.empty()) << what;
    }
    EXPECT_TRUE(mayahost::setFloat(node, gain, 3));
}

// Readers and a writer share one node; every value read must come from one consistent set of
// inputs, handlers must not overlap compute, and the last value must win.
TEST_F(EvaluationTest, ConcurrentReadsSeeConsistentValuesWhileInputsChange) {
    TestNode::labelHandlerDuration = std::chrono::microseconds(200);
    Node* node = makeNode();
    mayahost::AttributeHandle position, result;
    ASSERT_TRUE(mayahost::findAttribute(node, "position", position));
    ASSERT_TRUE(mayahost::findAttribute(node, "result", result));
    constexpr int kWrites = 300;
    std::atomic<bool> writing{true};
    std::atomic<int> inconsistentReads{0};
    std::vector<std::thread> readers;
    for (int reader = 0; reader < 3; ++reader) {
        readers.emplace_back([&] {
            MFloatVector color;
            while (writing) {
                if (!mayahost::getFloat3(node, result, color) || color.x != color.y ||
                    color.y * 2 != color.z) {
                    ++inconsistentReads;
                }
            }
        });
    }
    for (int write = 1; write <= kWrites; ++write) {
        const float value = static_cast<float>(write);
        ASSERT_TRUE(mayahost::setFloat3(node, position, value, value, value * 2));
        if (write % 50 == 0) {
            ASSERT_TRUE(mayahost::setString(node, "label", std::to_string(write)));
        }
    }
    writing = false;
    for (std::thread& reader : readers) {
        reader.join();
    }
    EXPECT_EQ(inconsistentReads, 0);
    EXPECT_FALSE(user(node).computeOverlappedLabelHandler);
    MFloatVector last;
    ASSERT_TRUE(mayahost::getFloat3(node, result, last));
    EXPECT_EQ(last.x, kWrites);
}

TEST_F(EvaluationTest, NodeThatIsNotMPSafeIsNeverComputedTwiceAtOnce) {
    TestNode::mpSafe = false;
    TestNode::computeDuration = std::chrono::microseconds(20);
    Node* node = makeNode();
    std::vector<std::thread> threads;
    for (int thread = 0; thread < 4; ++thread) {
        threads.emplace_back([node, thread] {
            for (int step = 0; step < 200; ++step) {
                MStatus status;
                EXPECT_TRUE(mayahost::computePlug(node, thread % 2 ? "sum" : "result", status));
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(user(node).maxRunningComputes, 1);
}

}  // namespace
