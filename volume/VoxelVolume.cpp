#include "VoxelVolume.h"

#include <algorithm>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

#include "BatchKernels.h"
#include "ReaderGuard.h"
#include "SamplerKernels.h"
#include "VolumeFormat.h"

#ifdef _WIN32
#include <share.h>
#include <sys/stat.h>
#include <sys/types.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#endif

static_assert(std::is_same_v<decltype(VoxelBlock::sample), samplerkernels::SampleFunction>,
              "a block holds a kernel");
static_assert(std::is_same_v<decltype(VoxelBlock::sampleBatch), batchkernels::BatchFunction>,
              "a block holds a batch kernel");

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
    std::unique_ptr<VoxelBlock> block(new (std::nothrow)
                                          VoxelBlock{0, nullptr, nullptr, nullptr, capacity});
    if (block) block->bytes.reset(new (std::nothrow) unsigned char[capacity]);
    if (!block || !block->bytes) return nullptr;
    return block;
}

constexpr std::int32_t kIndexMask = kVolumeGridSize - 1;

// Bytes after the body that kernels may read.
constexpr std::size_t kTrailingPadding =
    std::max(samplerkernels::kTrailingPadding, batchkernels::kTrailingPadding);

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// The size of the open file now, or -1 if it cannot be told.
std::int64_t currentSize(std::FILE* file) {
#ifdef _WIN32
    struct _stat64 info;
    return _fstat64(_fileno(file), &info) == 0 ? info.st_size : -1;
#else
    struct stat info;
    return ::fstat(::fileno(file), &info) == 0 ? info.st_size : -1;
#endif
}

// Opens `path` for binary reading only if it names a regular file, and reports its size.
// Directories, FIFOs, consoles and devices are refused before anything is read from them,
// so a scene naming one can neither block nor stream endless bytes into the loader.
FileHandle openRegularFile(const char* path, std::int64_t& size) {
#ifdef _WIN32
    std::FILE* raw = nullptr;
    if (fopen_s(&raw, path, "rb") != 0 || raw == nullptr) return nullptr;
    FileHandle file(raw);
    struct _stat64 info;
    if (_fstat64(_fileno(raw), &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG) return nullptr;
#else
    // Opening some devices already does something (a terminal may become the controlling
    // one), so non-regular files are refused by name first; fstat below catches a swap.
    struct stat named;
    if (::stat(path, &named) != 0 || !S_ISREG(named.st_mode)) return nullptr;
    // O_NONBLOCK keeps the open of a FIFO without a writer from waiting forever.
    const int descriptor = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0) return nullptr;
    struct stat info;
    if (::fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(descriptor);
        return nullptr;
    }
    FileHandle file(::fdopen(descriptor, "rb"));
    if (!file) {
        ::close(descriptor);
        return nullptr;
    }
#endif
    size = info.st_size;
    return file;
}

#ifdef _WIN32
// The log file is created (or emptied) when a store opens it, and never written. It is opened
// without sharing, so while one store holds it, other stores go without. The sharing mode is
// explicit: fopen_s denies sharing only in Microsoft's runtime, not in every msvcrt.
std::FILE* openLogStream() { return _fsopen("C:\\temp\\volume-log.txt", "wt", _SH_DENYRW); }

void closeLogStream(std::FILE* stream) { std::fclose(stream); }
#else
// As on Windows, one store at a time holds the log and the others go without; a scene of many
// nodes must not hold a descriptor per node.
std::atomic<bool> logStreamHeld{false};

std::FILE* openLogStream() {
    if (logStreamHeld.exchange(true)) return nullptr;
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::temp_directory_path(error);
    // The folder is shared with other users: never follow a link planted under that name.
    const int descriptor =
        error ? -1
              : ::open((folder / "volume-log.txt").c_str(),
                       O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    std::FILE* stream = descriptor < 0 ? nullptr : ::fdopen(descriptor, "w");
    if (stream == nullptr) {
        if (descriptor >= 0) ::close(descriptor);
        logStreamHeld = false;
    }
    return stream;
}

void closeLogStream(std::FILE* stream) {
    std::fclose(stream);
    logStreamHeld = false;
}
#endif

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

VoxelVolume::VoxelVolume() : logStream_(openLogStream()) {}

VoxelVolume::~VoxelVolume() {
    delete block_.load();
    if (logStream_ != nullptr) closeLogStream(logStream_);
}

VolumeLoadResult VoxelVolume::loadVolumeFile(const char* path, std::int32_t& bytesRead) {
    using namespace volformat;
    if (path == nullptr) return kOpenFailed;
    std::int64_t fileSize = 0;
    const FileHandle file = openRegularFile(path, fileSize);
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
    const std::size_t blockSize = bodySize + kTrailingPadding;
    std::unique_ptr<VoxelBlock> block = spareBlock().take(blockSize);
    if (!block) block = allocateBlock(blockSize);
    if (!block) return kAllocationFailed;
    block->channelCount = check.channelCount;
    block->sample = samplerkernels::fastestKernel(check.channelCount);
    block->sampleBatch = batchkernels::fastestBatchKernel(check.channelCount);
    // A reused block still holds its previous volume's bytes past this body.
    std::fill_n(block->bytes.get() + bodySize, kTrailingPadding, 0);

    // The file may have shrunk since its size was taken. A cut that lands while the body is
    // read can hand the reader zeros instead of the bytes that were there, so the size is
    // checked again afterwards: only a file still whole vouches for what was read.
    const std::size_t bodyBytes = std::fread(block->bytes.get(), 1, bodySize, file.get());
    const std::int64_t sizeAfterRead = currentSize(file.get());
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
