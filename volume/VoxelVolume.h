// The per-node voxel store: one 128^3 lattice of 8-bit RGB(A) records loaded from a ".vol"
// file, sampled trilinearly with wrap-around so the texture tiles space with period 1.
#pragma once

#include <atomic>
#include <cfloat>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>

#include "ReaderGuard.h"
#include "VolumeFormat.h"

// Samples are exact, and the same on every build, only where float and double operations round
// to their own precision. On 32-bit x86 that takes SSE2: the x87 unit keeps extended precision
// between operations.
#if defined(_MSC_VER) && defined(_M_IX86) && _M_IX86_FP < 2
#error "32-bit x86 builds need SSE2 arithmetic for exact samples: compile with /arch:SSE2"
#elif defined(__i386__) && !(defined(__SSE2_MATH__) && FLT_EVAL_METHOD == 0)
#error "32-bit x86 builds need SSE2 arithmetic for exact samples: compile with -msse2 -mfpmath=sse"
#elif FLT_EVAL_METHOD != 0
#error "exact samples need arithmetic without excess precision: FLT_EVAL_METHOD must be 0"
#endif

// Voxels per axis of the lattice the sampler addresses, whatever the file's header says.
constexpr std::int32_t kVolumeGridSize = volformat::kSupportedEdgeLength;

// The loader's result: the channel count when zero or more, otherwise a negative code
// (see volformat::LoadCode).
using VolumeLoadResult = std::int32_t;

struct VoxelSample {
    float r;
    float g;
    float b;
    float a;
};

// A texture coordinate, for sampling many points at once.
struct TexturePoint {
    float u;
    float v;
    float w;
};

// One loaded volume, shared by every store whose file holds the same records. Declared here so
// that sampling inlines into its caller: a sample is then one call, into the kernel.
struct VoxelBlock {
    std::int32_t channelCount;
    // The fastest kernel this processor runs for the block's record size, chosen with the block
    // so sampling only calls it.
    VoxelSample (*sample)(const unsigned char* records, std::int32_t channelCount, float u, float v,
                          float w);
    // The same for many points at once, chosen with it.
    void (*sampleBatch)(const unsigned char* records, std::int32_t channelCount, std::size_t count,
                        const float* u, const float* v, const float* w, float* r, float* g,
                        float* b, float* a);
    std::unique_ptr<unsigned char[]> bytes;
    std::size_t capacity;  // bytes allocated: a reused block may be larger than its body
    // Set when the block is installed for sharing: from then on its bytes never change, until
    // the last of its users lets it go.
    std::uint64_t contentKey;
    std::uint64_t installNumber;
    std::size_t users;
};

class VoxelVolume {
  public:
    VoxelVolume();
    ~VoxelVolume();
    VoxelVolume(const VoxelVolume&) = delete;
    VoxelVolume& operator=(const VoxelVolume&) = delete;

    // Loads `path`. On success returns the channel count and writes the body size to
    // `bytesRead`. On failure returns a negative code and leaves the store exactly as it was;
    // for an incomplete header or body, `bytesRead` receives the bytes the file actually had.
    // May run while other threads sample this store.
    VolumeLoadResult loadVolumeFile(const char* path, std::int32_t& bytesRead);

    // Record (x, y, z) of the lattice, indices taken modulo 128, each byte mapped to [0, 1].
    // Transparent black while the store holds no volume.
    VoxelSample voxelAt(std::int32_t x, std::int32_t y, std::int32_t z) const;

    // a * (1 - t) + b * t per component, in double precision rounded once to float.
    static VoxelSample lerpSample(const VoxelSample& a, const VoxelSample& b, float t);

    // Trilinear sample at texture coordinate (u, v, w); coordinates wrap with period 1 and
    // non-finite ones sample as 0. Transparent black while the store holds no volume.
    VoxelSample sampleTrilinear(float u, float v, float w) const {
        const readerguard::Scope reading;
        const VoxelBlock* block = block_.load(std::memory_order_acquire);
        return block ? block->sample(block->bytes.get(), block->channelCount, u, v, w)
                     : VoxelSample{0.0f, 0.0f, 0.0f, 0.0f};
    }

    // Samples `count` points at once: sample i is bit for bit sampleTrilinear(u[i], v[i], w[i]),
    // written to r[i], g[i], b[i] and a[i]. One reader scope and one block look-up serve the
    // whole batch, and the kernel works on several points per instruction, so this is the way
    // for callers that hold many points. Outputs must not overlap the inputs. As safe during
    // loads as sampleTrilinear; a load waits for a batch in progress to end.
    void sampleTrilinearBatch(std::size_t count, const float* u, const float* v, const float* w,
                              float* r, float* g, float* b, float* a) const;
    // The same for interleaved points and samples: samples[i] is sampleTrilinear at points[i].
    void sampleTrilinearBatch(std::size_t count, const TexturePoint* points,
                              VoxelSample* samples) const;

    // The records of the volume in use, 128^3 of channelCount() bytes in file order (x
    // fastest), or null while the store holds none. They stay as they are until the store loads
    // another volume or goes away, so a caller that does neither may read them at any time.
    const unsigned char* records() const {
        const VoxelBlock* block = block_.load(std::memory_order_acquire);
        return block ? block->bytes.get() : nullptr;
    }

    // Channels of the volume in use, 0 before the first successful load.
    std::int32_t channelCount() const { return channelCount_.load(std::memory_order_acquire); }
    bool hasVolume() const { return block_.load(std::memory_order_acquire) != nullptr; }
    bool hasLogStream() const { return logStream_ != nullptr; }

  private:
    std::atomic<std::int32_t> channelCount_{0};
    // Replaced only by a complete load; samplers read it inside a readerguard::Scope so the
    // store lets go of the previous block only once no sampler of its own can still read it.
    std::atomic<VoxelBlock*> block_{nullptr};
    std::FILE* logStream_ = nullptr;
    std::mutex loadMutex_;
};
