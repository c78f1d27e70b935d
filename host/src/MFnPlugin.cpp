// MFnPlugin: registering and deregistering node types.
#include <maya/MFnPlugin.h>

#include <algorithm>

#include "HostInternal.h"

using mayahost::detail::Access;
using mayahost::detail::NodeType;
using mayahost::detail::Operation;
using mayahost::detail::Plugin;
using mayahost::detail::Registry;
using mayahost::detail::takeInjectedFailure;

namespace {

bool nameOrIdTaken(const Registry& registry, const std::string& name, unsigned int id) {
    return std::any_of(registry.types.begin(), registry.types.end(),
                       [&](const std::unique_ptr<NodeType>& type) {
                           return type->name == name || type->id == id;
                       });
}

}  // namespace

MFnPlugin::MFnPlugin() : plugin_(nullptr) {}

// This host shows no plug-in information, so vendor and versions are not kept.
MFnPlugin::MFnPlugin(MObject& object, const char*, const char*, const char*, MStatus* ReturnStatus)
    : plugin_(nullptr) {
    MStatus status;
    if (takeInjectedFailure(Operation::PluginConstruct, status)) {
        mayahost::detail::reportStatus(ReturnStatus, status);
        return;
    }
    Access::attach(*this, Access::plugin(object));
    mayahost::detail::reportStatus(
        ReturnStatus, plugin_ != nullptr ? MStatus::kSuccess : MStatus::kInvalidParameter);
}

MFnPlugin::~MFnPlugin() = default;

MStatus MFnPlugin::registerNode(const MString& typeName, const MTypeId& typeId,
                                MCreatorFunction creatorFunction, MInitializeFunction initFunction,
                                MPxNode::Type type, const MString* classification) {
    MStatus status;
    if (takeInjectedFailure(Operation::RegisterNode, status)) {
        return status;
    }
    Plugin* plugin = Access::plugin(*this);
    if (plugin == nullptr || creatorFunction == nullptr || initFunction == nullptr ||
        typeName.length() == 0) {
        return MStatus::kInvalidParameter;
    }
    if (type != MPxNode::kDependNode) {
        return MStatus::kNotImplemented;
    }
    Registry& registry = mayahost::detail::registry();
    {
        std::lock_guard<std::mutex> lock(registry.mutex);
        if (nameOrIdTaken(registry, typeName.asChar(), typeId.id())) {
            return MStatus::kFailure;
        }
    }

    auto nodeType = std::make_unique<NodeType>();
    nodeType->name = typeName.asChar();
    nodeType->id = typeId.id();
    nodeType->creator = creatorFunction;
    nodeType->classification = classification != nullptr ? classification->asChar() : "";
    nodeType->plugin = plugin;
    NodeType* const outerType = mayahost::detail::initializingType();
    mayahost::detail::initializingType() = nodeType.get();
    const MStatus initialized = initFunction();
    mayahost::detail::initializingType() = outerType;
    if (!initialized) {
        mayahost::detail::releaseAttributes(*nodeType);
        return initialized;
    }
    mayahost::detail::finishLayout(*nodeType);

    std::lock_guard<std::mutex> lock(registry.mutex);
    // Another thread may have registered the same name or id meanwhile.
    if (nameOrIdTaken(registry, nodeType->name, nodeType->id)) {
        mayahost::detail::releaseAttributes(*nodeType);
        return MStatus::kFailure;
    }
    registry.types.push_back(std::move(nodeType));
    return MStatus::kSuccess;
}

MStatus MFnPlugin::deregisterNode(const MTypeId& typeId) {
    MStatus status;
    if (takeInjectedFailure(Operation::DeregisterNode, status)) {
        return status;
    }
    Plugin* plugin = Access::plugin(*this);
    if (plugin == nullptr) {
        return MStatus::kInvalidParameter;
    }
    Registry& registry = mayahost::detail::registry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    auto found = std::find_if(registry.types.begin(), registry.types.end(),
                              [&](const std::unique_ptr<NodeType>& type) {
                                  return type->id == typeId.id() && type->plugin == plugin;
                              });
    if (found == registry.types.end()) {
        return MStatus::kNotFound;
    }
    if ((*found)->liveNodes > 0) {
        return MStatus::kFailure;
    }
    mayahost::detail::releaseAttributes(**found);
    registry.types.erase(found);
    return MStatus::kSuccess;
}
