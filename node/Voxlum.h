// The Voxlum node: a 3D texture whose colour comes from a voxel volume loaded from a ".vol"
// file, repeated seamlessly through space.
#pragma once

#include <maya/MDGContext.h>
#include <maya/MDataBlock.h>
#include <maya/MDataHandle.h>
#include <maya/MObject.h>
#include <maya/MPlug.h>
#include <maya/MPxNode.h>
#include <maya/MStatus.h>
#include <maya/MTypeId.h>

#include "VoxelVolume.h"

class Voxlum : public MPxNode {
  public:
    Voxlum();
    ~Voxlum() override;

    void postConstructor() override;
    MStatus compute(const MPlug& plug, MDataBlock& dataBlock) override;
    bool setInternalValueInContext(const MPlug& plug, const MDataHandle& dataHandle,
                                   MDGContext& ctx) override;

    static void* creator();
    static MStatus initialize();

    static MTypeId id;
    static MObject placementMatrix;
    static MObject pointWorld;
    static MObject fileTextureName;
    static MObject fileHasAlpha;
    static MObject outColor;
    static MObject outAlpha;

  private:
    VoxelVolume volume_;
};
