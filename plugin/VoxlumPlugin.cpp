// The plug-in's entry points: the host calls initializePlugin when it loads the module and
// uninitializePlugin when it unloads it.
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

#ifdef _WIN32
#include <windows.h>
#endif

// The host API version the module is built for. The braces make this a definition with C
// linkage rather than an initialised extern declaration.
extern "C" {
PLUGIN_EXPORT char MApiVersion[] = "800";
}

#ifdef _WIN32
namespace {
HINSTANCE moduleInstance = nullptr;
}

// Loading the image only records its handle; all real work waits for initializePlugin.
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) moduleInstance = instance;
    return TRUE;
}
#endif

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
