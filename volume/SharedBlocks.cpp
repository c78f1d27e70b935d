#include "SharedBlocks.h"

#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <utility>

namespace sharedblocks {
namespace {

// One retired block kept for the next load of any store. Allocators map blocks this large
// afresh (Windows' heap always, glibc above its mapping threshold), and a fresh block costs a
// page fault and a zeroed page per 4 KiB; a load into the spare writes into memory already
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

    std::size_t bytes() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return block_ ? block_->capacity : 0;
    }

  private:
    std::mutex mutex_;
    std::unique_ptr<VoxelBlock> block_;
};

SpareBlock& spareBlock() {
    static SpareBlock spare;
    return spare;
}

// The installed blocks by key. Uses are counted under the lock, so a block found here cannot be
// retired while a load takes a use of it.
class Registry {
  public:
    bool find(std::uint64_t key, Candidates& candidates) {
        const std::lock_guard<std::mutex> lock(mutex_);
        candidates.installedBefore = installed_;
        const auto [first, last] = blocks_.equal_range(key);
        try {
            for (auto entry = first; entry != last; ++entry)
                candidates.blocks.push_back(entry->second);
        } catch (const std::bad_alloc&) {
            candidates.blocks.clear();
            return false;
        }
        for (VoxelBlock* block : candidates.blocks) ++block->users;
        return true;
    }

    // The installed block with the bytes of `block` and the same key, installed after
    // `installedBefore`, with a use taken; otherwise `block` installed. Null if the registry
    // has no memory left for it.
    VoxelBlock* install(VoxelBlock* block, std::uint64_t key, std::uint64_t installedBefore) {
        const std::lock_guard<std::mutex> lock(mutex_);
        const std::size_t bodyBytes = bodySize(*block);
        const auto [first, last] = blocks_.equal_range(key);
        for (auto entry = first; entry != last; ++entry) {
            VoxelBlock* const held = entry->second;
            if (held->installNumber > installedBefore &&
                held->channelCount == block->channelCount &&
                std::memcmp(held->bytes.get(), block->bytes.get(), bodyBytes) == 0) {
                ++held->users;
                return held;
            }
        }
        try {
            blocks_.emplace(key, block);
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
        block->contentKey = key;
        block->installNumber = ++installed_;
        block->users = 1;
        bytes_ += block->capacity;
        return block;
    }

    void addUse(VoxelBlock* block) {
        const std::lock_guard<std::mutex> lock(mutex_);
        ++block->users;
    }

    // True when that was the last use: the block is then no longer installed.
    bool release(VoxelBlock* block) {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (--block->users != 0) return false;
        const auto [first, last] = blocks_.equal_range(block->contentKey);
        for (auto entry = first; entry != last; ++entry) {
            if (entry->second == block) {
                blocks_.erase(entry);
                break;
            }
        }
        bytes_ -= block->capacity;
        return true;
    }

    Usage usage() {
        const std::lock_guard<std::mutex> lock(mutex_);
        Usage usage;
        usage.blocks = blocks_.size();
        usage.bytes = bytes_;
        return usage;
    }

  private:
    static std::size_t bodySize(const VoxelBlock& block) {
        return static_cast<std::size_t>(kVolumeGridSize) * kVolumeGridSize * kVolumeGridSize *
               static_cast<std::size_t>(block.channelCount);
    }

    std::mutex mutex_;
    std::multimap<std::uint64_t, VoxelBlock*> blocks_;
    std::uint64_t installed_ = 0;
    std::size_t bytes_ = 0;
};

Registry& registry() {
    static Registry instance;
    return instance;
}

}  // namespace

std::uint64_t contentKey(const unsigned char* bytes, std::size_t count, std::int32_t channelCount) {
    // FNV-1a over 64-bit words: a multiply per word, enough to tell volumes apart.
    constexpr std::uint64_t kPrime = 0x100000001b3;
    std::uint64_t hash = 0xcbf29ce484222325 ^ static_cast<std::uint32_t>(channelCount);
    std::size_t i = 0;
    for (; i + sizeof(std::uint64_t) <= count; i += sizeof(std::uint64_t)) {
        std::uint64_t word;
        std::memcpy(&word, bytes + i, sizeof word);
        hash = (hash ^ word) * kPrime;
    }
    for (; i < count; ++i) hash = (hash ^ bytes[i]) * kPrime;
    return hash;
}

bool findCandidates(std::uint64_t key, Candidates& candidates) {
    return registry().find(key, candidates);
}

VoxelBlock* install(std::unique_ptr<VoxelBlock> block, std::uint64_t key,
                    std::uint64_t installedBefore) {
    VoxelBlock* const installed = registry().install(block.get(), key, installedBefore);
    if (installed == block.get()) return block.release();
    giveBack(std::move(block));
    return installed;
}

void addUse(VoxelBlock* block) { registry().addUse(block); }

void release(VoxelBlock* block) {
    if (registry().release(block)) spareBlock().keep(std::unique_ptr<VoxelBlock>(block));
}

std::unique_ptr<VoxelBlock> takeBlock(std::size_t bytes) {
    std::unique_ptr<VoxelBlock> block = spareBlock().take(bytes);
    if (block) return block;
    block.reset(new (std::nothrow) VoxelBlock{0, nullptr, nullptr, nullptr, bytes, 0, 0, 0});
    if (block) block->bytes.reset(new (std::nothrow) unsigned char[bytes]);
    if (!block || !block->bytes) return nullptr;
    return block;
}

void giveBack(std::unique_ptr<VoxelBlock> block) { spareBlock().keep(std::move(block)); }

Usage usage() {
    Usage usage = registry().usage();
    usage.spareBytes = spareBlock().bytes();
    return usage;
}

}  // namespace sharedblocks
