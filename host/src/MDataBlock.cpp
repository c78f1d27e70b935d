// MDataBlock and MDataHandle: a node's values as its compute and handlers see them.
#include <maya/MDataBlock.h>
#include <maya/MDataHandle.h>
#include <maya/MFloatMatrix.h>
#include <maya/MFloatVector.h>

#include "HostInternal.h"

using mayahost::detail::Access;
using mayahost::detail::Attribute;
using mayahost::detail::BlockValues;

namespace {

template <class T>
T& zeroedScratch() {
    thread_local T scratch;
    scratch = T();
    return scratch;
}

MDataHandle blockHandle(BlockValues* values, const Attribute* attribute, MStatus* ReturnStatus) {
    if (attribute == nullptr || attribute->owner != values->type) {
        mayahost::detail::reportStatus(ReturnStatus, MStatus::kInvalidParameter);
        return MDataHandle();
    }
    mayahost::detail::reportStatus(ReturnStatus, MStatus::kSuccess);
    return values->handle(attribute->slot);
}

}  // namespace

void* MDataHandle::scratchValue(Storage storage) {
    switch (storage) {
        case kBoolStorage:
            return &zeroedScratch<bool>();
        case kFloat3Storage:
            return &zeroedScratch<MFloatVector>();
        case kMatrixStorage:
            return &zeroedScratch<MFloatMatrix>();
        case kStringStorage:
            return &zeroedScratch<MString>();
        case kFloatStorage:
        case kNoStorage:
            break;
    }
    return &zeroedScratch<float>();
}

MDataBlock::MDataBlock(BlockValues* values) : values_(values) {}

MDataHandle MDataBlock::inputValue(const MPlug& plug, MStatus* ReturnStatus) {
    return blockHandle(values_, Access::attribute(plug), ReturnStatus);
}
MDataHandle MDataBlock::inputValue(const MObject& attribute, MStatus* ReturnStatus) {
    return blockHandle(values_, Access::attribute(attribute), ReturnStatus);
}
MDataHandle MDataBlock::outputValue(const MPlug& plug, MStatus* ReturnStatus) {
    return blockHandle(values_, Access::attribute(plug), ReturnStatus);
}
MDataHandle MDataBlock::outputValue(const MObject& attribute, MStatus* ReturnStatus) {
    return blockHandle(values_, Access::attribute(attribute), ReturnStatus);
}

MStatus MDataBlock::setClean(const MPlug& plug) { return setClean(plug.attribute()); }
MStatus MDataBlock::setClean(const MObject& attribute) {
    MStatus status;
    blockHandle(values_, Access::attribute(attribute), &status).setClean();
    return status;
}
