// Node-type registration, attribute descriptors and injected failures.
#include "TestNode.h"

#include <maya/MFnMatrixAttribute.h>

#include <map>

namespace {

using RegistryTest = TestNodeFixture;

MStatus returnSuccess() { return MS::kSuccess; }
void* createTestNode() { return TestNode::creator(); }

TEST_F(RegistryTest, RegistrationRefusesDuplicatesForeignIdsAndTypesInUse) {
    MFnPlugin ours(plugin_);
    EXPECT_EQ(ours.registerNode("HostTestNode", MTypeId(0x7F0099), createTestNode, returnSuccess),
              MS::kFailure);
    EXPECT_EQ(ours.registerNode("Another", TestNode::kId, createTestNode, returnSuccess),
              MS::kFailure);
    EXPECT_EQ(ours.registerNode("Locator", MTypeId(0x7F0098), createTestNode, returnSuccess,
                                MPxNode::kLocatorNode),
              MS::kNotImplemented);
    EXPECT_EQ(ours.deregisterNode(MTypeId(0x7F0097)), MS::kNotFound);

    MObject otherPlugin = mayahost::createPluginObject();
    EXPECT_EQ(MFnPlugin(otherPlugin).deregisterNode(TestNode::kId), MS::kNotFound);
    EXPECT_TRUE(mayahost::destroyPluginObject(otherPlugin));

    mayahost::Node* node = makeNode();
    EXPECT_EQ(ours.deregisterNode(TestNode::kId), MS::kFailure);
    EXPECT_FALSE(mayahost::destroyPluginObject(plugin_));
    ASSERT_TRUE(mayahost::deleteNode(node));
    nodes_.clear();
    EXPECT_EQ(ours.deregisterNode(TestNode::kId), MS::kSuccess);
    EXPECT_TRUE(mayahost::nodeTypes().empty());
}

TEST_F(RegistryTest, FailingInitializeLeavesNoType) {
    MFnPlugin ours(plugin_);
    EXPECT_EQ(ours.registerNode("Broken", MTypeId(0x7F0001), createTestNode,
                                [] { return MStatus(MS::kInsufficientMemory); }),
              MS::kInsufficientMemory);
    ASSERT_EQ(mayahost::nodeTypes().size(), 1u);
    EXPECT_EQ(mayahost::nodeTypes()[0].name, "HostTestNode");
}

// Each initializer makes one call that must be refused; the status lands here.
MStatus observed;

TEST_F(RegistryTest, AddAttributeAndAttributeAffectsRefuseBadAttributes) {
    struct Case {
        const char* what;
        MInitializeFunction initialize;
    };
    const Case cases[] = {
        {"duplicate long name",
         []() -> MStatus {
             MFnNumericAttribute numeric;
             MPxNode::addAttribute(numeric.create("alpha", "a", MFnNumericData::kFloat));
             observed = MPxNode::addAttribute(numeric.create("alpha", "b", MFnNumericData::kFloat));
             return MS::kSuccess;
         }},
        {"duplicate short name",
         []() -> MStatus {
             MFnNumericAttribute numeric;
             MPxNode::addAttribute(numeric.create("alpha", "a", MFnNumericData::kFloat));
             observed = MPxNode::addAttribute(numeric.create("beta", "a", MFnNumericData::kFloat));
             return MS::kSuccess;
         }},
        {"clash with a child",
         []() -> MStatus {
             MFnNumericAttribute numeric;
             MPxNode::addAttribute(numeric.createColor("tint", "t"));
             observed = MPxNode::addAttribute(numeric.create("x", "tg", MFnNumericData::kFloat));
             return MS::kSuccess;
         }},
        {"never created",
         []() -> MStatus {
             observed = MPxNode::addAttribute(MObject());
             return MS::kSuccess;
         }},
        {"added twice",
         []() -> MStatus {
             MFnNumericAttribute numeric;
             MObject alpha = numeric.create("alpha", "a", MFnNumericData::kFloat);
             MPxNode::addAttribute(alpha);
             observed = MPxNode::addAttribute(alpha);
             return MS::kSuccess;
         }},
        {"affects with an attribute not added",
         []() -> MStatus {
             MFnNumericAttribute numeric;
             MObject alpha = numeric.create("alpha", "a", MFnNumericData::kFloat);
             MPxNode::addAttribute(alpha);
             observed = MPxNode::attributeAffects(
                 alpha, numeric.create("beta", "b", MFnNumericData::kFloat));
             return MS::kSuccess;
         }},
    };
    MFnPlugin ours(plugin_);
    unsigned int id = 0x7F0100;
    for (const Case& c : cases) {
        observed = MS::kSuccess;
        EXPECT_EQ(ours.registerNode(c.what, MTypeId(id++), createTestNode, c.initialize),
                  MS::kSuccess);
        EXPECT_EQ(observed, MS::kInvalidParameter) << c.what;
    }
    EXPECT_EQ(MPxNode::addAttribute(TestNode::gain), MS::kFailure) << "outside initialize";
}

TEST_F(RegistryTest, DescribesAttributesWithChildrenFlagsAndDependencies) {
    std::vector<mayahost::AttributeInfo> attributes;
    ASSERT_TRUE(mayahost::describeNodeType("HostTestNode", attributes));
    std::map<std::string, mayahost::AttributeInfo> byName;
    for (const mayahost::AttributeInfo& attribute : attributes) {
        byName[attribute.longName] = attribute;
    }
    const mayahost::AttributeInfo& result = byName["result"];
    EXPECT_EQ(result.kind, mayahost::AttributeKind::Color);
    EXPECT_EQ(result.children, (std::vector<std::string>{"resultR", "resultG", "resultB"}));
    EXPECT_FALSE(result.writable);
    EXPECT_EQ(byName["resultG"].shortName, "resg");
    EXPECT_EQ(byName["resultG"].parent, "result");
    EXPECT_FALSE(byName["resultG"].writable) << "flags of a compound reach its children";
    EXPECT_EQ(byName["positionZ"].shortName, "posz");
    EXPECT_EQ(byName["flag"].defaultValue, 1);
    EXPECT_TRUE(byName["label"].internal);
    EXPECT_EQ(byName["gain"].affects, (std::vector<std::string>{"result", "sum"}));

    bool flag = false;
    float gain = 0;
    mayahost::Node* node = makeNode();
    ASSERT_TRUE(mayahost::getBool(node, "flag", flag));
    ASSERT_TRUE(mayahost::getFloat(node, "gain", gain));
    EXPECT_TRUE(flag);
    EXPECT_EQ(gain, 1);
}

// Calls every injectable operation once, recording each status by operation name. Creations
// come first, so an injected creation failure is used up before the attributes that the later
// calls work on are made.
std::map<std::string, MStatus> statuses;

MStatus initializeRecordingStatuses() {
    MStatus status;
    MFnNumericAttribute numeric;
    MFnMatrixAttribute matrix;
    MFnTypedAttribute typed;
    numeric.create("number", "n", MFnNumericData::kFloat, 0, &status);
    statuses["MFnNumericAttribute::create"] = status;
    matrix.create("matrix", "m", MFnMatrixAttribute::kFloat, &status);
    statuses["MFnMatrixAttribute::create"] = status;
    typed.create("text", "t", MFnData::kString, MObject::kNullObj, &status);
    statuses["MFnTypedAttribute::create"] = status;
    numeric.createPoint("point", "p", &status);
    statuses["MFnNumericAttribute::createPoint"] = status;
    numeric.createColor("color", "c", &status);
    statuses["MFnNumericAttribute::createColor"] = status;

    MObject input = numeric.createPoint("input", "i");
    statuses["MFnAttribute::setKeyable"] = numeric.setKeyable(true);
    statuses["MFnAttribute::setStorable"] = numeric.setStorable(true);
    statuses["MFnAttribute::setReadable"] = numeric.setReadable(true);
    statuses["MFnAttribute::setWritable"] = numeric.setWritable(true);
    statuses["MFnAttribute::setHidden"] = numeric.setHidden(true);
    statuses["MFnAttribute::setInternal"] = numeric.setInternal(true);
    MObject output = numeric.createColor("output", "o");
    MObject gain = numeric.create("gain", "g", MFnNumericData::kFloat);
    statuses["MPxNode::addAttribute"] = MPxNode::addAttribute(input);
    MPxNode::addAttribute(output);
    MPxNode::addAttribute(gain);
    statuses["MPxNode::attributeAffects"] = MPxNode::attributeAffects(gain, output);
    return MS::kSuccess;
}

TEST_F(RegistryTest, InjectedFailureHitsOnlyTheNamedOperationForTheGivenCount) {
    const std::vector<std::string> operations = {
        "MFnNumericAttribute::create",      "MFnMatrixAttribute::create",
        "MFnTypedAttribute::create",        "MFnNumericAttribute::createPoint",
        "MFnNumericAttribute::createColor", "MFnAttribute::setKeyable",
        "MFnAttribute::setStorable",        "MFnAttribute::setReadable",
        "MFnAttribute::setWritable",        "MFnAttribute::setHidden",
        "MFnAttribute::setInternal",        "MPxNode::addAttribute",
        "MPxNode::attributeAffects",
    };
    MFnPlugin ours(plugin_);
    unsigned int id = 0x7F0200;
    for (const std::string& failing : operations) {
        ASSERT_TRUE(mayahost::injectFailure(failing, MS::kInsufficientMemory));
        statuses.clear();
        ASSERT_EQ(ours.registerNode(failing.c_str(), MTypeId(id++), createTestNode,
                                    initializeRecordingStatuses),
                  MS::kSuccess);
        for (const auto& [operation, status] : statuses) {
            EXPECT_EQ(status, operation == failing ? MS::kInsufficientMemory : MS::kSuccess)
                << operation << " with " << failing << " failing";
        }
    }

    ASSERT_TRUE(mayahost::injectFailure("MFnPlugin::registerNode", MS::kLicenseFailure, 2));
    for (int call = 0; call < 2; ++call) {
        EXPECT_EQ(ours.registerNode("Refused", MTypeId(0x7F0300), createTestNode, returnSuccess),
                  MS::kLicenseFailure);
    }
    EXPECT_EQ(ours.registerNode("Refused", MTypeId(0x7F0300), createTestNode, returnSuccess),
              MS::kSuccess);

    ASSERT_TRUE(mayahost::injectFailure("MFnPlugin::MFnPlugin"));
    MStatus constructed;
    MFnPlugin failed(plugin_, "Vendor", "1.0", "Any", &constructed);
    EXPECT_EQ(constructed, MS::kFailure);
    EXPECT_EQ(failed.deregisterNode(MTypeId(0x7F0300)), MS::kInvalidParameter);

    EXPECT_FALSE(mayahost::injectFailure("MFnPlugin::registerNodes"));
    EXPECT_FALSE(mayahost::injectFailure("MPxNode::addAttribute", MS::kSuccess));
}

}  // namespace
