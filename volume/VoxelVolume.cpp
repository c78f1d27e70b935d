#include "VoxelVolume.h"

#include <algorithm>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

#include "Platform.h"
#include "ReaderGuard.h"
#include "SamplerKernels.h"
#include "VolumeFormat.h"

static_assert(std::is_same_v<decltype(VoxelBlock::sample), samplerkernels::SampleFunction>,
              "a block holds a kernel");

namespace {

// One retired block kept for the next load of any store. Allocators map blocks this large
// afresh (Windows' heap always, glibc above its mapping threshold), and a fresh block costs a
// page fault and a zeroed page per 4 KiB; a reload into the spare writes into memory already
// mapped. One per process bounds what it holds to a single block, however many stores exist.
class SpareBlock {
  public:
    // The spare if it holds `bytes` without being more than twice that (so a small volume
    // does not pin a huge block); otherwise nothing, and the spare stays for another load.
    std::unique_ptr<VoxelBlock> take(std::size_t bytes) {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (!block_ || block_->capacity < bytes || block_->capacity / 2 > bytes) return nullptr;
        return std::move(block_);
    }

    // Keeps `block` as the spare; the one it replaces is freed, outside the lock.
    void keep(std::unique_ptr<VoxelBlock> block) {
        std::unique_ptr<VoxelBlock> replaced;
        const std::lock_guard<std::mutex> lock(mutex_);
        replaced = std::exchange(block_, std::move(block));
    }

  private:
    std::mutex mutex_;
    std::unique_ptr<VoxelBlock> block_;
};

SpareBlock& spareBlock() {
    static SpareBlock spare;
    return spare;
}

std::unique_ptr<VoxelBlock> allocateBlock(std::size_t capacity) {
    std::unique_ptr<VoxelBlock> block(new (std::nothrow) VoxelBlock{0, nullptr, nullptr, capacity});
    if (block) block->bytes.reset(new (std::nothrow) unsigned char[capacity]);
    if (!block || !block->bytes) return nullptr;
    return block;
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
    delete block_.load();
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
    const auto bodySize = static_cast<std::size_t>(check.bodyBytes);
    const std::size_t blockSize = bodySize + samplerkernels::kTrailingPadding;
    std::unique_ptr<VoxelBlock> block = spareBlock().take(blockSize);
    if (!block) block = allocateBlock(blockSize);
    if (!block) return kAllocationFailed;
    block->channelCount = check.channelCount;
    block->sample = samplerkernels::fastestKernel(check.channelCount);
    // A reused block still holds its previous volume's bytes past this body.
    std::fill_n(block->bytes.get() + bodySize, samplerkernels::kTrailingPadding, 0);

    // The file may have shrunk since its size was taken. A cut that lands while the body is
    // read can hand the reader zeros instead of the bytes that were there, so the size is
    // checked again afterwards: only a file still whole vouches for what was read.
    const std::size_t bodyBytes = std::fread(block->bytes.get(), 1, bodySize, file.get());
    const std::int64_t sizeAfterRead = platform::currentSize(file.get());
    const std::int64_t wholeSize = static_cast<std::int64_t>(kHeaderSize) + check.bodyBytes;
    if (bodyBytes < bodySize || sizeAfterRead < wholeSize) {
        const std::int64_t bodyLeft = std::max<std::int64_t>(sizeAfterRead - kHeaderSize, 0);
        bytesRead = static_cast<std::int32_t>(std::min<std::int64_t>(bodyBytes, bodyLeft));
        spareBlock().keep(std::move(block));
        return kBodyIncomplete;
    }

    std::unique_ptr<VoxelBlock> previous;
    {
        const std::lock_guard<std::mutex> lock(loadMutex_);
        previous.reset(block_.exchange(block.release(), std::memory_order_seq_cst));
        channelCount_.store(check.channelCount, std::memory_order_release);
        readerguard::waitForReaders();
    }
    if (previous) spareBlock().keep(std::move(previous));
    bytesRead = static_cast<std::int32_t>(bodySize);
    return check.channelCount;
}

VoxelSample VoxelVolume::voxelAt(std::int32_t x, std::int32_t y, std::int32_t z) const {
    const readerguard::Scope reading;
    const VoxelBlock* block = block_.load(std::memory_order_acquire);
    return block ? samplerkernels::decodeRecord(recordAt(*block, x, y, z), block->channelCount)
                 : kTransparentBlack;
}

VoxelSample VoxelVolume::lerpSample(const VoxelSample& a, const VoxelSample& b, float t) {
    return samplerkernels::lerpSamples(a, b, t);
}
