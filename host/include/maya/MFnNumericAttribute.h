// Creates float, boolean, colour and point attributes.
#pragma once

#include <maya/MFnAttribute.h>
#include <maya/MFnNumericData.h>
#include <maya/MString.h>

class MFnNumericAttribute : public MFnAttribute {
  public:
    MFnNumericAttribute();
    MFnNumericAttribute(MObject& object, MStatus* ReturnStatus = NULL);

    // Supports kFloat and kBoolean.
    MObject create(const MString& fullName, const MString& briefName, MFnNumericData::Type unitType,
                   double defaultValue = 0, MStatus* ReturnStatus = NULL);
    MObject createColor(const MString& fullName, const MString& briefName,
                        MStatus* ReturnStatus = NULL);
    MObject createPoint(const MString& fullName, const MString& briefName,
                        MStatus* ReturnStatus = NULL);
};
