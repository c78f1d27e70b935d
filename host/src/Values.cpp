// Small value classes: identifiers, objects, plugs and float math.
#include <maya/MDGContext.h>
#include <maya/MFloatMatrix.h>
#include <maya/MFloatPoint.h>
#include <maya/MFloatVector.h>
#include <maya/MTypeId.h>

#include "HostInternal.h"

using mayahost::detail::Access;

MObject MObject::kNullObj;

MTypeId::MTypeId() : id_(0) {}
MTypeId::MTypeId(unsigned int id) : id_(id) {}
MTypeId::MTypeId(unsigned int prefix, unsigned int id) : id_((prefix << 8) | (id & 0xFFu)) {}
MTypeId::MTypeId(const MTypeId& other) = default;
MTypeId& MTypeId::operator=(const MTypeId& other) = default;
MTypeId::~MTypeId() = default;
bool MTypeId::operator==(const MTypeId& other) const { return id_ == other.id_; }
bool MTypeId::operator!=(const MTypeId& other) const { return id_ != other.id_; }
unsigned int MTypeId::id() const { return id_; }

MPlug MPlug::parent(MStatus* ReturnStatus) const {
    mayahost::detail::Attribute* attribute = Access::attribute(*this);
    if (attribute == nullptr || attribute->parent == nullptr) {
        mayahost::detail::reportStatus(ReturnStatus, MStatus::kInvalidParameter);
        return MPlug();
    }
    mayahost::detail::reportStatus(ReturnStatus, MStatus::kSuccess);
    return Access::makePlug(node_, attribute->parent);
}

MObject MPlug::attribute(MStatus* ReturnStatus) const {
    mayahost::detail::reportStatus(ReturnStatus,
                                   isNull() ? MStatus::kInvalidParameter : MStatus::kSuccess);
    return Access::makeObject(attribute_);
}

MDGContext MDGContext::fsNormal;
MDGContext::MDGContext() = default;

MFloatMatrix::MFloatMatrix() : matrix{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}} {}
MFloatMatrix::MFloatMatrix(const float m[4][4]) {
    for (int row = 0; row < 4; ++row) {
        for (int col = 0; col < 4; ++col) {
            matrix[row][col] = m[row][col];
        }
    }
}
float& MFloatMatrix::operator()(unsigned int row, unsigned int col) { return matrix[row][col]; }
float MFloatMatrix::operator()(unsigned int row, unsigned int col) const {
    return matrix[row][col];
}

MFloatPoint& MFloatPoint::operator*=(const MFloatMatrix& right) {
    const float in[4] = {x, y, z, w};
    float out[4];
    for (int col = 0; col < 4; ++col) {
        out[col] = in[0] * right.matrix[0][col] + in[1] * right.matrix[1][col] +
                   in[2] * right.matrix[2][col] + in[3] * right.matrix[3][col];
    }
    x = out[0];
    y = out[1];
    z = out[2];
    w = out[3];
    return *this;
}
