// Shading contexts: a renderer's per-thread evaluation of a node on a copy of its values.
#include "TestNode.h"

namespace {

using mayahost::Node;
using mayahost::ShadingContext;

using ShadingContextTest = TestNodeFixture;

TEST_F(ShadingContextTest, EvaluatesOnItsOwnValuesAndLeavesTheNodeAsItWas) {
    Node* node = makeNode();
    ASSERT_TRUE(mayahost::setFloat(node, "gain", 2));
    ASSERT_TRUE(mayahost::setFloat3(node, "position", 1, 1, 1));
    ShadingContext context;
    ASSERT_TRUE(context.attach(node));

    ASSERT_TRUE(context.setFloat3("position", 1, 2, 3));
    MFloatVector color;
    float sum = 0;
    ASSERT_TRUE(context.getFloat3("result", color));
    ASSERT_TRUE(context.getFloat("sum", sum));
    EXPECT_EQ(color.x, 2);
    EXPECT_EQ(color.y, 4);
    EXPECT_EQ(color.z, 6);
    EXPECT_EQ(sum, 12);
    EXPECT_EQ(user(node).computeCount, 1) << "sum came with result";

    bool dirty = false;
    ASSERT_TRUE(mayahost::isDirty(node, "result", dirty));
    EXPECT_TRUE(dirty) << "the context's evaluation is not the node's";
    ASSERT_TRUE(mayahost::getFloat3(node, "result", color));
    EXPECT_EQ(color.x, 2);
    EXPECT_EQ(color.z, 2) << "the node keeps its own position";
}

TEST_F(ShadingContextTest, SeesNodeValuesAsOfTheLastAttach) {
    Node* node = makeNode();
    ShadingContext context;
    ASSERT_TRUE(context.attach(node));
    ASSERT_TRUE(mayahost::setFloat(node, "gain", 3));
    ASSERT_TRUE(context.setFloat3("position", 1, 1, 1));
    float sum = 0;
    ASSERT_TRUE(context.getFloat("sum", sum));
    EXPECT_EQ(sum, 3) << "gain 1, as when attached";

    ASSERT_TRUE(context.attach(node));
    ASSERT_TRUE(context.setFloat3("position", 1, 1, 1));
    ASSERT_TRUE(context.getFloat("sum", sum));
    EXPECT_EQ(sum, 9);
}

TEST_F(ShadingContextTest, ComputesOnlyWhenDirtyAndAChildThroughItsParent) {
    Node* node = makeNode();
    ShadingContext context;
    ASSERT_TRUE(context.attach(node));
    mayahost::AttributeHandle position, resultG;
    ASSERT_TRUE(mayahost::findAttribute(node, "position", position));
    ASSERT_TRUE(mayahost::findAttribute(node, "resultG", resultG));
    float green = 0;
    for (float y : {5.0f, 5.0f, 7.0f}) {
        ASSERT_TRUE(context.setFloat3(position, 0, y, 0));
        ASSERT_TRUE(context.getFloat(resultG, green));
        ASSERT_TRUE(context.getFloat(resultG, green));
        EXPECT_EQ(green, y);
    }
    // The node computes only result and sum, so green can only have come through result.
    EXPECT_EQ(user(node).computeCount, 3) << "once per point set, not per read";
}

TEST_F(ShadingContextTest, RefusesWhatItCannotDo) {
    Node* node = makeNode();
    ShadingContext unattached;
    MFloatVector color;
    EXPECT_FALSE(unattached.getFloat3("result", color));
    EXPECT_FALSE(unattached.setFloat3("position", 1, 2, 3));
    EXPECT_FALSE(unattached.attach(nullptr));

    ShadingContext context;
    ASSERT_TRUE(context.attach(node));
    struct Case {
        const char* what;
        mayahost::Result result;
    };
    float value = 0;
    const Case cases[] = {
        {"an output", context.setFloat3("result", 1, 2, 3)},
        {"an unknown name", context.setFloat3("nothing", 1, 2, 3)},
        {"a float as a point", context.getFloat3("gain", color)},
        {"a point as a float", context.getFloat("position", value)},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(c.result) << c.what;
        EXPECT_FALSE(c.result.error.empty()) << c.what;
    }
    EXPECT_EQ(user(node).computeCount, 0);
}

// Threads shade points of their own through one context each: every result belongs to that
// thread's point; an MP-safe node is computed on several contexts at once, and one that is not
// is still computed one evaluation at a time.
TEST_F(ShadingContextTest, ContextsOnManyThreadsKeepTheirPointsApart) {
    TestNode::computeDuration = std::chrono::microseconds(20);
    for (const bool mpSafe : {true, false}) {
        TestNode::mpSafe = mpSafe;
        Node* node = makeNode();
        std::atomic<int> wrongResults{0};
        std::vector<std::thread> threads;
        for (int thread = 1; thread <= 4; ++thread) {
            threads.emplace_back([node, thread, &wrongResults] {
                ShadingContext context;
                if (!context.attach(node)) ++wrongResults;
                for (int step = 0; step < 500; ++step) {
                    const float x = static_cast<float>(thread * 1000 + step);
                    MFloatVector color;
                    if (!context.setFloat3("position", x, x, 0) ||
                        !context.getFloat3("result", color) || color.x != x || color.y != x) {
                        ++wrongResults;
                    }
                }
            });
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
        EXPECT_EQ(wrongResults, 0) << "MP-safe: " << mpSafe;
        EXPECT_EQ(user(node).computeCount, 2000) << "MP-safe: " << mpSafe;
        if (mpSafe) {
            EXPECT_GT(user(node).maxRunningComputes, 1);
        } else {
            EXPECT_EQ(user(node).maxRunningComputes, 1);
        }
    }
}

}  // namespace
