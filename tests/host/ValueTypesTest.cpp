// The host's value classes where they have rules of their own.
#include <maya/MFloatMatrix.h>
#include <maya/MFloatPoint.h>
#include <maya/MGlobal.h>
#include <maya/MStatus.h>
#include <maya/MString.h>
#include <maya/MTypeId.h>
#include <voxlumhost/Host.h>

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

TEST(MStringTest, SubstringClampsAndIncludesTheEnd) {
    struct Case {
        const char* text;
        int start;
        int end;
        const char* expected;
    };
    const Case cases[] = {
        {"cloud.vol", 5, 8, ".vol"}, {"cloud.vol", 0, 0, "c"},
        {"vo", -2, 1, "vo"},         {"", -4, -1, ""},
        {"cloud", 3, 99, "ud"},      {"cloud", 3, 2, ""},
    };
    for (const Case& c : cases) {
        EXPECT_STREQ(MString(c.text).substring(c.start, c.end).asChar(), c.expected)
            << c.text << " " << c.start << ".." << c.end;
    }
}

TEST(MStringTest, NumbersAppendInShortestForm) {
    struct Case {
        MString built;
        const char* expected;
    };
    MString channels("channels: ");
    MString value = MString("v") + 0.1;
    value += 2.5f;
    value += -3;
    value += 7u;
    value += 0.1f;
    const Case cases[] = {
        {channels + 4, "channels: 4"},
        {channels + -0.0, "channels: 0"},
        {channels + 1e20, "channels: 1e+20"},
        {channels + 1.0 / 3, "channels: 0.3333333333333333"},
        {value, "v0.12.5-370.1"},
        {MString("a") + "b" + MString("c"), "abc"},
    };
    for (const Case& c : cases) {
        EXPECT_STREQ(c.built.asChar(), c.expected);
    }
    EXPECT_TRUE(MString("x.vol") != ".VOL");
    EXPECT_FALSE(MString("x.vol") != "x.vol");
}

TEST(MStatusTest, PerrorPrintsThePrefixAndTheDescription) {
    const MStatus status(MS::kNotFound);
    testing::internal::CaptureStderr();
    status.perror("");
    status.perror(MString("load"));
    const std::string printed = testing::internal::GetCapturedStderr();
    const std::string description = status.errorString().asChar();
    EXPECT_EQ(printed, description + "\n" + "load: " + description + "\n");
    EXPECT_NE(description, MStatus(MS::kFailure).errorString().asChar());
    EXPECT_FALSE(MStatus(MS::kUnknownParameter));
    EXPECT_TRUE(MStatus());
}

TEST(MFloatPointTest, MultipliesAsARowVectorWithoutDividingByW) {
    float rows[4][4] = {{2, 0, 0, 0}, {0, 3, 0, 1}, {1, 0, 4, 0}, {0.5f, 0, 0, 1}};
    MFloatPoint point(0.25f, 1, 2);
    point *= MFloatMatrix(rows);
    EXPECT_FLOAT_EQ(point.x, 0.25f * 2 + 2 * 1 + 0.5f);
    EXPECT_FLOAT_EQ(point.y, 3);
    EXPECT_FLOAT_EQ(point.z, 8);
    EXPECT_FLOAT_EQ(point.w, 1 + 1);

    MFloatPoint unchanged(1, 2, 3, 4);
    unchanged *= MFloatMatrix();
    EXPECT_EQ(unchanged.w, 4);
    EXPECT_EQ(unchanged.x, 1);
}

TEST(MTypeIdTest, PrefixFillsTheUpperBits) {
    EXPECT_EQ(MTypeId(0x10A5, 0x10).id(), 0x10A510u);
    EXPECT_EQ(MTypeId(0x10A5, 0x10), MTypeId(0x10A510));
}

TEST(MGlobalTest, MessagesAreLoggedAndEchoedLikeTheScriptEditor) {
    for (bool echo : {true, false}) {
        mayahost::setConsoleEcho(echo);
        mayahost::clearMessages();
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        MGlobal::displayInfo("loading");
        MGlobal::displayError("failed");
        const std::string out = testing::internal::GetCapturedStdout();
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(out, echo ? "loading\n" : "");
        EXPECT_EQ(err, echo ? "// Error: failed //\n" : "");
        const std::vector<mayahost::Message> log = mayahost::messages();
        ASSERT_EQ(log.size(), 2u);
        EXPECT_EQ(log[0].kind, mayahost::MessageKind::Info);
        EXPECT_EQ(log[0].text, "loading");
        EXPECT_EQ(log[1].kind, mayahost::MessageKind::Error);
        EXPECT_EQ(log[1].text, "failed");
    }
}

}  // namespace
