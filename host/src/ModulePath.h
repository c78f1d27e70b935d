// Finding a plug-in by name as the host does: along MAYA_PLUG_IN_PATH, then in the plug-in
// folders of the modules described by the ".mod" files in the folders along MAYA_MODULE_PATH.
#pragma once

#include <voxlumhost/Host.h>

#include <string>

namespace mayahost {
namespace detail {

// A request naming a folder is a path and comes back unchanged. A bare name ("Voxlum", or
// "Voxlum" with the platform's plug-in suffix) is looked up along the paths, the suffix added
// when missing. A malformed line of a module file is reported with MGlobal::displayError,
// naming the file and line, and skipped. Reads the environment and the files anew on every call.
Result findPluginFile(const std::string& request, std::string& path);

// Whether `request`, as given to unloadPlugin, names the plug-in loaded from `path`: that very
// path, or the bare name the path was found by.
bool namesPlugin(const std::string& request, const std::string& path);

}  // namespace detail
}  // namespace mayahost
