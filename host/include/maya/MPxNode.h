// Base class of the node types that plug-ins add.
// @warning The host runs a node's handlers one at a time, except that an MP-safe node's compute
// and getInternalValueInContext may run on several render threads at once, even while its
// setInternalValueInContext runs. addAttribute and attributeAffects apply to the type whose
// initialize function runs on the calling thread.
#pragma once

#include <maya/MDGContext.h>
#include <maya/MDataBlock.h>
#include <maya/MDataHandle.h>
#include <maya/MObject.h>
#include <maya/MPlug.h>
#include <maya/MStatus.h>

class MPxNode {
  public:
    enum Type {
        kDependNode,
        kLocatorNode,
        kDeformerNode,
        kManipContainer,
        kSurfaceShape,
        kFieldNode,
        kEmitterNode,
        kSpringNode,
        kIkSolverNode,
        kHardwareShader,
        kHwShaderNode,
        kTransformNode,
        kObjectSet,
        kFluidEmitterNode,
        kImagePlaneNode,
        kParticleAttributeMapperNode,
        kCameraSetNode,
        kConstraintNode,
        kManipulatorNode,
        kMotionPathNode,
        kClientDeviceNode,
        kThreadedDeviceNode,
        kAssembly,
        kSkinCluster,
        kGeometryFilter,
        kBlendShape,
        kLast
    };

    MPxNode();
    virtual ~MPxNode();
    virtual void postConstructor();
    // The base knows no outputs: kUnknownParameter.
    virtual MStatus compute(const MPlug& plug, MDataBlock& dataBlock);
    // Both return whether the node handled the value itself; the base returns false, so the
    // host reads or stores the value in the data block.
    virtual bool getInternalValueInContext(const MPlug& plug, MDataHandle& dataHandle,
                                           MDGContext& ctx);
    virtual bool setInternalValueInContext(const MPlug& plug, const MDataHandle& dataHandle,
                                           MDGContext& ctx);

    // Only valid while the host runs the initialize function of a type being registered.
    static MStatus addAttribute(const MObject& attr);
    static MStatus attributeAffects(const MObject& whenChanges, const MObject& isAffected);

  protected:
    // A node that is not MP-safe is never evaluated on two threads at once.
    virtual void setMPSafe(bool flag);

  private:
    friend class mayahost::detail::Access;
    bool mpSafe_;
};
