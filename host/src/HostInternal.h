// The host's records behind the opaque pointers of the public classes, and the internal calls
// the sources share.
#pragma once

#include <maya/MDataBlock.h>
#include <maya/MDataHandle.h>
#include <maya/MFloatMatrix.h>
#include <maya/MFloatVector.h>
#include <maya/MFnAttribute.h>
#include <maya/MFnPlugin.h>
#include <maya/MObject.h>
#include <maya/MPlug.h>
#include <maya/MPxNode.h>
#include <maya/MStatus.h>
#include <maya/MString.h>
#include <voxlumhost/Host.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mayahost {
namespace detail {

// How a value is laid out in a data block; colours and points share Float3.
enum class Storage : int { Float, Bool, Float3, Matrix, String };

Storage storageOf(AttributeKind kind);

struct HostObject {
    enum class Type { Attribute, Plugin };
    explicit HostObject(Type objectType) : type(objectType) {}
    virtual ~HostObject() = default;
    const Type type;
};

struct NodeType;

struct Attribute : HostObject {
    Attribute() : HostObject(Type::Attribute) {}

    std::string longName;
    std::string shortName;
    AttributeKind kind = AttributeKind::Float;
    double defaultValue = 0;
    bool keyable = false;
    bool storable = true;
    bool readable = true;
    bool writable = true;
    bool hidden = false;
    bool internal = false;
    Attribute* parent = nullptr;
    std::vector<Attribute*> children;
    // Set once the attribute is added to a node type; cleared when that type goes away.
    NodeType* owner = nullptr;
    int slot = -1;
};

using EntryPoint = MStatus (*)(MObject);

struct Plugin : HostObject {
    Plugin() : HostObject(Type::Plugin) {}

    std::string path;  // empty for in-process plug-in objects
    std::string apiVersion;
    EntryPointNames entryPoints = EntryPointNames::Plain;
    void* library = nullptr;
    EntryPoint uninitialize = nullptr;
};

// Attribute values of one node: fixed-size values packed in `bytes`, strings apart, and one
// dirty flag per slot. A copy is a plain copy.
struct BlockValues {
    const NodeType* type = nullptr;
    std::vector<std::byte> bytes;
    std::vector<MString> strings;
    std::vector<unsigned char> dirty;

    void* valueAddress(int slot);
    template <class T>
    T& value(int slot) {
        return *static_cast<T*>(valueAddress(slot));
    }
    bool isDirty(int slot) const { return dirty[static_cast<std::size_t>(slot)] != 0; }
    MDataHandle handle(int slot);
    // The slot's value was set: it is clean, and what setting it affects is dirty.
    void markSet(int slot);
};

// One attribute of a node type. Children of a colour or point follow their parent and share its
// storage; the parent's dirty flag is followed by theirs.
struct Slot {
    Attribute* attribute = nullptr;
    Storage storage = Storage::Float;
    std::size_t offset = 0;  // into BlockValues::bytes, or the index into BlockValues::strings
    int flagCount = 1;       // this slot's dirty flag and its children's
    std::vector<int> dirtiedBySetting;
};

struct NodeType {
    std::string name;
    unsigned int id = 0;
    MCreatorFunction creator = nullptr;
    std::string classification;
    Plugin* plugin = nullptr;
    std::vector<Slot> slots;
    std::vector<int> computedSlots;  // the slots that setting some other slot makes dirty
    std::vector<std::pair<Attribute*, Attribute*>> affects;
    BlockValues defaults;
    int liveNodes = 0;  // guarded by the registry's mutex

    const Slot& slot(int index) const { return slots[static_cast<std::size_t>(index)]; }
    int findSlot(std::string_view attributeName) const;
};

// Lays out the data block, the default values and the dirty propagation once every attribute
// of the type is added.
void finishLayout(NodeType& type);
// Frees the type's attributes for another type.
void releaseAttributes(NodeType& type);

// @warning `valuesMutex` guards `values` and `generation` and is held only while they are
// copied or changed; `handlerMutex` is held while plug-in code runs. Take `handlerMutex` first.
struct Node {
    NodeType* type = nullptr;
    MPxNode* user = nullptr;
    std::mutex valuesMutex;
    BlockValues values;
    std::uint64_t generation = 0;  // counts the values set, so a stale evaluation publishes nothing
    // Held while the node's handlers run, so they run one at a time; only an MP-safe node's
    // evaluations on shading contexts take no lock.
    std::mutex handlerMutex;
};

// Process-wide registry. Never destroyed: nodes and plug-ins still alive at exit may depend
// on libraries whose teardown order is unknown.
struct Registry {
    std::mutex mutex;
    std::vector<std::unique_ptr<Attribute>> attributes;
    std::vector<std::unique_ptr<NodeType>> types;
    std::vector<std::unique_ptr<Plugin>> plugins;
    std::vector<std::unique_ptr<Node>> nodes;

    // Needs the mutex held.
    NodeType* findType(std::string_view name) const;
};
Registry& registry();

// Drops what a plug-in left registered; refused while nodes of its types exist.
Result removePluginTypes(Plugin& plugin);
// Drops the record of a plug-in that is being unloaded.
void forgetPlugin(Plugin* plugin);
// The type whose initialize function runs on this thread, to which addAttribute and
// attributeAffects apply.
NodeType*& initializingType();

void appendMessage(MessageKind kind, const MString& text);

// Host operations whose failure tests can inject.
enum class Operation {
    PluginConstruct,
    RegisterNode,
    DeregisterNode,
    AddAttribute,
    AttributeAffects,
    NumericCreate,
    NumericCreateColor,
    NumericCreatePoint,
    MatrixCreate,
    TypedCreate,
    SetKeyable,
    SetStorable,
    SetReadable,
    SetWritable,
    SetHidden,
    SetInternal,
    Count
};
// True, with the status to return, when a failure is pending for the operation.
bool takeInjectedFailure(Operation operation, MStatus& status);

inline void reportStatus(MStatus* out, MStatus status) {
    if (out != nullptr) {
        *out = status;
    }
}

// The one place that reaches into the public classes' private members.
class Access {
  public:
    static MObject makeObject(HostObject* object) {
        MObject result;
        result.object_ = object;
        return result;
    }
    static Attribute* attribute(const MObject& object) {
        return object.object_ != nullptr && object.object_->type == HostObject::Type::Attribute
                   ? static_cast<Attribute*>(object.object_)
                   : nullptr;
    }
    static Plugin* plugin(const MObject& object) {
        return object.object_ != nullptr && object.object_->type == HostObject::Type::Plugin
                   ? static_cast<Plugin*>(object.object_)
                   : nullptr;
    }

    static MPlug makePlug(Node* node, Attribute* attribute) {
        MPlug plug;
        plug.node_ = node;
        plug.attribute_ = attribute;
        return plug;
    }
    static Attribute* attribute(const MPlug& plug) {
        return static_cast<Attribute*>(plug.attribute_);
    }

    static MDataHandle makeHandle(void* data, Storage storage, unsigned char* dirtyFlags,
                                  int dirtyCount) {
        static_assert(static_cast<int>(Storage::String) == MDataHandle::kStringStorage,
                      "handles and blocks name storage alike");
        MDataHandle handle;
        handle.data_ = data;
        handle.storage_ = static_cast<MDataHandle::Storage>(storage);
        handle.dirtyFlags_ = dirtyFlags;
        handle.dirtyCount_ = dirtyCount;
        return handle;
    }
    static MDataBlock makeBlock(BlockValues* values) { return MDataBlock(values); }

    static Attribute* attribute(const MFnAttribute& functionSet) {
        return static_cast<Attribute*>(functionSet.attribute_);
    }
    static void attach(MFnAttribute& functionSet, Attribute* attribute) {
        functionSet.attribute_ = attribute;
    }
    static Plugin* plugin(const MFnPlugin& functionSet) {
        return static_cast<Plugin*>(functionSet.plugin_);
    }
    static void attach(MFnPlugin& functionSet, Plugin* plugin) { functionSet.plugin_ = plugin; }

    static bool isMPSafe(const MPxNode& node) { return node.mpSafe_; }
};

}  // namespace detail
}  // namespace mayahost
