// MPxNode: the base of plug-in nodes, and the attributes their initialize function adds.
#include <maya/MPxNode.h>

#include "HostInternal.h"

using mayahost::detail::Access;
using mayahost::detail::Attribute;
using mayahost::detail::NodeType;
using mayahost::detail::Operation;
using mayahost::detail::Slot;
using mayahost::detail::takeInjectedFailure;

namespace {

bool namesClash(const Attribute& one, const Attribute& other) {
    return one.longName == other.longName || one.longName == other.shortName ||
           one.shortName == other.longName || one.shortName == other.shortName;
}

}  // namespace

MPxNode::MPxNode() : mpSafe_(false) {}
MPxNode::~MPxNode() = default;
void MPxNode::postConstructor() {}
MStatus MPxNode::compute(const MPlug&, MDataBlock&) { return MStatus::kUnknownParameter; }
bool MPxNode::getInternalValueInContext(const MPlug&, MDataHandle&, MDGContext&) { return false; }
bool MPxNode::setInternalValueInContext(const MPlug&, const MDataHandle&, MDGContext&) {
    return false;
}
void MPxNode::setMPSafe(bool flag) { mpSafe_ = flag; }

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
            if (namesClash(*existing.attribute, *candidate)) {
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
