// The process-wide registry of plug-ins, node types and nodes.
#include <algorithm>

#include "HostInternal.h"

namespace mayahost {
namespace detail {

Registry& registry() {
    static Registry* instance = new Registry;
    return *instance;
}

NodeType* Registry::findType(std::string_view name) const {
    for (const std::unique_ptr<NodeType>& type : types) {
        if (type->name == name) {
            return type.get();
        }
    }
    return nullptr;
}

NodeType*& initializingType() {
    thread_local NodeType* type = nullptr;
    return type;
}

void forgetPlugin(Plugin* plugin) {
    Registry& registry = detail::registry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.plugins.erase(std::remove_if(registry.plugins.begin(), registry.plugins.end(),
                                          [plugin](const std::unique_ptr<Plugin>& each) {
                                              return each.get() == plugin;
                                          }),
                           registry.plugins.end());
}

Result removePluginTypes(Plugin& plugin) {
    Registry& registry = detail::registry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    for (const std::unique_ptr<NodeType>& type : registry.types) {
        if (type->plugin == &plugin && type->liveNodes > 0) {
            return Result::failure("nodes of type \"" + type->name + "\" still exist");
        }
    }
    auto owned = [&plugin](const std::unique_ptr<NodeType>& type) {
        return type->plugin == &plugin;
    };
    for (const std::unique_ptr<NodeType>& type : registry.types) {
        if (owned(type)) {
            releaseAttributes(*type);
        }
    }
    registry.types.erase(std::remove_if(registry.types.begin(), registry.types.end(), owned),
                         registry.types.end());
    return {};
}

}  // namespace detail
}  // namespace mayahost
