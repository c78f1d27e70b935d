#include "VoxelVolume.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

#include "BatchKernels.h"
#include "Platform.h"
#include "ReaderGuard.h"
#include "SamplerKernels.h"
#include "SharedBlocks.h"
#include "VolumeFormat.h"

static_assert(std::is_same_v<decltype(VoxelBlock::sample), samplerkernels::SampleFunction>,
              "a block holds a kernel");
static_assert(std::is_same_v<decltype(VoxelBlock::sampleBatch), batchkernels::BatchFunction>,
              "a block holds a batch kernel");

namespace {

// Bytes of the body read and compared at a time: few enough to stay in the processor's cache
// from the read to the comparison with the blocks already held, enough that the calls to read
// them cost little.
constexpr std::size_t kChunkBytes = 256 * 1024;
// The bytes at the start of the body that find the blocks to compare with.
constexpr std::size_t kKeyBytes = 64 * 1024;
// Bytes after the body that kernels may read.
constexpr std::size_t kTrailingPadding =
    std::max(samplerkernels::kTrailingPadding, batchkernels::kTrailingPadding);

// Uses of shared blocks a load holds while it compares them, dropped unless kept.
class BlockUses {
  public:
    BlockUses() = default;
    ~BlockUses() { clear(); }
    BlockUses(const BlockUses&) = delete;
    BlockUses& operator=(const BlockUses&) = delete;

    std::vector<VoxelBlock*> blocks;

    void clear() {
        for (VoxelBlock* block : blocks) sharedblocks::release(block);
        blocks.clear();
    }
    // The first block, with its use handed to the caller; the others are dropped.
    VoxelBlock* keepFirst() {
        VoxelBlock* const kept = blocks.front();
        blocks.erase(blocks.begin());
        clear();
        return kept;
    }
};

// A short read or a file cut while it was read: `bodyRead` receives the body bytes the file
// still has, at most the `delivered` ones.
VolumeLoadResult bodyIncomplete(std::FILE* file, std::size_t delivered, std::int64_t& bodyRead) {
    const std::int64_t headerSize = static_cast<std::int64_t>(volformat::kHeaderSize);
    const std::int64_t bodyLeft =
        std::max<std::int64_t>(platform::currentSize(file) - headerSize, 0);
    bodyRead = std::min<std::int64_t>(static_cast<std::int64_t>(delivered), bodyLeft);
    return volformat::kBodyIncomplete;
}

// Whether the file still holds a whole body. A cut that lands while the body is read can hand
// the reader zeros instead of the bytes that were there, so only a file still whole vouches for
// what was read.
bool stillWhole(std::FILE* file, std::size_t bodySize) {
    return platform::currentSize(file) >=
           static_cast<std::int64_t>(volformat::kHeaderSize + bodySize);
}

// Reads the body that follows the header and returns, with one use, the block that holds its
// records: one already held by any store when its bytes are the same, otherwise a new one.
// Chunks are compared with the held blocks as they arrive; only when none is left does the body
// go into a block of its own, which takes the bytes already compared from the block that
// matched them last.
VolumeLoadResult readBody(std::FILE* file, std::int32_t channelCount, std::size_t bodySize,
                          VoxelBlock*& installed, std::int64_t& bodyRead) {
    using volformat::kAllocationFailed;
    const std::unique_ptr<unsigned char[]> chunk(new (std::nothrow) unsigned char[kChunkBytes]);
    if (!chunk) return kAllocationFailed;
    std::size_t chunkBytes = std::min(kChunkBytes, bodySize);
    std::size_t delivered = std::fread(chunk.get(), 1, chunkBytes, file);
    if (delivered < chunkBytes) return bodyIncomplete(file, delivered, bodyRead);

    const std::uint64_t key =
        sharedblocks::contentKey(chunk.get(), std::min(kKeyBytes, chunkBytes), channelCount);
    sharedblocks::Candidates found;
    if (!sharedblocks::findCandidates(key, found)) return kAllocationFailed;
    BlockUses candidates;
    candidates.blocks = std::move(found.blocks);
    BlockUses prefixSource;
    // Every candidate left holds the body's bytes before `offset`.
    std::size_t offset = 0;
    while (!candidates.blocks.empty()) {
        const auto differs = [&](const VoxelBlock* block) {
            return block->channelCount != channelCount ||
                   std::memcmp(block->bytes.get() + offset, chunk.get(), chunkBytes) != 0;
        };
        auto& blocks = candidates.blocks;
        const auto firstDiffering = std::stable_partition(
            blocks.begin(), blocks.end(), [&](const VoxelBlock* block) { return !differs(block); });
        if (firstDiffering == blocks.begin()) {
            prefixSource.blocks.push_back(blocks.front());
            blocks.erase(blocks.begin());
            candidates.clear();
            break;
        }
        for (auto dropped = firstDiffering; dropped != blocks.end(); ++dropped)
            sharedblocks::release(*dropped);
        blocks.erase(firstDiffering, blocks.end());
        offset += chunkBytes;
        if (offset == bodySize) break;
        chunkBytes = std::min(kChunkBytes, bodySize - offset);
        delivered = std::fread(chunk.get(), 1, chunkBytes, file);
        if (delivered < chunkBytes) return bodyIncomplete(file, offset + delivered, bodyRead);
    }
    if (!candidates.blocks.empty()) {
        if (!stillWhole(file, bodySize)) return bodyIncomplete(file, bodySize, bodyRead);
        installed = candidates.keepFirst();
        return channelCount;
    }

    std::unique_ptr<VoxelBlock> block = sharedblocks::takeBlock(bodySize + kTrailingPadding);
    if (!block) return kAllocationFailed;
    unsigned char* const bytes = block->bytes.get();
    if (offset > 0) std::memcpy(bytes, prefixSource.blocks.front()->bytes.get(), offset);
    prefixSource.clear();
    std::memcpy(bytes + offset, chunk.get(), chunkBytes);
    offset += chunkBytes;
    delivered = offset + std::fread(bytes + offset, 1, bodySize - offset, file);
    if (delivered < bodySize || !stillWhole(file, bodySize)) {
        sharedblocks::giveBack(std::move(block));
        return bodyIncomplete(file, delivered, bodyRead);
    }
    // A reused block still holds its previous volume's bytes past this body.
    std::fill_n(bytes + bodySize, kTrailingPadding, 0);
    block->channelCount = channelCount;
    block->sample = samplerkernels::fastestKernel(channelCount);
    block->sampleBatch = batchkernels::fastestBatchKernel(channelCount);
    installed = sharedblocks::install(std::move(block), key, found.installedBefore);
    return installed != nullptr ? channelCount : kAllocationFailed;
}

constexpr std::int32_t kIndexMask = kVolumeGridSize - 1;

const unsigned char* recordAt(const VoxelBlock& block, std::int32_t x, std::int32_t y,
                              std::int32_t z) {
    const std::size_t index = (static_cast<std::size_t>(z & kIndexMask) * kVolumeGridSize +
                               static_cast<std::size_t>(y & kIndexMask)) *
                                  kVolumeGridSize +
                              static_cast<std::size_t>(x & kIndexMask);
    return block.bytes.get() + index * static_cast<std::size_t>(block.channelCount);
}

constexpr VoxelSample kTransparentBlack = {0.0f, 0.0f, 0.0f, 0.0f};

}  // namespace

VoxelVolume::VoxelVolume() : logStream_(platform::openLogStream()) {}

VoxelVolume::~VoxelVolume() {
    if (VoxelBlock* const block = block_.load()) sharedblocks::release(block);
    if (logStream_ != nullptr) platform::closeLogStream(logStream_);
}

VolumeLoadResult VoxelVolume::loadVolumeFile(const char* path, std::int32_t& bytesRead) {
    using namespace volformat;
    if (path == nullptr) return kOpenFailed;
    std::int64_t fileSize = 0;
    const platform::FileHandle file = platform::openRegularFile(path, fileSize);
    if (!file) return kOpenFailed;

    unsigned char header[kHeaderSize];
    const std::size_t headerBytes = std::fread(header, 1, kHeaderSize, file.get());
    const HeaderCheck check = checkHeader(header, headerBytes);
    if (check.code == kHeaderIncomplete) bytesRead = static_cast<std::int32_t>(headerBytes);
    if (check.code != 0) return check.code;

    // Only allocate what the file can fill, so a tiny file cannot claim gigabytes.
    const std::int64_t availableBody =
        fileSize > static_cast<std::int64_t>(kHeaderSize) ? fileSize - kHeaderSize : 0;
    if (availableBody < check.bodyBytes) {
        bytesRead = static_cast<std::int32_t>(availableBody);
        return kBodyIncomplete;
    }
    std::int64_t bodyRead = 0;
    VoxelBlock* block = nullptr;
    const VolumeLoadResult result = readBody(
        file.get(), check.channelCount, static_cast<std::size_t>(check.bodyBytes), block, bodyRead);
    if (result == kBodyIncomplete) bytesRead = static_cast<std::int32_t>(bodyRead);
    if (result < 0) return result;

    VoxelBlock* previous = nullptr;
    {
        const std::lock_guard<std::mutex> lock(loadMutex_);
        previous = block_.exchange(block, std::memory_order_seq_cst);
        channelCount_.store(check.channelCount, std::memory_order_release);
        readerguard::waitForReaders();
    }
    if (previous != nullptr) sharedblocks::release(previous);
    bytesRead = static_cast<std::int32_t>(check.bodyBytes);
    return check.channelCount;
}

VoxelSample VoxelVolume::voxelAt(std::int32_t x, std::int32_t y, std::int32_t z) const {
    const readerguard::Scope reading;
    const VoxelBlock* block = block_.load(std::memory_order_acquire);
    return block ? samplerkernels::decodeRecord(recordAt(*block, x, y, z), block->channelCount)
                 : kTransparentBlack;
}

void VoxelVolume::sampleTrilinearBatch(std::size_t count, const float* u, const float* v,
                                       const float* w, float* r, float* g, float* b,
                                       float* a) const {
    const readerguard::Scope reading;
    const VoxelBlock* block = block_.load(std::memory_order_acquire);
    if (block) {
        block->sampleBatch(block->bytes.get(), block->channelCount, count, u, v, w, r, g, b, a);
        return;
    }
    std::fill_n(r, count, 0.0f);
    std::fill_n(g, count, 0.0f);
    std::fill_n(b, count, 0.0f);
    std::fill_n(a, count, 0.0f);
}

void VoxelVolume::sampleTrilinearBatch(std::size_t count, const TexturePoint* points,
                                       VoxelSample* samples) const {
    const readerguard::Scope reading;
    const VoxelBlock* block = block_.load(std::memory_order_acquire);
    if (block) {
        batchkernels::sampleInterleaved(block->sampleBatch, block->bytes.get(), block->channelCount,
                                        count, points, samples);
        return;
    }
    std::fill_n(samples, count, kTransparentBlack);
}

VoxelSample VoxelVolume::lerpSample(const VoxelSample& a, const VoxelSample& b, float t) {
    return samplerkernels::lerpSamples(a, b, t);
}
