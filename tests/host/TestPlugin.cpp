// A minimal plug-in library for the loader tests: one node type whose output doubles its input.
// Built twice, exporting its entry points under plain and under mangled names.
#ifdef TEST_PLUGIN_API_VERSION
#define MNoVersionString
#endif
#include <maya/MFnNumericAttribute.h>
#include <maya/MFnPlugin.h>
#include <maya/MGlobal.h>
#include <maya/MPxNode.h>

// The braces keep the definition from reading as an initialized extern declaration.
#ifdef TEST_PLUGIN_API_VERSION
extern "C" {
PLUGIN_EXPORT char MApiVersion[] = TEST_PLUGIN_API_VERSION;
}
#endif

namespace {

const MTypeId kDoublerId(0x7F0020);
MObject input;
MObject output;

class Doubler : public MPxNode {
  public:
    static void* creator() { return new Doubler; }

    static MStatus initialize() {
        MFnNumericAttribute numeric;
        input = numeric.create("input", "in", MFnNumericData::kFloat, 1.5);
        output = numeric.create("output", "out", MFnNumericData::kFloat);
        numeric.setWritable(false);
        addAttribute(input);
        addAttribute(output);
        return attributeAffects(input, output);
    }

    MStatus compute(const MPlug& plug, MDataBlock& block) override {
        if (plug != output) {
            return MS::kUnknownParameter;
        }
        MDataHandle result = block.outputValue(output);
        result.asFloat() = 2 * block.inputValue(input).asFloat();
        result.setClean();
        return MS::kSuccess;
    }
};

}  // namespace

MStatus initializePlugin(MObject obj) {
    MFnPlugin plugin(obj, "Voxlum tests", "1.0");
    const MStatus registered =
        plugin.registerNode("HostTestDoubler", kDoublerId, Doubler::creator, Doubler::initialize);
    MGlobal::displayInfo(MString("registered: ") + (registered ? 1.0 : 0.0));
    return registered;
}

MStatus uninitializePlugin(MObject obj) {
    MFnPlugin plugin(obj);
    MGlobal::displayInfo("unloading");
    return plugin.deregisterNode(kDoublerId);
}
