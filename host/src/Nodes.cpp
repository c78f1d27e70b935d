// Node evaluation: data blocks and handles, reading and setting values, dirty propagation.
#include <maya/MDGContext.h>
#include <maya/MFloatMatrix.h>
#include <maya/MFloatVector.h>

#include <new>
#include <optional>

#include "HostInternal.h"

using mayahost::detail::Access;
using mayahost::detail::Attribute;
using mayahost::detail::BlockValues;
using mayahost::detail::Node;
using mayahost::detail::NodeType;
using mayahost::detail::Slot;
using mayahost::detail::Storage;

namespace {

template <class T>
T& zeroedScratch() {
    thread_local T scratch;
    scratch = T();
    return scratch;
}

MDataHandle blockHandle(BlockValues* values, const Attribute* attribute, MStatus* ReturnStatus) {
    if (attribute == nullptr || attribute->owner != values->type) {
        mayahost::detail::reportStatus(ReturnStatus, MStatus::kInvalidParameter);
        return MDataHandle();
    }
    mayahost::detail::reportStatus(ReturnStatus, MStatus::kSuccess);
    return values->handle(attribute->slot);
}

}  // namespace

void* MDataHandle::scratchValue(Storage storage) {
    switch (storage) {
        case kBoolStorage:
            return &zeroedScratch<bool>();
        case kFloat3Storage:
            return &zeroedScratch<MFloatVector>();
        case kMatrixStorage:
            return &zeroedScratch<MFloatMatrix>();
        case kStringStorage:
            return &zeroedScratch<MString>();
        case kFloatStorage:
        case kNoStorage:
            break;
    }
    return &zeroedScratch<float>();
}

MDataBlock::MDataBlock(BlockValues* values) : values_(values) {}

MDataHandle MDataBlock::inputValue(const MPlug& plug, MStatus* ReturnStatus) {
    return blockHandle(values_, Access::attribute(plug), ReturnStatus);
}
MDataHandle MDataBlock::inputValue(const MObject& attribute, MStatus* ReturnStatus) {
    return blockHandle(values_, Access::attribute(attribute), ReturnStatus);
}
MDataHandle MDataBlock::outputValue(const MPlug& plug, MStatus* ReturnStatus) {
    return blockHandle(values_, Access::attribute(plug), ReturnStatus);
}
MDataHandle MDataBlock::outputValue(const MObject& attribute, MStatus* ReturnStatus) {
    return blockHandle(values_, Access::attribute(attribute), ReturnStatus);
}

MStatus MDataBlock::setClean(const MPlug& plug) { return setClean(plug.attribute()); }
MStatus MDataBlock::setClean(const MObject& attribute) {
    MStatus status;
    blockHandle(values_, Access::attribute(attribute), &status).setClean();
    return status;
}

MPxNode::MPxNode() : mpSafe_(false) {}
MPxNode::~MPxNode() = default;
void MPxNode::postConstructor() {}
MStatus MPxNode::compute(const MPlug&, MDataBlock&) { return MStatus::kUnknownParameter; }
bool MPxNode::getInternalValueInContext(const MPlug&, MDataHandle&, MDGContext&) { return false; }
bool MPxNode::setInternalValueInContext(const MPlug&, const MDataHandle&, MDGContext&) {
    return false;
}
void MPxNode::setMPSafe(bool flag) { mpSafe_ = flag; }

namespace mayahost {
namespace {

using detail::EvaluationLock;
using detail::storageFor;

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
    switch (to.type->slots[static_cast<std::size_t>(slot)].storage) {
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
        const std::size_t index = static_cast<std::size_t>(slot);
        if (node.values.dirty[index] != 0 && evaluated.values.dirty[index] == 0) {
            node.values.dirty[index] = 0;
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
        if (node->values.dirty[static_cast<std::size_t>(slot)] == 0 &&
            !node->type->slots[static_cast<std::size_t>(slot)].attribute->internal) {
            value = node->values.value<T>(slot);
            return {};
        }
    }
    EvaluationLock evaluation(*node);
    Snapshot snapshot = takeSnapshot(*node);
    const MStatus status = detail::evaluateSlot(*node, snapshot.values, slot);
    publish(*node, snapshot);
    value = snapshot.values.value<T>(slot);
    return status ? Result() : detail::computeFailure(*node, slot, status);
}

// Hands the value to the node's setInternalValueInContext; true when the node kept it.
template <class T>
bool offerToNode(Node& node, int slot, const T& value) {
    const Slot& layout = node.type->slots[static_cast<std::size_t>(slot)];
    std::unique_lock<std::shared_mutex> alone(node.handlers);
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
    const bool keptByNode = node->type->slots[static_cast<std::size_t>(slot)].attribute->internal &&
                            offerToNode(*node, slot, value);
    std::lock_guard<std::mutex> lock(node->valuesMutex);
    if (!keptByNode) {
        node->values.value<T>(slot) = value;
    }
    ++node->generation;
    node->values.markSet(slot);
    return {};
}

// An MP-safe node evaluates on every context at once, with no lock; other nodes take turns with
// all evaluations of the node.
template <class T>
Result readFromContext(Node* node, BlockValues* values, const AttributeRef& attribute, T& value) {
    int slot = -1;
    Result resolved = detail::resolveSlot(node, attribute, storageFor<T>(), slot);
    if (!resolved) {
        return resolved;
    }
    std::optional<EvaluationLock> evaluation;
    if (!Access::isMPSafe(*node->user)) {
        evaluation.emplace(*node);
    }
    const MStatus status = detail::evaluateSlot(*node, *values, slot);
    value = values->value<T>(slot);
    return status ? Result() : detail::computeFailure(*node, slot, status);
}

}  // namespace

ShadingContext::ShadingContext() = default;
ShadingContext::~ShadingContext() = default;

Result ShadingContext::attach(Node* node) {
    if (node == nullptr) {
        return Result::failure("no node");
    }
    if (!values_) {
        values_.reset(new (std::nothrow) BlockValues());
        if (!values_) {
            return Result::failure("no memory for a shading context");
        }
    }
    std::lock_guard<std::mutex> lock(node->valuesMutex);
    *values_ = node->values;
    node_ = node;
    return {};
}

Result ShadingContext::setFloat3(AttributeRef attribute, float x, float y, float z) {
    int slot = -1;
    Result resolved = detail::resolveWritableSlot(node_, attribute, Storage::Float3, slot);
    if (!resolved) {
        return resolved;
    }
    const Attribute& described = *node_->type->slots[static_cast<std::size_t>(slot)].attribute;
    if (described.internal) {
        return Result::failure("internal attribute \"" + described.longName +
                               "\" is set on the node, not on a shading context");
    }
    values_->value<MFloatVector>(slot) = MFloatVector(x, y, z);
    values_->markSet(slot);
    return {};
}

Result ShadingContext::getFloat(AttributeRef attribute, float& value) {
    return readFromContext(node_, values_.get(), attribute, value);
}

Result ShadingContext::getFloat3(AttributeRef attribute, MFloatVector& value) {
    return readFromContext(node_, values_.get(), attribute, value);
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
    dirty = node->values.dirty[static_cast<std::size_t>(slot)] != 0;
    return {};
}

Result computePlug(Node* node, AttributeRef attribute, MStatus& computeStatus) {
    int slot = -1;
    Result resolved = detail::resolveSlot(node, attribute, slot);
    if (!resolved) {
        return resolved;
    }
    EvaluationLock evaluation(*node);
    Snapshot snapshot = takeSnapshot(*node);
    computeStatus = detail::compute(*node, snapshot.values, slot, false);
    publish(*node, snapshot);
    return {};
}

}  // namespace mayahost
