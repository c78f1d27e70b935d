// Function set for the flags every attribute has.
#pragma once

#include <maya/MObject.h>
#include <maya/MStatus.h>

class MFnAttribute {
  public:
    MFnAttribute();
    MFnAttribute(MObject& object, MStatus* ReturnStatus = NULL);
    virtual ~MFnAttribute();

    // Flags set on a colour or point apply to its children too.
    MStatus setKeyable(bool state);
    MStatus setStorable(bool state);
    MStatus setReadable(bool state);
    MStatus setWritable(bool state);
    MStatus setHidden(bool state);
    MStatus setInternal(bool state);

  protected:
    friend class mayahost::detail::Access;
    mayahost::detail::HostObject* attribute_;
};
