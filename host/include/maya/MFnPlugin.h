// Function set through which a plug-in registers its node types.
#pragma once

#include <maya/MObject.h>
#include <maya/MPxNode.h>
#include <maya/MStatus.h>
#include <maya/MString.h>
#include <maya/MTypeId.h>
#include <maya/MTypes.h>

// Every plug-in exports the API version it was built for; a plug-in that states its own
// defines MNoVersionString before including this header.
#ifndef MNoVersionString
extern "C" {
PLUGIN_EXPORT char MApiVersion[] = "20220300";
}
#endif

// Windows plug-ins (NT_PLUGIN) get their module entry function from here, which records the
// module's handle; a plug-in that brings its own defines MNoPluginEntry first.
#if defined(NT_PLUGIN) && !defined(MNoPluginEntry)
#include <windows.h>
HINSTANCE MhInstPlugin;
extern "C" int __stdcall DllMain(HINSTANCE hInstance, DWORD, void*) {
    MhInstPlugin = hInstance;
    return 1;
}
#endif

// The entry points the host looks up when it loads and unloads a plug-in.
PLUGIN_EXPORT MStatus initializePlugin(MObject obj);
PLUGIN_EXPORT MStatus uninitializePlugin(MObject obj);

class MFnPlugin {
  public:
    MFnPlugin();
    MFnPlugin(MObject& object, const char* vendor = "Unknown", const char* version = "Unknown",
              const char* requiredApiVersion = "Any", MStatus* ReturnStatus = NULL);
    virtual ~MFnPlugin();

    // Refuses a type name or id already registered, and kinds other than kDependNode. Calls
    // initFunction once; a failing initFunction fails the registration.
    MStatus registerNode(const MString& typeName, const MTypeId& typeId,
                         MCreatorFunction creatorFunction, MInitializeFunction initFunction,
                         MPxNode::Type type = MPxNode::kDependNode,
                         const MString* classification = NULL);
    // Refuses ids this plug-in did not register and types that still have nodes.
    MStatus deregisterNode(const MTypeId& typeId);

  private:
    friend class mayahost::detail::Access;
    mayahost::detail::HostObject* plugin_;
};
