// Creates 4x4 matrix attributes.
#pragma once

#include <maya/MFnAttribute.h>
#include <maya/MString.h>

class MFnMatrixAttribute : public MFnAttribute {
  public:
    enum Type { kFloat, kDouble };

    MFnMatrixAttribute();
    MFnMatrixAttribute(MObject& object, MStatus* ReturnStatus = NULL);

    // Supports kFloat; the default value is the identity.
    MObject create(const MString& fullName, const MString& briefName, Type matrixType = kDouble,
                   MStatus* ReturnStatus = NULL);
};
