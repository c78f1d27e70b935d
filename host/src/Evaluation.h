// What reading values on a node and on a shading context share: resolving an attribute to its
// slot, and evaluating a slot on a set of values.
#pragma once

#include <type_traits>

#include "HostInternal.h"

namespace mayahost {
namespace detail {

template <class T>
constexpr Storage storageFor() {
    if constexpr (std::is_same_v<T, float>) {
        return Storage::Float;
    } else if constexpr (std::is_same_v<T, bool>) {
        return Storage::Bool;
    } else if constexpr (std::is_same_v<T, MFloatVector>) {
        return Storage::Float3;
    } else if constexpr (std::is_same_v<T, MFloatMatrix>) {
        return Storage::Matrix;
    } else {
        static_assert(std::is_same_v<T, MString>, "no storage for this type");
        return Storage::String;
    }
}

// Resolves the reference on the node's type: any slot, a slot holding `storage` values, or one
// that also takes values set from outside. On failure `slot` is -1 and the result says why.
Result resolveSlot(const Node* node, const AttributeRef& attribute, int& slot);
Result resolveSlot(const Node* node, const AttributeRef& attribute, Storage storage, int& slot);
Result resolveWritableSlot(const Node* node, const AttributeRef& attribute, Storage storage,
                           int& slot);

// Runs compute for the slot on `values`; with `askParent`, a colour or point child that compute
// does not know is asked for again through its parent.
MStatus compute(Node& node, BlockValues& values, int slot, bool askParent);
// Brings the slot's value in `values` up to date: computes it when dirty and offers an internal
// attribute's value to getInternalValueInContext. Returns compute's status.
MStatus evaluateSlot(Node& node, BlockValues& values, int slot);
Result computeFailure(const Node& node, int slot, const MStatus& status);

}  // namespace detail
}  // namespace mayahost
