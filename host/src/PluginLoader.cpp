// Loading plug-in libraries the way the host does: open, read MApiVersion, call the entry points.
#include <algorithm>
#include <cstring>

#include "HostInternal.h"
#include "ModulePath.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace mayahost {
namespace {

using detail::EntryPoint;
using detail::Plugin;

// Names of `MStatus initializePlugin(MObject)` and its pair as this compiler mangles them, for
// plug-ins whose link step did not add the plain names.
#ifdef _MSC_VER
constexpr const char* kMangledInitialize = "?initializePlugin@@YA?AVMStatus@@VMObject@@@Z";
constexpr const char* kMangledUninitialize = "?uninitializePlugin@@YA?AVMStatus@@VMObject@@@Z";
#else
constexpr const char* kMangledInitialize = "_Z16initializePlugin7MObject";
constexpr const char* kMangledUninitialize = "_Z18uninitializePlugin7MObject";
#endif

// Longest MApiVersion read; the export is a short NUL-terminated text.
constexpr std::size_t kMaxApiVersionLength = 64;

#ifdef _WIN32
void* openLibrary(const std::string& path, std::string& error) {
    HMODULE library = LoadLibraryA(path.c_str());
    if (library == nullptr) {
        error = "cannot load \"" + path + "\" (error " + std::to_string(GetLastError()) + ")";
    }
    return reinterpret_cast<void*>(library);
}
void* findSymbol(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}
void closeLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }
#else
void* openLibrary(const std::string& path, std::string& error) {
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* reason = dlerror();
        error = "cannot load \"" + path + "\": " + (reason != nullptr ? reason : "unknown error");
    }
    return library;
}
void* findSymbol(void* library, const char* name) { return dlsym(library, name); }
void closeLibrary(void* library) { dlclose(library); }
#endif

EntryPoint findEntryPoint(void* library, const char* plainName, const char* mangledName,
                          EntryPointNames& names) {
    void* symbol = findSymbol(library, plainName);
    names = EntryPointNames::Plain;
    if (symbol == nullptr) {
        symbol = findSymbol(library, mangledName);
        names = EntryPointNames::Mangled;
    }
    // Object and function pointers share a representation on every platform the host runs on.
    EntryPoint entry = nullptr;
    static_assert(sizeof entry == sizeof symbol, "function pointers must fit a symbol address");
    std::memcpy(&entry, &symbol, sizeof entry);
    return entry;
}

}  // namespace

Result loadPlugin(const std::string& name, PluginInfo* info) {
    std::string path;
    if (Result found = detail::findPluginFile(name, path); !found) {
        return found;
    }
    std::string error;
    void* library = openLibrary(path, error);
    if (library == nullptr) {
        return Result::failure(error);
    }
    const char* apiVersion = static_cast<const char*>(findSymbol(library, "MApiVersion"));
    EntryPointNames initializeNames = EntryPointNames::Plain;
    EntryPointNames uninitializeNames = EntryPointNames::Plain;
    const EntryPoint initialize =
        findEntryPoint(library, "initializePlugin", kMangledInitialize, initializeNames);
    const EntryPoint uninitialize =
        findEntryPoint(library, "uninitializePlugin", kMangledUninitialize, uninitializeNames);
    if (apiVersion == nullptr || initialize == nullptr || uninitialize == nullptr) {
        closeLibrary(library);
        return Result::failure("\"" + path +
                               "\" is not a plug-in: it must export MApiVersion, "
                               "initializePlugin and uninitializePlugin");
    }

    auto record = std::make_unique<Plugin>();
    record->path = path;
    record->apiVersion.assign(apiVersion, strnlen(apiVersion, kMaxApiVersionLength));
    record->entryPoints =
        initializeNames == EntryPointNames::Plain && uninitializeNames == EntryPointNames::Plain
            ? EntryPointNames::Plain
            : EntryPointNames::Mangled;
    record->library = library;
    record->uninitialize = uninitialize;
    Plugin* plugin = record.get();
    {
        detail::Registry& registry = detail::registry();
        std::lock_guard<std::mutex> lock(registry.mutex);
        registry.plugins.push_back(std::move(record));
    }

    const MStatus initialized = initialize(detail::Access::makeObject(plugin));
    if (!initialized) {
        // Whatever it registered before failing goes with it; no node can exist yet.
        detail::removePluginTypes(*plugin);
        detail::forgetPlugin(plugin);
        closeLibrary(library);
        return Result::failure("initializePlugin of \"" + path +
                               "\" failed: " + initialized.errorString().asChar());
    }
    if (info != nullptr) {
        *info = {plugin->path, plugin->apiVersion, plugin->entryPoints};
    }
    return {};
}

Result unloadPlugin(const std::string& path) {
    Plugin* plugin = nullptr;
    {
        detail::Registry& registry = detail::registry();
        std::lock_guard<std::mutex> lock(registry.mutex);
        auto latest = std::find_if(registry.plugins.rbegin(), registry.plugins.rend(),
                                   [&path](const std::unique_ptr<Plugin>& each) {
                                       return each->library != nullptr &&
                                              detail::namesPlugin(path, each->path);
                                   });
        if (latest == registry.plugins.rend()) {
            return Result::failure("\"" + path + "\" is not loaded");
        }
        plugin = latest->get();
        for (const std::unique_ptr<detail::NodeType>& type : registry.types) {
            if (type->plugin == plugin && type->liveNodes > 0) {
                return Result::failure("\"" + path + "\" is in use: nodes of type \"" + type->name +
                                       "\" exist");
            }
        }
    }
    const MStatus uninitialized = plugin->uninitialize(detail::Access::makeObject(plugin));
    if (!uninitialized) {
        return Result::failure("uninitializePlugin of \"" + path + "\" failed: " +
                               uninitialized.errorString().asChar() + "; it stays loaded");
    }
    // Types it did not deregister cannot outlive its code.
    Result removed = detail::removePluginTypes(*plugin);
    if (!removed) {
        return removed;
    }
    void* library = plugin->library;
    detail::forgetPlugin(plugin);
    closeLibrary(library);
    return {};
}

}  // namespace mayahost
