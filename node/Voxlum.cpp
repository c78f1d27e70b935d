#include "Voxlum.h"

#include <maya/MFloatMatrix.h>
#include <maya/MFloatPoint.h>
#include <maya/MFloatVector.h>
#include <maya/MFnAttribute.h>
#include <maya/MFnData.h>
#include <maya/MFnMatrixAttribute.h>
#include <maya/MFnNumericAttribute.h>
#include <maya/MFnNumericData.h>
#include <maya/MFnTypedAttribute.h>
#include <maya/MGlobal.h>
#include <maya/MString.h>
#include <maya/MTypes.h>

#include <cmath>
#include <cstdint>
#include <new>

#include "StatusReport.h"
#include "VolumeFormat.h"

// Newer devkits mark setMPSafe and the InContext pair deprecated; they are still the calls a
// node of this kind needs on every release we support.
#if defined(__GNUC__)
#define VOXLUM_ALLOW_DEPRECATED_BEGIN \
    _Pragma("GCC diagnostic push") _Pragma("GCC diagnostic ignored \"-Wdeprecated-declarations\"")
#define VOXLUM_ALLOW_DEPRECATED_END _Pragma("GCC diagnostic pop")
#elif defined(_MSC_VER)
#define VOXLUM_ALLOW_DEPRECATED_BEGIN __pragma(warning(push)) __pragma(warning(disable : 4996))
#define VOXLUM_ALLOW_DEPRECATED_END __pragma(warning(pop))
#else
#define VOXLUM_ALLOW_DEPRECATED_BEGIN
#define VOXLUM_ALLOW_DEPRECATED_END
#endif

MTypeId Voxlum::id(0x10A510);
MObject Voxlum::placementMatrix;
MObject Voxlum::pointWorld;
MObject Voxlum::fileTextureName;
MObject Voxlum::fileHasAlpha;
MObject Voxlum::outColor;
MObject Voxlum::outAlpha;

namespace {

void makeInput(MFnAttribute& attribute) {
    VOXLUM_CHECK_STATUS(attribute.setKeyable(true));
    VOXLUM_CHECK_STATUS(attribute.setStorable(true));
    VOXLUM_CHECK_STATUS(attribute.setReadable(true));
    VOXLUM_CHECK_STATUS(attribute.setWritable(true));
}

void makeOutput(MFnAttribute& attribute) {
    VOXLUM_CHECK_STATUS(attribute.setKeyable(false));
    VOXLUM_CHECK_STATUS(attribute.setStorable(false));
    VOXLUM_CHECK_STATUS(attribute.setReadable(true));
    VOXLUM_CHECK_STATUS(attribute.setWritable(false));
}

void affectsBothOutputs(const MObject& input) {
    VOXLUM_CHECK_STATUS(MPxNode::attributeAffects(input, Voxlum::outColor));
    VOXLUM_CHECK_STATUS(MPxNode::attributeAffects(input, Voxlum::outAlpha));
}

// Texture space repeats with period 1: fold a coordinate into [0, 1]. A tiny negative
// remainder plus 1 may round to exactly 1, which the sampler treats like 0.
float wrapToUnitCube(float coordinate) {
    // fmod(c, 1) of a float c, in double or not, is exactly c - trunc(c) with the sign of c:
    // the fraction of a float is itself a float. Floats from 2^23 up are whole, and below that
    // an integer conversion truncates exactly, without the library's general remainder loop.
    // NaN and infinity come out as zero, which the sampler gives them anyway.
    float fraction = 0.0f;
    if (std::fabs(coordinate) < 0x1p23f) {
        fraction = coordinate - static_cast<float>(static_cast<std::int32_t>(coordinate));
    }
    float remainder = std::copysign(fraction, coordinate);
    if (remainder < 0.0f) remainder = static_cast<float>(remainder + 1.0);
    return remainder;
}

MString loadErrorMessage(VolumeLoadResult result, std::int32_t bytesRead) {
    switch (result) {
        case volformat::kOpenFailed:
            return "Opening file failed.";
        case volformat::kBodyIncomplete:
            return MString("Reading file failed. Bytes read: ") + static_cast<double>(bytesRead);
        case volformat::kAllocationFailed:
            return "Allocating memory failed.";
        case volformat::kHeaderIncomplete:
            return MString("Reading file header failed. Bytes read: ") +
                   static_cast<double>(bytesRead);
        default:
            return "Unknown error.";
    }
}

}  // namespace

Voxlum::Voxlum() = default;

Voxlum::~Voxlum() = default;

void Voxlum::postConstructor() {
    VOXLUM_ALLOW_DEPRECATED_BEGIN
    setMPSafe(true);
    VOXLUM_ALLOW_DEPRECATED_END
}

void* Voxlum::creator() { return new (std::nothrow) Voxlum(); }

MStatus Voxlum::initialize() {
    MFnMatrixAttribute matrixAttribute;
    MFnNumericAttribute numericAttribute;
    MFnTypedAttribute typedAttribute;
    MStatus status;

    placementMatrix =
        matrixAttribute.create("placementMatrix", "pm", MFnMatrixAttribute::kFloat, &status);
    VOXLUM_CHECK_STATUS(status);
    makeInput(matrixAttribute);

    pointWorld = numericAttribute.createPoint("pointWorld", "pw", &status);
    VOXLUM_CHECK_STATUS(status);
    makeInput(numericAttribute);
    VOXLUM_CHECK_STATUS(numericAttribute.setHidden(true));

    fileTextureName = typedAttribute.create("fileTextureName", "ftn", MFnData::kString,
                                            MObject::kNullObj, &status);
    VOXLUM_CHECK_STATUS(status);
    makeInput(typedAttribute);
    VOXLUM_CHECK_STATUS(typedAttribute.setInternal(true));

    fileHasAlpha =
        numericAttribute.create("fileHasAlpha", "fha", MFnNumericData::kBoolean, 0, &status);
    VOXLUM_CHECK_STATUS(status);
    makeInput(numericAttribute);

    outColor = numericAttribute.createColor("outColor", "oc", &status);
    VOXLUM_CHECK_STATUS(status);
    makeOutput(numericAttribute);

    outAlpha = numericAttribute.create("outAlpha", "oa", MFnNumericData::kFloat, 0.0, &status);
    VOXLUM_CHECK_STATUS(status);
    makeOutput(numericAttribute);

    VOXLUM_CHECK_STATUS(addAttribute(pointWorld));
    VOXLUM_CHECK_STATUS(addAttribute(placementMatrix));
    VOXLUM_CHECK_STATUS(addAttribute(fileTextureName));
    VOXLUM_CHECK_STATUS(addAttribute(fileHasAlpha));
    VOXLUM_CHECK_STATUS(addAttribute(outAlpha));
    VOXLUM_CHECK_STATUS(addAttribute(outColor));

    affectsBothOutputs(pointWorld);
    affectsBothOutputs(placementMatrix);
    affectsBothOutputs(fileTextureName);
    affectsBothOutputs(fileHasAlpha);
    return MS::kSuccess;
}

bool Voxlum::setInternalValueInContext(const MPlug& plug, const MDataHandle& dataHandle,
                                       MDGContext& ctx) {
    const MString name = dataHandle.asString();
    const unsigned int length = name.length();
    const int last = static_cast<int>(length) - 1;
    if (length < 4 || name.substring(last - 3, last) != ".vol") {
        MGlobal::displayError("The texture file must be a volume texture (.vol).");
        return false;
    }
    MGlobal::displayInfo(MString("Loading texture volume file \"") + name + "\"...");

    std::int32_t bytesRead = 0;
    const VolumeLoadResult result = volume_.loadVolumeFile(name.asChar(), bytesRead);
    if (result < 0) {
        MGlobal::displayError(loadErrorMessage(result, bytesRead));
        return false;
    }
    MGlobal::displayInfo(MString("Texture volume file loaded. Number of channels: ") +
                         static_cast<double>(result));
    VOXLUM_ALLOW_DEPRECATED_BEGIN
    return MPxNode::setInternalValueInContext(plug, dataHandle, ctx);
    VOXLUM_ALLOW_DEPRECATED_END
}

MStatus Voxlum::compute(const MPlug& plug, MDataBlock& dataBlock) {
    if (!(plug == outColor || plug.parent() == outColor || plug == outAlpha)) {
        return MS::kUnknownParameter;
    }

    MDataHandle pointHandle = dataBlock.inputValue(pointWorld);
    MDataHandle matrixHandle = dataBlock.inputValue(placementMatrix);
    const float3& point = pointHandle.asFloat3();
    MFloatPoint placed(point[0], point[1], point[2], 1.0f);
    placed *= matrixHandle.asFloatMatrix();

    const VoxelSample sample = volume_.sampleTrilinear(
        wrapToUnitCube(placed.x), wrapToUnitCube(placed.y), wrapToUnitCube(placed.z));

    MDataHandle colorHandle = dataBlock.outputValue(outColor);
    colorHandle.asFloatVector() = MFloatVector(sample.r, sample.g, sample.b);
    colorHandle.setClean();
    MDataHandle alphaHandle = dataBlock.outputValue(outAlpha);
    alphaHandle.asFloat() = sample.a;
    alphaHandle.setClean();
    return MS::kSuccess;
}
