// The driver's view of the registered node types, and in-process plug-in objects that
// register them without a library.
#include <algorithm>

#include "HostInternal.h"

namespace mayahost {

using detail::Access;
using detail::Attribute;
using detail::NodeType;
using detail::Plugin;
using detail::Registry;
using detail::Slot;

MObject createPluginObject() {
    Registry& registry = detail::registry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.plugins.push_back(std::make_unique<Plugin>());
    return Access::makeObject(registry.plugins.back().get());
}

Result destroyPluginObject(const MObject& object) {
    Plugin* plugin = Access::plugin(object);
    if (plugin == nullptr || !plugin->path.empty()) {
        return Result::failure("not an in-process plug-in object");
    }
    Result removed = detail::removePluginTypes(*plugin);
    if (!removed) {
        return removed;
    }
    detail::forgetPlugin(plugin);
    return {};
}

std::vector<NodeTypeInfo> nodeTypes() {
    Registry& registry = detail::registry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    std::vector<NodeTypeInfo> infos;
    for (const std::unique_ptr<NodeType>& type : registry.types) {
        infos.push_back({type->name, type->id, type->classification});
    }
    return infos;
}

Result describeNodeType(const std::string& typeName, std::vector<AttributeInfo>& attributes) {
    attributes.clear();
    Registry& registry = detail::registry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    const NodeType* type = registry.findType(typeName);
    if (type == nullptr) {
        return Result::failure("unknown node type \"" + typeName + "\"");
    }
    for (const Slot& slot : type->slots) {
        const Attribute& attribute = *slot.attribute;
        AttributeInfo info;
        info.longName = attribute.longName;
        info.shortName = attribute.shortName;
        info.kind = attribute.kind;
        info.defaultValue = attribute.defaultValue;
        info.keyable = attribute.keyable;
        info.storable = attribute.storable;
        info.readable = attribute.readable;
        info.writable = attribute.writable;
        info.hidden = attribute.hidden;
        info.internal = attribute.internal;
        info.parent = attribute.parent != nullptr ? attribute.parent->longName : "";
        for (const Attribute* child : attribute.children) {
            info.children.push_back(child->longName);
        }
        for (const auto& [whenChanges, isAffected] : type->affects) {
            if (whenChanges == &attribute) {
                info.affects.push_back(isAffected->longName);
            }
        }
        attributes.push_back(std::move(info));
    }
    return {};
}

}  // namespace mayahost
