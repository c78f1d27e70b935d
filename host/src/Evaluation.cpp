// What reading and setting values on a node and on a shading context share: resolving an
// attribute to its slot, and running the node's compute and internal-value handlers.
#include <maya/MDGContext.h>

#include "Evaluation.h"

namespace mayahost {
namespace detail {

Result resolveSlot(const Node* node, const AttributeRef& attribute, int& slot) {
    slot = -1;
    if (node == nullptr) {
        return Result::failure("no node");
    }
    if (!attribute.name().empty()) {
        slot = node->type->findSlot(attribute.name());
        if (slot < 0) {
            return Result::failure("node type \"" + node->type->name + "\" has no attribute \"" +
                                   std::string(attribute.name()) + "\"");
        }
    } else if (attribute.handle().type == node->type) {
        slot = attribute.handle().slot;
    } else {
        return Result::failure("the attribute handle belongs to another node type");
    }
    return {};
}

Result resolveSlot(const Node* node, const AttributeRef& attribute, Storage storage, int& slot) {
    Result resolved = resolveSlot(node, attribute, slot);
    if (resolved && node->type->slot(slot).storage != storage) {
        resolved = Result::failure("attribute \"" + node->type->slot(slot).attribute->longName +
                                   "\" holds another type of value");
        slot = -1;
    }
    return resolved;
}

Result resolveWritableSlot(const Node* node, const AttributeRef& attribute, Storage storage,
                           int& slot) {
    Result resolved = resolveSlot(node, attribute, storage, slot);
    if (resolved && !node->type->slot(slot).attribute->writable) {
        resolved = Result::failure("attribute \"" + node->type->slot(slot).attribute->longName +
                                   "\" is not writable");
        slot = -1;
    }
    return resolved;
}

MStatus compute(Node& node, BlockValues& values, int slot, bool askParent) {
    Attribute* attribute = node.type->slot(slot).attribute;
    MDataBlock block = Access::makeBlock(&values);
    MStatus status = node.user->compute(Access::makePlug(&node, attribute), block);
    if (askParent && status == MStatus::kUnknownParameter && attribute->parent != nullptr) {
        status = node.user->compute(Access::makePlug(&node, attribute->parent), block);
    }
    return status;
}

MStatus evaluateSlot(Node& node, BlockValues& values, int slot) {
    MStatus status;
    if (values.isDirty(slot)) {
        status = compute(node, values, slot, true);
    }
    const Slot& layout = node.type->slot(slot);
    if (layout.attribute->internal) {
        MDataHandle handle = values.handle(slot);
        node.user->getInternalValueInContext(Access::makePlug(&node, layout.attribute), handle,
                                             MDGContext::fsNormal);
    }
    return status;
}

Result computeFailure(const Node& node, int slot, const MStatus& status) {
    return Result::failure("computing \"" + node.type->slot(slot).attribute->longName +
                           "\" failed: " + status.errorString().asChar());
}

}  // namespace detail
}  // namespace mayahost
