// Unique identifier of a node type.
#pragma once

#include <maya/MTypes.h>

class MTypeId {
  public:
    MTypeId();
    MTypeId(unsigned int id);
    // The prefix fills the upper 24 bits and id the lower 8.
    MTypeId(unsigned int prefix, unsigned int id);
    MTypeId(const MTypeId& other);
    MTypeId& operator=(const MTypeId& other);
    ~MTypeId();

    bool operator==(const MTypeId& other) const;
    bool operator!=(const MTypeId& other) const;
    unsigned int id() const;

  private:
    unsigned int id_;
};
