// Node evaluation: data blocks and handles, reading and setting values, dirty propagation.
#include <maya/MDGContext.h>
#include <maya/MFloatMatrix.h>
#include <maya/MFloatVector.h>

#include <atomic>
#include <cstring>
#include <new>
#include <type_traits>

#include "HostInternal.h"

using mayahost::detail::Access;
using mayahost::detail::Attribute;
using mayahost::detail::BlockValues;
using mayahost::detail::Node;
using mayahost::detail::NodeLock;
using mayahost::detail::NodeType;
using mayahost::detail::Slot;
using mayahost::detail::Storage;

void BlockValues::copyFrom(const BlockValues& other) {
    type = other.type;
    if (bytes.size() == other.bytes.size() && dirty.size() == other.dirty.size()) {
        std::memcpy(bytes.data(), other.bytes.data(), bytes.size());
        std::memcpy(dirty.data(), other.dirty.data(), dirty.size());
    } else {
        bytes = other.bytes;
        dirty = other.dirty;
    }
    if (stringsVersion == 0 || stringsVersion != other.stringsVersion) {
        strings = other.strings;
        stringsVersion = other.stringsVersion;
    }
}

void BlockValues::stringsChanged() {
    static std::atomic<std::uint64_t> lastVersion{0};
    stringsVersion = lastVersion.fetch_add(1, std::memory_order_relaxed) + 1;
}

namespace {

template <class T>
constexpr Storage storageFor();
template <>
constexpr Storage storageFor<float>() {
    return Storage::Float;
}
template <>
constexpr Storage storageFor<bool>() {
    return Storage::Bool;
}
template <>
constexpr Storage storageFor<MFloatVector>() {
    return Storage::Float3;
}
template <>
constexpr Storage storageFor<MFloatMatrix>() {
    return Storage::Matrix;
}
template <>
constexpr Storage storageFor<MString>() {
    return Storage::String;
}

template <class T>
T& zeroedScratch() {
    thread_local T scratch;
    scratch = T();
    return scratch;
}

MDataHandle handleFor(BlockValues& values, int slot) {
    const Slot& layout = values.type->slots[slot];
    void* data = values.bytes.data() + layout.offset;
    if (layout.storage == Storage::String) {
        data = &values.strings[layout.offset];
        // The holder of the handle may change the string.
        values.stringsVersion = 0;
    }
    return Access::makeHandle(data, layout.storage, &values.dirty[slot], layout.flagCount);
}

MDataHandle blockHandle(BlockValues* values, const Attribute* attribute, MStatus* ReturnStatus) {
    if (attribute == nullptr || attribute->owner != values->type) {
        mayahost::detail::reportStatus(ReturnStatus, MStatus::kInvalidParameter);
        return MDataHandle();
    }
    mayahost::detail::reportStatus(ReturnStatus, MStatus::kSuccess);
    return handleFor(*values, attribute->slot);
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

// Per-thread blocks that evaluations snapshot the node's values into, one per nesting level,
// kept between evaluations so that a steady stream of them allocates nothing.
struct ScratchStack {
    std::vector<std::unique_ptr<BlockValues>> blocks;
    std::size_t depth = 0;
};
// The library is loaded with the program, so its thread data can sit in the static TLS block
// and be reached without a call on every evaluation.
#if defined(__ELF__)
__attribute__((tls_model("initial-exec")))
#endif
thread_local ScratchStack scratchStack;

class ScratchBlock {
  public:
    ScratchBlock() : stack_(scratchStack) {
        if (stack_.depth == stack_.blocks.size()) {
            stack_.blocks.push_back(std::make_unique<BlockValues>());
        }
        values_ = stack_.blocks[stack_.depth++].get();
    }
    ~ScratchBlock() { --stack_.depth; }
    ScratchBlock(const ScratchBlock&) = delete;
    ScratchBlock& operator=(const ScratchBlock&) = delete;

    BlockValues& values() { return *values_; }

  private:
    ScratchStack& stack_;
    BlockValues* values_;
};

// Publishes what compute cleaned in `from` and `to` still has dirty. Fixed-size copies and
// pointers held in locals: the flags are bytes, which the compiler must assume alias
// everything, including the vectors' own pointers.
void publishComputed(const NodeType& type, const BlockValues& from, BlockValues& to) {
    const unsigned char* cleaned = from.dirty.data();
    unsigned char* dirty = to.dirty.data();
    const std::byte* source = from.bytes.data();
    std::byte* target = to.bytes.data();
    const std::vector<NodeType::ComputedSlot>& slots = type.computedSlots;
    for (std::size_t index = 0; index < slots.size(); ++index) {
        const NodeType::ComputedSlot& computed = slots[index];
        if (dirty[computed.slot] == 0 || cleaned[computed.slot] != 0) {
            continue;
        }
        dirty[computed.slot] = 0;
        // A parent's value holds its children's, so children cleaned with it are published by
        // the same copy.
        if (computed.flagCount > 1) {
            for (int child = computed.slot + 1; child < computed.slot + computed.flagCount;
                 ++child) {
                if (cleaned[child] == 0) dirty[child] = 0;
            }
            index += static_cast<std::size_t>(computed.flagCount - 1);
        }
        switch (computed.storage) {
            case Storage::Float:
            case Storage::Bool:
                std::memcpy(target + computed.offset, source + computed.offset, sizeof(float));
                break;
            case Storage::Float3:
                std::memcpy(target + computed.offset, source + computed.offset,
                            sizeof(MFloatVector));
                break;
            case Storage::Matrix:
                std::memcpy(target + computed.offset, source + computed.offset,
                            sizeof(MFloatMatrix));
                break;
            case Storage::String:
                to.strings[computed.offset] = from.strings[computed.offset];
                to.stringsChanged();
                break;
        }
    }
}

// The turn-taking of the node's handlers (see Node); all take the node's lock held.
bool mayStart(const Node& node, bool setHandler) {
    if (setHandler) {
        return node.evaluations == 0 && !node.setHandlerRunning;
    }
    return !node.setHandlerRunning && node.setHandlersWaiting == 0 &&
           (node.evaluations == 0 || Access::isMPSafe(*node.user));
}

void waitForTurn(Node& node, std::unique_lock<NodeLock>& lock, bool setHandler) {
    if (mayStart(node, setHandler)) {
        return;
    }
    ++node.waiters;
    node.setHandlersWaiting += setHandler ? 1 : 0;
    node.turns.wait(lock, [&node, setHandler] { return mayStart(node, setHandler); });
    node.setHandlersWaiting -= setHandler ? 1 : 0;
    --node.waiters;
}

void beginEvaluation(Node& node, std::unique_lock<NodeLock>& lock) {
    // Checked here first so that the common case makes no call.
    if (!mayStart(node, false)) {
        waitForTurn(node, lock, false);
    }
    ++node.evaluations;
}

void endEvaluation(Node& node) {
    if (--node.evaluations == 0 && node.waiters > 0) {
        node.turns.notify_all();
    }
}

// Runs compute for the slot on `values`; when compute answers kUnknownParameter for a child of a
// colour or point and `askParent` is set, asks again for the parent.
MStatus runCompute(Node& node, BlockValues& values, int slot, bool askParent) {
    Attribute* attribute = node.type->slots[slot].attribute;
    MDataBlock block = Access::makeBlock(&values);
    MStatus status = node.user->compute(Access::makePlug(&node, attribute), block);
    if (askParent && status == MStatus::kUnknownParameter && attribute->parent != nullptr) {
        status = node.user->compute(Access::makePlug(&node, attribute->parent), block);
    }
    return status;
}

// Evaluates the slot on a snapshot of the node's values in `scratch`. Called with the node's
// lock held, which it releases while compute runs. What compute cleaned is published to the
// node unless a value was set meanwhile, as the result would then be stale.
MStatus evaluate(Node& node, std::unique_lock<NodeLock>& lock, BlockValues& scratch, int slot,
                 bool askParent) {
    beginEvaluation(node, lock);
    scratch.copyFrom(node.values);
    const std::uint64_t generation = node.generation;
    lock.unlock();

    const MStatus status = runCompute(node, scratch, slot, askParent);

    lock.lock();
    endEvaluation(node);
    if (generation == node.generation) {
        publishComputed(*node.type, scratch, node.values);
    }
    return status;
}

// The slot the reference names on the node's type, or -1.
int findSlot(const Node* node, const AttributeRef& attribute) {
    if (node == nullptr) {
        return -1;
    }
    if (attribute.name().empty()) {
        const AttributeHandle& handle = attribute.handle();
        return handle.type == node->type ? handle.slot : -1;
    }
    return node->type->findSlot(attribute.name());
}

Result unresolved(const Node* node, const AttributeRef& attribute) {
    if (node == nullptr) {
        return Result::failure("no node");
    }
    if (attribute.name().empty()) {
        return Result::failure("the attribute handle belongs to another node type");
    }
    return Result::failure("node type \"" + node->type->name + "\" has no attribute \"" +
                           std::string(attribute.name()) + "\"");
}

Result wrongType(const Node& node, int slot) {
    return Result::failure("attribute \"" + node.type->slots[slot].attribute->longName +
                           "\" holds another type of value");
}

// The slot, if it holds values of type T; otherwise -1 and lookupFailure tells why.
template <class T>
int findTypedSlot(const Node* node, const AttributeRef& attribute) {
    const int slot = findSlot(node, attribute);
    return slot >= 0 && node->type->slots[slot].storage == storageFor<T>() ? slot : -1;
}

Result lookupFailure(const Node* node, const AttributeRef& attribute) {
    const int slot = findSlot(node, attribute);
    return slot < 0 ? unresolved(node, attribute) : wrongType(*node, slot);
}

Result computeFailure(const Attribute& described, const MStatus& status) {
    return Result::failure("computing \"" + described.longName +
                           "\" failed: " + status.errorString().asChar());
}

// Offers the node's getInternalValueInContext the slot's value in `values`; true when the node
// gave it.
bool readInternal(Node& node, BlockValues& values, int slot) {
    MDataHandle handle = handleFor(values, slot);
    return node.user->getInternalValueInContext(
        Access::makePlug(&node, node.type->slots[slot].attribute), handle, MDGContext::fsNormal);
}

template <class T>
Result readValue(Node* node, const AttributeRef& attribute, T& value) {
    const int slot = findTypedSlot<T>(node, attribute);
    if (slot < 0) {
        return lookupFailure(node, attribute);
    }
    Attribute& described = *node->type->slots[slot].attribute;
    std::unique_lock<NodeLock> lock(node->mutex);
    if (node->values.dirty[slot] == 0 && !described.internal) {
        value = *static_cast<T*>(node->values.valueAddress(slot));
        return {};
    }
    ScratchBlock scratch;
    BlockValues& values = scratch.values();
    MStatus computed;
    if (node->values.dirty[slot] == 0) {
        values.copyFrom(node->values);
    } else {
        computed = evaluate(*node, lock, values, slot, true);
    }
    value = *static_cast<T*>(values.valueAddress(slot));
    if (described.internal) {
        beginEvaluation(*node, lock);
        lock.unlock();
        const bool handled = readInternal(*node, values, slot);
        lock.lock();
        endEvaluation(*node);
        if (handled) {
            value = *static_cast<T*>(values.valueAddress(slot));
        }
    }
    lock.unlock();
    return computed ? Result() : computeFailure(described, computed);
}

// The slot a value of type T may be set in, or -1; settingFailure then tells why.
template <class T>
int writableSlot(const Node* node, const AttributeRef& attribute) {
    const int slot = findTypedSlot<T>(node, attribute);
    return slot >= 0 && node->type->slots[slot].attribute->writable ? slot : -1;
}

template <class T>
Result settingFailure(const Node* node, const AttributeRef& attribute) {
    const int slot = findTypedSlot<T>(node, attribute);
    if (slot < 0) {
        return lookupFailure(node, attribute);
    }
    return Result::failure("attribute \"" + node->type->slots[slot].attribute->longName +
                           "\" is not writable");
}

// A value set in `values` is clean; what it affects is dirty.
void markSet(BlockValues& values, int slot) {
    const Slot& layout = values.type->slots[slot];
    unsigned char* dirty = values.dirty.data();
    Access::makeHandle(nullptr, layout.storage, dirty + slot, layout.flagCount).setClean();
    for (int dirtied : layout.dirtiedBySetting) {
        dirty[dirtied] = 1;
    }
}

// Hands the value to the node's setInternalValueInContext; true when the node kept it.
template <class T>
bool offerToNode(Node& node, const Slot& layout, const T& value) {
    {
        std::unique_lock<NodeLock> lock(node.mutex);
        waitForTurn(node, lock, true);
        node.setHandlerRunning = true;
    }
    T newValue = value;
    unsigned char unusedDirtyFlag = 0;
    const MDataHandle handle = Access::makeHandle(&newValue, layout.storage, &unusedDirtyFlag, 1);
    const bool kept = node.user->setInternalValueInContext(
        Access::makePlug(&node, layout.attribute), handle, MDGContext::fsNormal);
    std::lock_guard<NodeLock> lock(node.mutex);
    node.setHandlerRunning = false;
    if (node.waiters > 0) {
        node.turns.notify_all();
    }
    return kept;
}

template <class T>
Result writeValue(Node* node, const AttributeRef& attribute, const T& value) {
    const int slot = writableSlot<T>(node, attribute);
    if (slot < 0) {
        return settingFailure<T>(node, attribute);
    }
    const Slot& layout = node->type->slots[slot];
    const bool keptByNode = layout.attribute->internal && offerToNode(*node, layout, value);
    std::lock_guard<NodeLock> lock(node->mutex);
    if (!keptByNode) {
        *static_cast<T*>(node->values.valueAddress(slot)) = value;
        if constexpr (std::is_same_v<T, MString>) {
            node->values.stringsChanged();
        }
    }
    ++node->generation;
    markSet(node->values, slot);
    return {};
}

// Runs a handler for a shading context: at once for an MP-safe node, otherwise in turn with the
// node's other evaluations.
template <class Handler>
auto asContextEvaluation(Node& node, Handler&& handler) {
    if (Access::isMPSafe(*node.user)) {
        return handler();
    }
    std::unique_lock<NodeLock> lock(node.mutex);
    beginEvaluation(node, lock);
    lock.unlock();
    const auto result = handler();
    lock.lock();
    endEvaluation(node);
    return result;
}

template <class T>
Result readFromContext(Node* node, BlockValues* attached, const AttributeRef& attribute, T& value) {
    const int slot = findTypedSlot<T>(node, attribute);
    if (slot < 0) {
        return lookupFailure(node, attribute);
    }
    BlockValues& values = *attached;
    const Attribute& described = *node->type->slots[slot].attribute;
    MStatus computed;
    if (values.dirty[slot] != 0) {
        computed =
            asContextEvaluation(*node, [&] { return runCompute(*node, values, slot, true); });
    }
    value = *static_cast<T*>(values.valueAddress(slot));
    if (described.internal &&
        asContextEvaluation(*node, [&] { return readInternal(*node, values, slot); })) {
        value = *static_cast<T*>(values.valueAddress(slot));
    }
    return computed ? Result() : computeFailure(described, computed);
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
    std::lock_guard<NodeLock> lock(node->mutex);
    values_->copyFrom(node->values);
    node_ = node;
    return {};
}

Result ShadingContext::setFloat3(AttributeRef attribute, float x, float y, float z) {
    const int slot = writableSlot<MFloatVector>(node_, attribute);
    if (slot < 0) {
        return settingFailure<MFloatVector>(node_, attribute);
    }
    const Attribute& described = *node_->type->slots[slot].attribute;
    if (described.internal) {
        return Result::failure("internal attribute \"" + described.longName +
                               "\" is set on the node, not on a shading context");
    }
    *static_cast<MFloatVector*>(values_->valueAddress(slot)) = MFloatVector(x, y, z);
    markSet(*values_, slot);
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
    const int slot = findSlot(node, attribute);
    if (slot < 0) {
        return unresolved(node, attribute);
    }
    std::lock_guard<NodeLock> lock(node->mutex);
    dirty = node->values.dirty[slot] != 0;
    return {};
}

Result computePlug(Node* node, AttributeRef attribute, MStatus& computeStatus) {
    const int slot = findSlot(node, attribute);
    if (slot < 0) {
        return unresolved(node, attribute);
    }
    ScratchBlock scratch;
    std::unique_lock<NodeLock> lock(node->mutex);
    computeStatus = evaluate(*node, lock, scratch.values(), slot, false);
    return {};
}

}  // namespace mayahost
