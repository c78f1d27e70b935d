// One attribute of one node.
#pragma once

#include <maya/MObject.h>
#include <maya/MStatus.h>

class MPlug {
  public:
    MPlug() : node_(NULL), attribute_(NULL) {}

    // The compound plug this plug is a child of; a null plug and kInvalidParameter otherwise.
    MPlug parent(MStatus* ReturnStatus = NULL) const;
    MObject attribute(MStatus* ReturnStatus = NULL) const;
    bool isNull() const { return attribute_ == NULL; }

    // Inline: compute compares its plug with attributes on every evaluation. A null plug equals
    // no attribute, not even the null object.
    bool operator==(const MObject& other) const {
        return attribute_ != NULL && attribute_ == other.object_;
    }
    bool operator!=(const MObject& other) const { return !(*this == other); }

  private:
    friend class mayahost::detail::Access;
    mayahost::detail::Node* node_;
    mayahost::detail::HostObject* attribute_;
};
