// The plug-in's entry points: the host calls initializePlugin when it loads the module and
// uninitializePlugin when it unloads it. On Windows MFnPlugin.h also defines the module's
// DllMain, so no other source of the module includes it.
#define MNoVersionString
#include <maya/MFnPlugin.h>
#include <maya/MGlobal.h>
#include <maya/MObject.h>
#include <maya/MPxNode.h>
#include <maya/MStatus.h>
#include <maya/MString.h>
#include <maya/MTypes.h>

#include <string>

#include "Banner.h"
#include "StatusReport.h"
#include "Voxlum.h"

// The host API version the module is built for. The braces make this a definition with C
// linkage rather than an initialised extern declaration.
extern "C" {
PLUGIN_EXPORT char MApiVersion[] = "800";
}

PLUGIN_EXPORT MStatus initializePlugin(MObject obj) {
    for (const std::string& line : bannerLines()) MGlobal::displayInfo(line.c_str());

    MFnPlugin plugin(obj, kVoxlumCredits, "1.0", "Any");
    const MString classification("texture/3d");
    VOXLUM_CHECK_STATUS(plugin.registerNode("Voxlum", Voxlum::id, Voxlum::creator,
                                            Voxlum::initialize, MPxNode::kDependNode,
                                            &classification));
    return MS::kSuccess;
}

PLUGIN_EXPORT MStatus uninitializePlugin(MObject obj) {
    MFnPlugin plugin(obj, "Unknown", "Unknown", "Any");
    VOXLUM_CHECK_STATUS(plugin.deregisterNode(Voxlum::id));
    return MS::kSuccess;
}
