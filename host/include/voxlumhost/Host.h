// Driver API of the stand-in host, for tests and tools.
//
// The host keeps one process-wide state: the loaded plug-ins, the registered node types, the
// nodes and a log of the messages shown with MGlobal.
//
// Threads
//   Every call here may come from several threads at once, under these rules:
//   - A node's values sit behind a mutex held only while they are copied or changed, never while
//     plug-in code runs. Reading a dirty output computes it on a copy of the values and keeps the
//     result unless a value was set meanwhile.
//   - A node's handlers (compute and the internal-value handlers) run one at a time, under a
//     mutex of the node. Only an MP-safe node's evaluations on shading contexts take no lock:
//     they run at once, as a renderer's threads do.
//   @warning A Node must not be deleted while another call uses it, and a node's own handlers
//   must not set its internal attributes: that waits for the handlers to finish.
//   @warning A ShadingContext belongs to one thread at a time.
//
// Plug-ins
//   loadPlugin opens a plug-in library, reads its MApiVersion and calls initializePlugin;
//   unloadPlugin calls uninitializePlugin and closes the library. createPluginObject gives an
//   in-process plug-in object for registering node types with MFnPlugin without a library.
//
// Nodes and values
//   createNode builds a node through its type's creator and calls postConstructor. Attributes
//   are named by long or short name, or, on hot paths, by an AttributeHandle resolved once with
//   findAttribute: a handle is valid for every node of the type it was resolved on. Reading an
//   output that is dirty runs the node's compute (see getFloat); setting an input marks what it
//   affects dirty. Setting an internal attribute goes through setInternalValueInContext.
//
// Rendering
//   A renderer shades many points of one node, on several threads at once, and must neither
//   change the node nor wait on other threads per point. Each thread keeps a ShadingContext:
//   attach takes a copy of the node's values, per-point inputs are set on the context and
//   outputs read from it, and compute runs on the copy. See ShadingContext.
//
// Diagnostics
//   messages() returns what MGlobal::displayInfo and displayError showed; injectFailure makes a
//   named host operation fail on its next calls.
//
// Errors come back as a Result with a message; nothing here throws.
#pragma once

#include <maya/MFloatMatrix.h>
#include <maya/MFloatVector.h>
#include <maya/MObject.h>
#include <maya/MPxNode.h>
#include <maya/MStatus.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace mayahost {

namespace detail {
struct NodeType;
struct BlockValues;
}  // namespace detail

struct Result {
    bool ok = true;
    std::string error;

    explicit operator bool() const { return ok; }
    static Result failure(std::string message) { return Result{false, std::move(message)}; }
};

// How the loader found a plug-in's entry points: under their plain names, or under the
// C++-mangled names of `MStatus initializePlugin(MObject)` and its pair.
enum class EntryPointNames { Plain, Mangled };

struct PluginInfo {
    std::string path;
    std::string apiVersion;  // the plug-in's exported MApiVersion
    EntryPointNames entryPoints = EntryPointNames::Plain;
};

struct NodeTypeInfo {
    std::string name;
    unsigned int id = 0;
    std::string classification;
};

enum class AttributeKind { Float, Bool, Point, Color, FloatMatrix, String };

struct AttributeInfo {
    std::string longName;
    std::string shortName;
    AttributeKind kind = AttributeKind::Float;
    double defaultValue = 0;  // of a float or bool attribute; colours and points default to 0
    bool keyable = false;
    bool storable = false;
    bool readable = false;
    bool writable = false;
    bool hidden = false;
    bool internal = false;
    std::string parent;                 // long name of the colour or point this is a child of
    std::vector<std::string> children;  // long names
    std::vector<std::string> affects;   // long names, as declared with attributeAffects
};

enum class MessageKind { Info, Error };

struct Message {
    MessageKind kind;
    std::string text;
};

// A node made by createNode; opaque.
using Node = detail::Node;

struct AttributeHandle {
    const detail::NodeType* type = nullptr;
    int slot = -1;
};

// Names an attribute by handle or by long or short name, so every value call takes either.
class AttributeRef {
  public:
    AttributeRef(AttributeHandle handle) : handle_(handle) {}
    AttributeRef(const char* name) : name_(name) {}
    AttributeRef(const std::string& name) : name_(name) {}

    const AttributeHandle& handle() const { return handle_; }
    std::string_view name() const { return name_; }

  private:
    AttributeHandle handle_;
    std::string_view name_;
};

// A plug-in is named by its path or, as the host's own loadPlugin takes it, by bare name
// ("Voxlum"), looked up along MAYA_PLUG_IN_PATH and then in the plug-ins folders of the modules
// along MAYA_MODULE_PATH (see ModulePath.cpp); unloadPlugin takes the same name.
// Plug-ins. A library may be loaded more than once; each load calls initializePlugin again and
// each unload undoes the most recent load of that path. Unloading is refused while nodes of the
// plug-in's types exist, and when uninitializePlugin fails.
Result loadPlugin(const std::string& path, PluginInfo* info = nullptr);
Result unloadPlugin(const std::string& path);
MObject createPluginObject();
// Removes what the object's plug-in left registered; refused while nodes of those types exist.
Result destroyPluginObject(const MObject& plugin);

// Node types, in registration order.
std::vector<NodeTypeInfo> nodeTypes();
// The attributes in the order they were added, each colour or point followed by its children.
Result describeNodeType(const std::string& typeName, std::vector<AttributeInfo>& attributes);

Result createNode(const std::string& typeName, Node*& node);
Result deleteNode(Node* node);
MPxNode* userNode(Node* node);
Result findAttribute(const Node* node, const std::string& name, AttributeHandle& handle);

// Setting a colour or point child sets that component of its parent. Attributes that are not
// writable refuse values.
Result setFloat(Node* node, AttributeRef attribute, float value);
Result setBool(Node* node, AttributeRef attribute, bool value);
Result setFloat3(Node* node, AttributeRef attribute, float x, float y, float z);
Result setMatrix(Node* node, AttributeRef attribute, const MFloatMatrix& value);
Result setString(Node* node, AttributeRef attribute, const std::string& value);

// Reading a dirty attribute runs compute for it first; when compute answers kUnknownParameter
// for a colour or point child, it is asked again for the parent, as the plug-in may only
// handle the whole compound. A failing compute is reported and the stored value returned.
Result getFloat(Node* node, AttributeRef attribute, float& value);
Result getBool(Node* node, AttributeRef attribute, bool& value);
Result getFloat3(Node* node, AttributeRef attribute, MFloatVector& value);
Result getMatrix(Node* node, AttributeRef attribute, MFloatMatrix& value);
Result getString(Node* node, AttributeRef attribute, std::string& value);

Result isDirty(Node* node, AttributeRef attribute, bool& dirty);
// Runs compute once for the plug, whether dirty or not and without the fallback to the
// parent, and returns compute's own status.
Result computePlug(Node* node, AttributeRef attribute, MStatus& computeStatus);

// One renderer thread's view of a node. Values set on the node after attach reach the context
// when it attaches again, as a renderer takes the scene when a frame starts. Internal attributes
// are set on the node, not here.
// @warning Use a context from one thread at a time, and keep its node alive while it is used.
// @warning An MP-safe node's compute runs on every context at once with no lock, even while
// setInternalValueInContext runs on the node, so such a node keeps its own state safe for that
// (Voxlum's volume store does). Other nodes take turns with all evaluations of the node.
class ShadingContext {
  public:
    ShadingContext();
    ~ShadingContext();
    ShadingContext(const ShadingContext&) = delete;
    ShadingContext& operator=(const ShadingContext&) = delete;

    // Takes the node's current values, with the same outputs dirty as on the node.
    Result attach(Node* node);

    Result setFloat3(AttributeRef attribute, float x, float y, float z);
    // As the node's getters: a dirty output is computed first, on this context's values.
    Result getFloat(AttributeRef attribute, float& value);
    Result getFloat3(AttributeRef attribute, MFloatVector& value);

  private:
    Node* node_ = nullptr;
    std::unique_ptr<detail::BlockValues> values_;
};

std::vector<Message> messages();
void clearMessages();
// On by default: info lines go to stdout, errors to stderr as "// Error: <text> //".
void setConsoleEcho(bool enabled);

// Makes the next `count` calls of a host operation fail with `code` and do nothing else.
// Operations are named as called, e.g. "MFnPlugin::registerNode", "MPxNode::addAttribute",
// "MFnAttribute::setKeyable", "MFnNumericAttribute::createColor", "MFnPlugin::MFnPlugin".
Result injectFailure(const std::string& operation, MStatus::MStatusCode code = MStatus::kFailure,
                     unsigned int count = 1);
void clearInjectedFailures();

}  // namespace mayahost
