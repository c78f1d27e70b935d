// The attribute function sets: creation of attribute descriptors and their flags.
#include <maya/MFnAttribute.h>
#include <maya/MFnMatrixAttribute.h>
#include <maya/MFnNumericAttribute.h>
#include <maya/MFnTypedAttribute.h>

#include "HostInternal.h"

using mayahost::AttributeKind;
using mayahost::detail::Access;
using mayahost::detail::Attribute;
using mayahost::detail::Operation;
using mayahost::detail::reportStatus;
using mayahost::detail::takeInjectedFailure;

namespace {

struct ChildSuffixes {
    const char* longSuffixes[3];
    const char* shortSuffixes[3];
};
constexpr ChildSuffixes kColorChildren = {{"R", "G", "B"}, {"r", "g", "b"}};
constexpr ChildSuffixes kPointChildren = {{"X", "Y", "Z"}, {"x", "y", "z"}};

Attribute* newAttribute(std::vector<std::unique_ptr<Attribute>>& arena, std::string longName,
                        std::string shortName, AttributeKind kind, double defaultValue) {
    arena.push_back(std::make_unique<Attribute>());
    Attribute* attribute = arena.back().get();
    attribute->longName = std::move(longName);
    attribute->shortName = std::move(shortName);
    attribute->kind = kind;
    attribute->defaultValue = defaultValue;
    return attribute;
}

// Creates the attribute, and the three float children of a colour or point, and attaches the
// function set to it. `support` says whether the host handles the requested type.
MObject createAttribute(MFnAttribute& functionSet, Operation operation, const MString& fullName,
                        const MString& briefName, AttributeKind kind, double defaultValue,
                        MStatus support, MStatus* ReturnStatus) {
    Access::attach(functionSet, nullptr);
    MStatus status = support;
    if (takeInjectedFailure(operation, status)) {
        reportStatus(ReturnStatus, status);
        return MObject();
    }
    if (status && (fullName.length() == 0 || briefName.length() == 0)) {
        status = MStatus::kInvalidParameter;
    }
    if (!status) {
        reportStatus(ReturnStatus, status);
        return MObject();
    }
    mayahost::detail::Registry& registry = mayahost::detail::registry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    Attribute* attribute = newAttribute(registry.attributes, fullName.asChar(), briefName.asChar(),
                                        kind, defaultValue);
    if (kind == AttributeKind::Color || kind == AttributeKind::Point) {
        const ChildSuffixes& suffixes =
            kind == AttributeKind::Color ? kColorChildren : kPointChildren;
        for (int index = 0; index < 3; ++index) {
            Attribute* child = newAttribute(
                registry.attributes, attribute->longName + suffixes.longSuffixes[index],
                attribute->shortName + suffixes.shortSuffixes[index], AttributeKind::Float, 0);
            child->parent = attribute;
            attribute->children.push_back(child);
        }
    }
    Access::attach(functionSet, attribute);
    reportStatus(ReturnStatus, MStatus::kSuccess);
    return Access::makeObject(attribute);
}

MStatus setFlag(const MFnAttribute& functionSet, Operation operation, bool Attribute::*flag,
                bool state) {
    MStatus status;
    if (takeInjectedFailure(operation, status)) {
        return status;
    }
    Attribute* attribute = Access::attribute(functionSet);
    if (attribute == nullptr) {
        return MStatus::kInvalidParameter;
    }
    attribute->*flag = state;
    for (Attribute* child : attribute->children) {
        child->*flag = state;
    }
    return MStatus::kSuccess;
}

}  // namespace

MFnAttribute::MFnAttribute() : attribute_(nullptr) {}

MFnAttribute::MFnAttribute(MObject& object, MStatus* ReturnStatus)
    : attribute_(Access::attribute(object)) {
    reportStatus(ReturnStatus,
                 attribute_ != nullptr ? MStatus::kSuccess : MStatus::kInvalidParameter);
}

MFnAttribute::~MFnAttribute() = default;

MStatus MFnAttribute::setKeyable(bool state) {
    return setFlag(*this, Operation::SetKeyable, &Attribute::keyable, state);
}
MStatus MFnAttribute::setStorable(bool state) {
    return setFlag(*this, Operation::SetStorable, &Attribute::storable, state);
}
MStatus MFnAttribute::setReadable(bool state) {
    return setFlag(*this, Operation::SetReadable, &Attribute::readable, state);
}
MStatus MFnAttribute::setWritable(bool state) {
    return setFlag(*this, Operation::SetWritable, &Attribute::writable, state);
}
MStatus MFnAttribute::setHidden(bool state) {
    return setFlag(*this, Operation::SetHidden, &Attribute::hidden, state);
}
MStatus MFnAttribute::setInternal(bool state) {
    return setFlag(*this, Operation::SetInternal, &Attribute::internal, state);
}

MFnNumericAttribute::MFnNumericAttribute() = default;
MFnNumericAttribute::MFnNumericAttribute(MObject& object, MStatus* ReturnStatus)
    : MFnAttribute(object, ReturnStatus) {}

MObject MFnNumericAttribute::create(const MString& fullName, const MString& briefName,
                                    MFnNumericData::Type unitType, double defaultValue,
                                    MStatus* ReturnStatus) {
    const bool supported =
        unitType == MFnNumericData::kFloat || unitType == MFnNumericData::kBoolean;
    const AttributeKind kind =
        unitType == MFnNumericData::kBoolean ? AttributeKind::Bool : AttributeKind::Float;
    return createAttribute(*this, Operation::NumericCreate, fullName, briefName, kind, defaultValue,
                           supported ? MS::kSuccess : MS::kNotImplemented, ReturnStatus);
}

MObject MFnNumericAttribute::createColor(const MString& fullName, const MString& briefName,
                                         MStatus* ReturnStatus) {
    return createAttribute(*this, Operation::NumericCreateColor, fullName, briefName,
                           AttributeKind::Color, 0, MS::kSuccess, ReturnStatus);
}

MObject MFnNumericAttribute::createPoint(const MString& fullName, const MString& briefName,
                                         MStatus* ReturnStatus) {
    return createAttribute(*this, Operation::NumericCreatePoint, fullName, briefName,
                           AttributeKind::Point, 0, MS::kSuccess, ReturnStatus);
}

MFnMatrixAttribute::MFnMatrixAttribute() = default;
MFnMatrixAttribute::MFnMatrixAttribute(MObject& object, MStatus* ReturnStatus)
    : MFnAttribute(object, ReturnStatus) {}

MObject MFnMatrixAttribute::create(const MString& fullName, const MString& briefName,
                                   Type matrixType, MStatus* ReturnStatus) {
    return createAttribute(*this, Operation::MatrixCreate, fullName, briefName,
                           AttributeKind::FloatMatrix, 0,
                           matrixType == kFloat ? MS::kSuccess : MS::kNotImplemented, ReturnStatus);
}

MFnTypedAttribute::MFnTypedAttribute() = default;
MFnTypedAttribute::MFnTypedAttribute(MObject& object, MStatus* ReturnStatus)
    : MFnAttribute(object, ReturnStatus) {}

// Strings start empty: there are no data objects to take a default from.
MObject MFnTypedAttribute::create(const MString& fullName, const MString& briefName,
                                  MFnData::Type type, MObject defaultData, MStatus* ReturnStatus) {
    MStatus support = MS::kSuccess;
    if (type != MFnData::kString) {
        support = MS::kNotImplemented;
    } else if (!defaultData.isNull()) {
        support = MS::kInvalidParameter;
    }
    return createAttribute(*this, Operation::TypedCreate, fullName, briefName,
                           AttributeKind::String, 0, support, ReturnStatus);
}
