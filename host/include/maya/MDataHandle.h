// Access to one value of a data block.
// @warning A handle is valid only during the handler call that it was made for.
#pragma once

#include <maya/MFloatMatrix.h>
#include <maya/MFloatVector.h>
#include <maya/MString.h>
#include <maya/MTypes.h>

class MDataHandle {
  public:
    MDataHandle() : data_(NULL), storage_(kNoStorage), dirtyFlags_(NULL), dirtyCount_(0) {}

    // Inline, as compute reads and writes through handles on every evaluation. A handle used
    // with the wrong type reads and writes a scratch value, not the block.
    float& asFloat() const { return *static_cast<float*>(valueOf(kFloatStorage)); }
    bool& asBool() const { return *static_cast<bool*>(valueOf(kBoolStorage)); }
    float3& asFloat3() const { return *static_cast<float3*>(valueOf(kFloat3Storage)); }
    MFloatVector& asFloatVector() const {
        return *static_cast<MFloatVector*>(valueOf(kFloat3Storage));
    }
    MFloatMatrix& asFloatMatrix() const {
        return *static_cast<MFloatMatrix*>(valueOf(kMatrixStorage));
    }
    MString& asString() const { return *static_cast<MString*>(valueOf(kStringStorage)); }

    void set(bool value) { asBool() = value; }
    void set(float value) { asFloat() = value; }
    void set(float x, float y, float z) { asFloatVector() = MFloatVector(x, y, z); }
    void set(const MFloatMatrix& value) { asFloatMatrix() = value; }
    void set(const MString& value) { asString() = value; }

    // Cleans the value and, of a colour or point, its children.
    void setClean() {
        for (int flag = 0; flag < dirtyCount_; ++flag) {
            dirtyFlags_[flag] = 0;
        }
    }

  private:
    friend class mayahost::detail::Access;
    // How the value is laid out; the order matches the host's own list.
    enum Storage {
        kFloatStorage,
        kBoolStorage,
        kFloat3Storage,
        kMatrixStorage,
        kStringStorage,
        kNoStorage
    };

    void* valueOf(Storage storage) const {
        return storage == storage_ ? data_ : scratchValue(storage);
    }
    // A zeroed per-thread value of the storage's type.
    static void* scratchValue(Storage storage);

    void* data_;
    Storage storage_;
    unsigned char* dirtyFlags_;
    int dirtyCount_;
};
