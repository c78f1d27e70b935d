// Node types: the slots of their attributes, the data block's layout with the default values,
// the dirty propagation that attributeAffects declares, and where a slot's value sits.
#include <maya/MFloatMatrix.h>
#include <maya/MFloatVector.h>

#include <algorithm>
#include <cstring>

#include "HostInternal.h"

namespace mayahost {
namespace detail {

Storage storageOf(AttributeKind kind) {
    switch (kind) {
        case AttributeKind::Float:
            return Storage::Float;
        case AttributeKind::Bool:
            return Storage::Bool;
        case AttributeKind::Point:
        case AttributeKind::Color:
            return Storage::Float3;
        case AttributeKind::FloatMatrix:
            return Storage::Matrix;
        case AttributeKind::String:
            return Storage::String;
    }
    return Storage::Float;
}

int NodeType::findSlot(std::string_view attributeName) const {
    for (std::size_t index = 0; index < slots.size(); ++index) {
        const Attribute& attribute = *slots[index].attribute;
        if (attribute.longName == attributeName || attribute.shortName == attributeName) {
            return static_cast<int>(index);
        }
    }
    return -1;
}

namespace {

// The slots whose values change along with the slot: itself, its children and its parent.
std::vector<int> familyOf(const NodeType& type, int slot) {
    const Attribute& attribute = *type.slot(slot).attribute;
    std::vector<int> family{slot};
    for (const Attribute* child : attribute.children) {
        family.push_back(child->slot);
    }
    if (attribute.parent != nullptr) {
        family.push_back(attribute.parent->slot);
    }
    return family;
}

// Everything that setting `slot` makes dirty, following attributeAffects transitively.
std::vector<int> dirtiedBySetting(const NodeType& type, int slot) {
    std::vector<int> reached = familyOf(type, slot);
    std::vector<int> dirtied;
    for (std::size_t next = 0; next < reached.size(); ++next) {
        const Attribute* changed = type.slot(reached[next]).attribute;
        for (const auto& [whenChanges, isAffected] : type.affects) {
            if (whenChanges != changed) {
                continue;
            }
            for (int affected : familyOf(type, isAffected->slot)) {
                if (std::find(reached.begin(), reached.end(), affected) == reached.end()) {
                    reached.push_back(affected);
                    dirtied.push_back(affected);
                }
            }
        }
    }
    std::sort(dirtied.begin(), dirtied.end());
    return dirtied;
}

std::size_t storageSize(Storage storage) {
    switch (storage) {
        case Storage::Float:
        case Storage::Bool:
            return sizeof(float);
        case Storage::Float3:
            return sizeof(MFloatVector);
        case Storage::Matrix:
            return sizeof(MFloatMatrix);
        case Storage::String:
            return 0;
    }
    return 0;
}

template <class T>
void writeDefault(BlockValues& values, std::size_t offset, const T& value) {
    std::memcpy(values.bytes.data() + offset, &value, sizeof value);
}

}  // namespace

// Lays out the data block, builds the default values and the dirty propagation once all
// attributes are known. Computed attributes start dirty.
void finishLayout(NodeType& type) {
    static_assert(sizeof(MFloatVector) == sizeof(float3), "float3 views share the storage");
    std::size_t byteCount = 0;
    std::size_t stringCount = 0;
    for (Slot& slot : type.slots) {
        const Attribute& attribute = *slot.attribute;
        slot.storage = storageOf(attribute.kind);
        slot.flagCount = 1 + static_cast<int>(attribute.children.size());
        if (attribute.parent != nullptr) {
            // Children follow their parent, so the distance between slots is the component.
            const std::size_t component =
                static_cast<std::size_t>(attribute.slot - attribute.parent->slot - 1);
            slot.offset = type.slot(attribute.parent->slot).offset + sizeof(float) * component;
        } else if (slot.storage == Storage::String) {
            slot.offset = stringCount++;
        } else {
            slot.offset = byteCount;
            byteCount += storageSize(slot.storage);
        }
    }

    BlockValues& defaults = type.defaults;
    defaults.type = &type;
    defaults.bytes.assign(byteCount, std::byte{0});
    defaults.strings.assign(stringCount, MString());
    defaults.dirty.assign(type.slots.size(), 0);
    for (std::size_t index = 0; index < type.slots.size(); ++index) {
        Slot& slot = type.slots[index];
        if (slot.attribute->parent == nullptr) {
            switch (slot.storage) {
                case Storage::Float:
                    writeDefault(defaults, slot.offset,
                                 static_cast<float>(slot.attribute->defaultValue));
                    break;
                case Storage::Bool:
                    writeDefault(defaults, slot.offset, slot.attribute->defaultValue != 0);
                    break;
                case Storage::Float3:
                    writeDefault(defaults, slot.offset, MFloatVector());
                    break;
                case Storage::Matrix:
                    writeDefault(defaults, slot.offset, MFloatMatrix());
                    break;
                case Storage::String:
                    break;
            }
        }
        slot.dirtiedBySetting = dirtiedBySetting(type, static_cast<int>(index));
        for (int dirtied : slot.dirtiedBySetting) {
            defaults.dirty[static_cast<std::size_t>(dirtied)] = 1;
        }
    }
    for (std::size_t index = 0; index < type.slots.size(); ++index) {
        if (defaults.dirty[index] != 0) {
            type.computedSlots.push_back(static_cast<int>(index));
        }
    }
}

void releaseAttributes(NodeType& type) {
    for (Slot& slot : type.slots) {
        slot.attribute->owner = nullptr;
        slot.attribute->slot = -1;
    }
}

void* BlockValues::valueAddress(int slot) {
    const Slot& layout = type->slot(slot);
    if (layout.storage == Storage::String) {
        return &strings[layout.offset];
    }
    return bytes.data() + layout.offset;
}

MDataHandle BlockValues::handle(int slot) {
    const Slot& layout = type->slot(slot);
    return Access::makeHandle(valueAddress(slot), layout.storage,
                              &dirty[static_cast<std::size_t>(slot)], layout.flagCount);
}

void BlockValues::markSet(int slot) {
    handle(slot).setClean();
    for (int dirtied : type->slot(slot).dirtiedBySetting) {
        dirty[static_cast<std::size_t>(dirtied)] = 1;
    }
}

}  // namespace detail
}  // namespace mayahost
