// Creates attributes holding typed data.
#pragma once

#include <maya/MFnAttribute.h>
#include <maya/MFnData.h>
#include <maya/MString.h>

class MFnTypedAttribute : public MFnAttribute {
  public:
    MFnTypedAttribute();
    MFnTypedAttribute(MObject& object, MStatus* ReturnStatus = NULL);

    // Supports kString with no default data (an empty string).
    MObject create(const MString& fullName, const MString& briefName, MFnData::Type type,
                   MObject defaultData = MObject::kNullObj, MStatus* ReturnStatus = NULL);
};
