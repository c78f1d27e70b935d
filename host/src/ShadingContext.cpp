// Shading contexts: a renderer thread's evaluation of a node on its own copy of the values.
#include <maya/MFloatVector.h>

#include <new>

#include "Evaluation.h"

namespace mayahost {

using detail::Access;
using detail::Attribute;
using detail::BlockValues;
using detail::Storage;
using detail::storageFor;

namespace {

// An MP-safe node evaluates on every context at once, with no lock; other nodes take turns with
// all evaluations of the node.
template <class T>
Result readFromContext(Node* node, BlockValues* values, const AttributeRef& attribute, T& value) {
    int slot = -1;
    Result resolved = detail::resolveSlot(node, attribute, storageFor<T>(), slot);
    if (!resolved) {
        return resolved;
    }
    std::unique_lock<std::mutex> handlers(node->handlerMutex, std::defer_lock);
    if (!Access::isMPSafe(*node->user)) {
        handlers.lock();
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
    const Attribute& described = *node_->type->slot(slot).attribute;
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

}  // namespace mayahost
