// Nodes: creating and deleting them, and reading and setting their values, which computes
// what is dirty and marks what a set value affects.
#include <maya/MDGContext.h>
#include <maya/MFloatMatrix.h>
#include <maya/MFloatVector.h>

#include <algorithm>

#include "Evaluation.h"

namespace mayahost {

using detail::Access;
using detail::BlockValues;
using detail::NodeType;
using detail::Registry;
using detail::Slot;
using detail::Storage;
using detail::storageFor;

namespace {

// A copy of the node's values for one evaluation, and how many values had been set then.
struct Snapshot {
    BlockValues values;
    std::uint64_t generation = 0;
};

Snapshot takeSnapshot(Node& node) {
    std::lock_guard<std::mutex> lock(node.valuesMutex);
    return {node.values, node.generation};
}

void copyValue(BlockValues& from, BlockValues& to, int slot) {
    switch (to.type->slot(slot).storage) {
        case Storage::Float:
            to.value<float>(slot) = from.value<float>(slot);
            break;
        case Storage::Bool:
            to.value<bool>(slot) = from.value<bool>(slot);
            break;
        case Storage::Float3:
            to.value<MFloatVector>(slot) = from.value<MFloatVector>(slot);
            break;
        case Storage::Matrix:
            to.value<MFloatMatrix>(slot) = from.value<MFloatMatrix>(slot);
            break;
        case Storage::String:
            to.value<MString>(slot) = from.value<MString>(slot);
            break;
    }
}

// Gives the node what the evaluation cleaned and the node still has dirty, unless a value was
// set since the snapshot: the results would then be stale.
void publish(Node& node, Snapshot& evaluated) {
    std::lock_guard<std::mutex> lock(node.valuesMutex);
    if (evaluated.generation != node.generation) {
        return;
    }
    for (int slot : node.type->computedSlots) {
        unsigned char& dirty = node.values.dirty[static_cast<std::size_t>(slot)];
        if (dirty != 0 && !evaluated.values.isDirty(slot)) {
            dirty = 0;
            copyValue(evaluated.values, node.values, slot);
        }
    }
}

template <class T>
Result readValue(Node* node, const AttributeRef& attribute, T& value) {
    int slot = -1;
    Result resolved = detail::resolveSlot(node, attribute, storageFor<T>(), slot);
    if (!resolved) {
        return resolved;
    }
    {
        std::lock_guard<std::mutex> lock(node->valuesMutex);
        if (!node->values.isDirty(slot) && !node->type->slot(slot).attribute->internal) {
            value = node->values.value<T>(slot);
            return {};
        }
    }
    std::lock_guard<std::mutex> handlers(node->handlerMutex);
    Snapshot snapshot = takeSnapshot(*node);
    const MStatus status = detail::evaluateSlot(*node, snapshot.values, slot);
    publish(*node, snapshot);
    value = snapshot.values.value<T>(slot);
    return status ? Result() : detail::computeFailure(*node, slot, status);
}

// Hands the value to the node's setInternalValueInContext; true when the node kept it.
template <class T>
bool offerToNode(Node& node, int slot, const T& value) {
    const Slot& layout = node.type->slot(slot);
    std::lock_guard<std::mutex> handlers(node.handlerMutex);
    T offered = value;
    unsigned char unusedDirtyFlag = 0;
    const MDataHandle handle = Access::makeHandle(&offered, layout.storage, &unusedDirtyFlag, 1);
    return node.user->setInternalValueInContext(Access::makePlug(&node, layout.attribute), handle,
                                                MDGContext::fsNormal);
}

template <class T>
Result writeValue(Node* node, const AttributeRef& attribute, const T& value) {
    int slot = -1;
    Result resolved = detail::resolveWritableSlot(node, attribute, storageFor<T>(), slot);
    if (!resolved) {
        return resolved;
    }
    const bool keptByNode =
        node->type->slot(slot).attribute->internal && offerToNode(*node, slot, value);
    std::lock_guard<std::mutex> lock(node->valuesMutex);
    if (!keptByNode) {
        node->values.value<T>(slot) = value;
    }
    ++node->generation;
    node->values.markSet(slot);
    return {};
}

}  // namespace

Result createNode(const std::string& typeName, Node*& node) {
    node = nullptr;
    Registry& registry = detail::registry();
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
    Registry& registry = detail::registry();
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
    int slot = -1;
    Result resolved = detail::resolveSlot(node, name, slot);
    handle = resolved ? AttributeHandle{node->type, slot} : AttributeHandle();
    return resolved;
}

Result setFloat(Node* node, AttributeRef attribute, float value) {
    return writeValue(node, attribute, value);
}
Result setBool(Node* node, AttributeRef attribute, bool value) {
    return writeValue(node, attribute, value);
}
Result setFloat3(Node* node, AttributeRef attribute, float x, float y, float z) {
    return writeValue(node, attribute, MFloatVector(x, y, z));
}
Result setMatrix(Node* node, AttributeRef attribute, const MFloatMatrix& value) {
    return writeValue(node, attribute, value);
}
Result setString(Node* node, AttributeRef attribute, const std::string& value) {
    return writeValue(node, attribute, MString(value.c_str()));
}

Result getFloat(Node* node, AttributeRef attribute, float& value) {
    return readValue(node, attribute, value);
}
Result getBool(Node* node, AttributeRef attribute, bool& value) {
    return readValue(node, attribute, value);
}
Result getFloat3(Node* node, AttributeRef attribute, MFloatVector& value) {
    return readValue(node, attribute, value);
}
Result getMatrix(Node* node, AttributeRef attribute, MFloatMatrix& value) {
    return readValue(node, attribute, value);
}
Result getString(Node* node, AttributeRef attribute, std::string& value) {
    MString text;
    Result read = readValue(node, attribute, text);
    value = text.asChar();
    return read;
}

Result isDirty(Node* node, AttributeRef attribute, bool& dirty) {
    int slot = -1;
    Result resolved = detail::resolveSlot(node, attribute, slot);
    if (!resolved) {
        return resolved;
    }
    std::lock_guard<std::mutex> lock(node->valuesMutex);
    dirty = node->values.isDirty(slot);
    return {};
}

Result computePlug(Node* node, AttributeRef attribute, MStatus& computeStatus) {
    int slot = -1;
    Result resolved = detail::resolveSlot(node, attribute, slot);
    if (!resolved) {
        return resolved;
    }
    std::lock_guard<std::mutex> handlers(node->handlerMutex);
    Snapshot snapshot = takeSnapshot(*node);
    computeStatus = detail::compute(*node, snapshot.values, slot, false);
    publish(*node, snapshot);
    return {};
}

}  // namespace mayahost
