// Generic handle to a host-owned object (an attribute or a plug-in).
#pragma once

#include <maya/MTypes.h>

class MObject {
  public:
    // Inline: objects are copied and compared on every evaluation.
    MObject() : object_(NULL) {}

    bool operator==(const MObject& other) const { return object_ == other.object_; }
    bool operator!=(const MObject& other) const { return object_ != other.object_; }
    bool isNull() const { return object_ == NULL; }

    static MObject kNullObj;

  private:
    friend class MPlug;
    friend class mayahost::detail::Access;
    mayahost::detail::HostObject* object_;
};
