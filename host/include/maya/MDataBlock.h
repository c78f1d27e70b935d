// The values of one node's attributes during an evaluation; only the host makes data blocks.
// @warning A block is valid only during the compute call that received it, and belongs to the
// evaluation that call runs: an MP-safe node's evaluations on other threads have blocks of their
// own.
#pragma once

#include <maya/MDataHandle.h>
#include <maya/MObject.h>
#include <maya/MPlug.h>
#include <maya/MStatus.h>

class MDataBlock {
  public:
    MDataHandle inputValue(const MPlug& plug, MStatus* ReturnStatus = NULL);
    MDataHandle inputValue(const MObject& attribute, MStatus* ReturnStatus = NULL);
    MDataHandle outputValue(const MPlug& plug, MStatus* ReturnStatus = NULL);
    MDataHandle outputValue(const MObject& attribute, MStatus* ReturnStatus = NULL);

    MStatus setClean(const MPlug& plug);
    MStatus setClean(const MObject& attribute);

  private:
    friend class mayahost::detail::Access;
    explicit MDataBlock(mayahost::detail::BlockValues* values);
    mayahost::detail::BlockValues* values_;
};
