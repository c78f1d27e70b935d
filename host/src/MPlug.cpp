// MPlug: one attribute of one node.
#include <maya/MPlug.h>

#include "HostInternal.h"

using mayahost::detail::Access;
using mayahost::detail::Attribute;
using mayahost::detail::reportStatus;

MPlug MPlug::parent(MStatus* ReturnStatus) const {
    Attribute* attribute = Access::attribute(*this);
    if (attribute == nullptr || attribute->parent == nullptr) {
        reportStatus(ReturnStatus, MStatus::kInvalidParameter);
        return MPlug();
    }
    reportStatus(ReturnStatus, MStatus::kSuccess);
    return Access::makePlug(node_, attribute->parent);
}

MObject MPlug::attribute(MStatus* ReturnStatus) const {
    reportStatus(ReturnStatus, isNull() ? MStatus::kInvalidParameter : MStatus::kSuccess);
    return Access::makeObject(attribute_);
}
