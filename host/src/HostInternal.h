// The host's records behind the opaque pointers of the public classes.
#pragma once

#include <maya/MDataBlock.h>
#include <maya/MDataHandle.h>
#include <maya/MFnAttribute.h>
#include <maya/MFnPlugin.h>
#include <maya/MObject.h>
#include <maya/MPlug.h>
#include <maya/MPxNode.h>
#include <maya/MStatus.h>
#include <maya/MString.h>
#include <voxlumhost/Host.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
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

// Attribute values of one node: fixed-size values packed in `bytes` (all trivially copyable,
// so a snapshot is a plain copy), strings apart, and one dirty flag per slot.
struct BlockValues {
    const NodeType* type = nullptr;
    std::vector<std::byte> bytes;
    std::vector<MString> strings;
    std::vector<unsigned char> dirty;
    // Blocks with the same nonzero version hold the same strings, so a snapshot copies them only
    // when they changed. 0 means unknown: a handle to one of the strings was handed out.
    std::uint64_t stringsVersion = 0;

    void* valueAddress(int slot);
    // Copies another block of the same type, reusing this one's memory.
    void copyFrom(const BlockValues& other);
    // Gives the strings a version no block had before; call after changing them.
    void stringsChanged();
};

// One attribute of a node type. Children of a colour or point follow their parent, share its
// storage and so their flags follow its flag.
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
    // Where an evaluation's results go: the slots some other slot's setting makes dirty.
    struct ComputedSlot {
        int slot;
        Storage storage;
        std::size_t offset;
        int flagCount;  // of the slot and its children, which follow it in the list
    };
    std::vector<ComputedSlot> computedSlots;
    std::vector<std::pair<Attribute*, Attribute*>> affects;
    BlockValues defaults;
    int liveNodes = 0;  // guarded by the registry mutex

    int findSlot(std::string_view name) const;
};

inline void* BlockValues::valueAddress(int slot) {
    const Slot& layout = type->slots[static_cast<std::size_t>(slot)];
    if (layout.storage == Storage::String) {
        return &strings[layout.offset];
    }
    return bytes.data() + layout.offset;
}

// A node's lock. It is held only while values are copied, never while plug-in code runs, so a
// thread that finds it taken spins briefly instead of sleeping in the kernel. Taking a free lock
// is one atomic exchange and releasing it a plain store, where a mutex costs two locked
// instructions and two library calls, on every value set and read.
class NodeLock {
  public:
    void lock() {
        while (locked_.exchange(true, std::memory_order_acquire)) {
            for (int spins = 0; locked_.load(std::memory_order_relaxed); ++spins) {
                if (spins >= kSpinsBeforeYield) {
                    std::this_thread::yield();
                }
            }
        }
    }
    void unlock() { locked_.store(false, std::memory_order_release); }

  private:
    static constexpr int kSpinsBeforeYield = 64;
    std::atomic<bool> locked_{false};
};

struct Node {
    NodeType* type = nullptr;
    MPxNode* user = nullptr;
    // Guards everything below; never held while plug-in code runs.
    NodeLock mutex;
    BlockValues values;
    std::uint64_t generation = 0;  // counts the values set, to spot stale evaluations
    // Turns of the node's handlers: evaluations (compute, getInternalValueInContext) run
    // together if the node is MP-safe and one at a time otherwise; setInternalValueInContext
    // runs alone, and evaluations let a waiting one go first.
    std::condition_variable_any turns;
    int evaluations = 0;
    int setHandlersWaiting = 0;
    bool setHandlerRunning = false;
    int waiters = 0;
};

// Process-wide registry. Never destroyed: nodes and plug-ins still alive at exit may depend
// on libraries whose teardown order is unknown.
struct Registry {
    std::mutex mutex;
    std::vector<std::unique_ptr<Attribute>> attributes;
    std::vector<std::unique_ptr<NodeType>> types;
    std::vector<std::unique_ptr<Plugin>> plugins;
    std::vector<std::unique_ptr<Node>> nodes;
};
Registry& registry();

// Drops what a plug-in left registered; refused while nodes of its types exist.
Result removePluginTypes(Plugin& plugin);
// Drops the record of a plug-in that is being unloaded.
void forgetPlugin(Plugin* plugin);

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
