// MTypeId: a node type's identifier.
#include <maya/MTypeId.h>

MTypeId::MTypeId() : id_(0) {}
MTypeId::MTypeId(unsigned int id) : id_(id) {}
MTypeId::MTypeId(unsigned int prefix, unsigned int id) : id_((prefix << 8) | (id & 0xFFu)) {}
MTypeId::MTypeId(const MTypeId& other) = default;
MTypeId& MTypeId::operator=(const MTypeId& other) = default;
MTypeId::~MTypeId() = default;
bool MTypeId::operator==(const MTypeId& other) const { return id_ == other.id_; }
bool MTypeId::operator!=(const MTypeId& other) const { return id_ != other.id_; }
unsigned int MTypeId::id() const { return id_; }
