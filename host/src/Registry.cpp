// Plug-ins, node types with their attribute layout, and nodes.
#include <algorithm>
#include <cstring>

#include <maya/MFloatMatrix.h>
#include <maya/MFloatVector.h>

#include "HostInternal.h"

namespace mayahost {
namespace detail {

Registry& registry() {
    static Registry* instance = new Registry;
    return *instance;
}

Storage storageOf(AttributeKind kind) {
    switch (kind) {
        case AttributeKind::Float:
            return Storage::Float;
        case AttributeKind::Bool:
            return Storage::Bool;
        case AttributeKind::Point:
        case AttributeKind::Color:
            return Storage::Float3;
        case AttributeKind::FloatMatrix:
            return Storage::Matrix;
        case AttributeKind::String:
            return Storage::String;
    }
    return Storage::Float;
}

int NodeType::findSlot(std::string_view name) const {
    for (std::size_t index = 0; index < slots.size(); ++index) {
        const Attribute& attribute = *slots[index].attribute;
        if (attribute.longName == name || attribute.shortName == name) {
            return static_cast<int>(index);
        }
    }
    return -1;
}

NodeType* Registry::findType(std::string_view name) const {
    for (const std::unique_ptr<NodeType>& type : types) {
        if (type->name == name) {
            return type.get();
        }
    }
    return nullptr;
}

bool Registry::nameOrIdTaken(std::string_view name, unsigned int id) const {
    return std::any_of(types.begin(), types.end(), [&](const std::unique_ptr<NodeType>& type) {
        return type->name == name || type->id == id;
    });
}

NodeType*& initializingType() {
    thread_local NodeType* type = nullptr;
    return type;
}

namespace {

// The slots whose values change along with the slot: itself, its children and its parent.
std::vector<int> familyOf(const NodeType& type, int slot) {
    const Attribute& attribute = *type.slots[slot].attribute;
    std::vector<int> family{slot};
    for (const Attribute* child : attribute.children) {
        family.push_back(child->slot);
    }
    if (attribute.parent != nullptr) {
        family.push_back(attribute.parent->slot);
    }
    return family;
}

// Everything that setting `slot` makes dirty, following attributeAffects transitively.
std::vector<int> dirtiedBySetting(const NodeType& type, int slot) {
    const std::vector<int> sources = familyOf(type, slot);
    std::vector<bool> reached(type.slots.size(), false);
    std::vector<int> pending = sources;
    for (int source : sources) {
        reached[source] = true;
    }
    std::vector<int> dirtied;
    while (!pending.empty()) {
        const Attribute* changed = type.slots[pending.back()].attribute;
        pending.pop_back();
        for (const auto& [whenChanges, isAffected] : type.affects) {
            if (whenChanges != changed) {
                continue;
            }
            for (int affected : familyOf(type, isAffected->slot)) {
                if (!reached[affected]) {
                    reached[affected] = true;
                    dirtied.push_back(affected);
                    pending.push_back(affected);
                }
            }
        }
    }
    std::sort(dirtied.begin(), dirtied.end());
    return dirtied;
}

std::size_t storageSize(Storage storage) {
    switch (storage) {
        case Storage::Float:
        case Storage::Bool:
            return sizeof(float);
        case Storage::Float3:
            return sizeof(MFloatVector);
        case Storage::Matrix:
            return sizeof(MFloatMatrix);
        case Storage::String:
            return 0;
    }
    return 0;
}

template <class T>
void writeDefault(BlockValues& values, std::size_t offset, const T& value) {
    std::memcpy(values.bytes.data() + offset, &value, sizeof value);
}

}  // namespace

// Lays out the data block, builds the default values and the dirty propagation once all
// attributes are known. Computed attributes start dirty.
void finishLayout(NodeType& type) {
    static_assert(sizeof(MFloatVector) == sizeof(float3), "float3 views share the storage");
    std::size_t byteCount = 0;
    std::size_t stringCount = 0;
    for (Slot& slot : type.slots) {
        const Attribute& attribute = *slot.attribute;
        slot.storage = storageOf(attribute.kind);
        slot.flagCount = 1 + static_cast<int>(attribute.children.size());
        if (attribute.parent != nullptr) {
            // Children follow their parent, so the distance between slots is the component.
            const std::size_t component =
                static_cast<std::size_t>(attribute.slot - attribute.parent->slot - 1);
            slot.offset = type.slots[attribute.parent->slot].offset + sizeof(float) * component;
        } else if (slot.storage == Storage::String) {
            slot.offset = stringCount++;
        } else {
            slot.offset = byteCount;
            byteCount += storageSize(slot.storage);
        }
    }

    BlockValues& defaults = type.defaults;
    defaults.type = &type;
    defaults.bytes.assign(byteCount, std::byte{0});
    defaults.strings.assign(stringCount, MString());
    defaults.dirty.assign(type.slots.size(), 0);
    for (std::size_t index = 0; index < type.slots.size(); ++index) {
        Slot& slot = type.slots[index];
        if (slot.attribute->parent == nullptr) {
            switch (slot.storage) {
                case Storage::Float:
                    writeDefault(defaults, slot.offset,
                                 static_cast<float>(slot.attribute->defaultValue));
                    break;
                case Storage::Bool:
                    writeDefault(defaults, slot.offset, slot.attribute->defaultValue != 0);
                    break;
                case Storage::Float3:
                    writeDefault(defaults, slot.offset, MFloatVector());
                    break;
                case Storage::Matrix:
                    writeDefault(defaults, slot.offset, MFloatMatrix());
                    break;
                case Storage::String:
                    break;
            }
        }
        slot.dirtiedBySetting = dirtiedBySetting(type, static_cast<int>(index));
        for (int dirtied : slot.dirtiedBySetting) {
            defaults.dirty[dirtied] = 1;
        }
    }
    for (std::size_t index = 0; index < type.slots.size(); ++index) {
        if (defaults.dirty[index] != 0) {
            type.computedSlots.push_back(static_cast<int>(index));
        }
    }
}

void releaseAttributes(NodeType& type) {
    for (Slot& slot : type.slots) {
        slot.attribute->owner = nullptr;
        slot.attribute->slot = -1;
    }
}

namespace {

bool namesClash(const Attribute& one, const Attribute& other) {
    return one.longName == other.longName || one.longName == other.shortName ||
           one.shortName == other.longName || one.shortName == other.shortName;
}

}  // namespace

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

using mayahost::detail::Access;
using mayahost::detail::Attribute;
using mayahost::detail::NodeType;
using mayahost::detail::Operation;
using mayahost::detail::Plugin;
using mayahost::detail::Registry;
using mayahost::detail::Slot;
using mayahost::detail::takeInjectedFailure;

MFnPlugin::MFnPlugin() : plugin_(nullptr) {}

// This host shows no plug-in information, so vendor and versions are not kept.
MFnPlugin::MFnPlugin(MObject& object, const char*, const char*, const char*, MStatus* ReturnStatus)
    : plugin_(nullptr) {
    MStatus status;
    if (takeInjectedFailure(Operation::PluginConstruct, status)) {
        mayahost::detail::reportStatus(ReturnStatus, status);
        return;
    }
    Access::attach(*this, Access::plugin(object));
    mayahost::detail::reportStatus(
        ReturnStatus, plugin_ != nullptr ? MStatus::kSuccess : MStatus::kInvalidParameter);
}

MFnPlugin::~MFnPlugin() = default;

MStatus MFnPlugin::registerNode(const MString& typeName, const MTypeId& typeId,
                                MCreatorFunction creatorFunction, MInitializeFunction initFunction,
                                MPxNode::Type type, const MString* classification) {
    MStatus status;
    if (takeInjectedFailure(Operation::RegisterNode, status)) {
        return status;
    }
    Plugin* plugin = Access::plugin(*this);
    if (plugin == nullptr || creatorFunction == nullptr || initFunction == nullptr ||
        typeName.length() == 0) {
        return MStatus::kInvalidParameter;
    }
    if (type != MPxNode::kDependNode) {
        return MStatus::kNotImplemented;
    }
    Registry& registry = mayahost::detail::registry();
    {
        std::lock_guard<std::mutex> lock(registry.mutex);
        if (registry.nameOrIdTaken(typeName.asChar(), typeId.id())) {
            return MStatus::kFailure;
        }
    }

    auto nodeType = std::make_unique<NodeType>();
    nodeType->name = typeName.asChar();
    nodeType->id = typeId.id();
    nodeType->creator = creatorFunction;
    nodeType->classification = classification != nullptr ? classification->asChar() : "";
    nodeType->plugin = plugin;
    NodeType* const outerType = mayahost::detail::initializingType();
    mayahost::detail::initializingType() = nodeType.get();
    const MStatus initialized = initFunction();
    mayahost::detail::initializingType() = outerType;
    if (!initialized) {
        mayahost::detail::releaseAttributes(*nodeType);
        return initialized;
    }
    mayahost::detail::finishLayout(*nodeType);

    std::lock_guard<std::mutex> lock(registry.mutex);
    // Another thread may have registered the same name or id meanwhile.
    if (registry.nameOrIdTaken(nodeType->name, nodeType->id)) {
        mayahost::detail::releaseAttributes(*nodeType);
        return MStatus::kFailure;
    }
    registry.types.push_back(std::move(nodeType));
    return MStatus::kSuccess;
}

MStatus MFnPlugin::deregisterNode(const MTypeId& typeId) {
    MStatus status;
    if (takeInjectedFailure(Operation::DeregisterNode, status)) {
        return status;
    }
    Plugin* plugin = Access::plugin(*this);
    if (plugin == nullptr) {
        return MStatus::kInvalidParameter;
    }
    Registry& registry = mayahost::detail::registry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    auto found = std::find_if(registry.types.begin(), registry.types.end(),
                              [&](const std::unique_ptr<NodeType>& type) {
                                  return type->id == typeId.id() && type->plugin == plugin;
                              });
    if (found == registry.types.end()) {
        return MStatus::kNotFound;
    }
    if ((*found)->liveNodes > 0) {
        return MStatus::kFailure;
    }
    mayahost::detail::releaseAttributes(**found);
    registry.types.erase(found);
    return MStatus::kSuccess;
}

MStatus MPxNode::addAttribute(const MObject& attr) {
    MStatus status;
    if (takeInjectedFailure(Operation::AddAttribute, status)) {
        return status;
    }
    NodeType* type = mayahost::detail::initializingType();
    if (type == nullptr) {
        return MStatus::kFailure;
    }
    Attribute* attribute = Access::attribute(attr);
    // Children come with their parent; an attribute belongs to one type.
    if (attribute == nullptr || attribute->parent != nullptr || attribute->owner != nullptr) {
        return MStatus::kInvalidParameter;
    }
    std::vector<Attribute*> added{attribute};
    added.insert(added.end(), attribute->children.begin(), attribute->children.end());
    for (const Slot& existing : type->slots) {
        for (const Attribute* candidate : added) {
            if (mayahost::detail::namesClash(*existing.attribute, *candidate)) {
                return MStatus::kInvalidParameter;
            }
        }
    }
    for (Attribute* each : added) {
        each->owner = type;
        each->slot = static_cast<int>(type->slots.size());
        Slot slot;
        slot.attribute = each;
        type->slots.push_back(std::move(slot));
    }
    return MStatus::kSuccess;
}

MStatus MPxNode::attributeAffects(const MObject& whenChanges, const MObject& isAffected) {
    MStatus status;
    if (takeInjectedFailure(Operation::AttributeAffects, status)) {
        return status;
    }
    NodeType* type = mayahost::detail::initializingType();
    if (type == nullptr) {
        return MStatus::kFailure;
    }
    Attribute* source = Access::attribute(whenChanges);
    Attribute* target = Access::attribute(isAffected);
    if (source == nullptr || target == nullptr || source->owner != type || target->owner != type) {
        return MStatus::kInvalidParameter;
    }
    type->affects.emplace_back(source, target);
    return MStatus::kSuccess;
}

namespace mayahost {

MObject createPluginObject() {
    detail::Registry& registry = detail::registry();
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
    detail::Registry& registry = detail::registry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    std::vector<NodeTypeInfo> infos;
    for (const std::unique_ptr<NodeType>& type : registry.types) {
        infos.push_back({type->name, type->id, type->classification});
    }
    return infos;
}

Result describeNodeType(const std::string& typeName, std::vector<AttributeInfo>& attributes) {
    attributes.clear();
    detail::Registry& registry = detail::registry();
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

Result createNode(const std::string& typeName, Node*& node) {
    node = nullptr;
    detail::Registry& registry = detail::registry();
    NodeType* type = nullptr;
    {
        std::lock_guard<std::mutex> lock(registry.mutex);
        type = registry.findType(typeName);
        if (type == nullptr) {
            return Result::failure("unknown node type \"" + typeName + "\"");
        }
        // Counted from here on so that the type cannot go away during construction.
        ++type->liveNodes;
    }
    auto* user = static_cast<MPxNode*>(type->creator());
    if (user == nullptr) {
        std::lock_guard<std::mutex> lock(registry.mutex);
        --type->liveNodes;
        return Result::failure("the creator of \"" + typeName + "\" returned no node");
    }
    auto created = std::make_unique<Node>();
    created->type = type;
    created->user = user;
    created->values = type->defaults;
    user->postConstructor();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.nodes.push_back(std::move(created));
    node = registry.nodes.back().get();
    return {};
}

Result deleteNode(Node* node) {
    detail::Registry& registry = detail::registry();
    std::unique_ptr<Node> removed;
    {
        std::lock_guard<std::mutex> lock(registry.mutex);
        auto found =
            std::find_if(registry.nodes.begin(), registry.nodes.end(),
                         [node](const std::unique_ptr<Node>& each) { return each.get() == node; });
        if (found == registry.nodes.end()) {
            return Result::failure("no such node");
        }
        removed = std::move(*found);
        registry.nodes.erase(found);
    }
    // The type, and the library with the node's code, stay until the count drops.
    delete removed->user;
    std::lock_guard<std::mutex> lock(registry.mutex);
    --removed->type->liveNodes;
    return {};
}

MPxNode* userNode(Node* node) { return node != nullptr ? node->user : nullptr; }

Result findAttribute(const Node* node, const std::string& name, AttributeHandle& handle) {
    handle = AttributeHandle();
    if (node == nullptr) {
        return Result::failure("no node");
    }
    const int slot = node->type->findSlot(name);
    if (slot < 0) {
        return Result::failure("node type \"" + node->type->name + "\" has no attribute \"" + name +
                               "\"");
    }
    handle = {node->type, slot};
    return {};
}

}  // namespace mayahost
