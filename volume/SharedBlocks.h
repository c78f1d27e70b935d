// The voxel blocks of every store in the process, shared by content: stores whose files hold
// the same records use one block. Internal to the volume library; tests include it to count
// what the process holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "VoxelVolume.h"

namespace sharedblocks {

// A cheap hash of a body's first bytes and its record size. It only finds candidates: every
// candidate is confirmed byte for byte before it is used, so a collision costs a comparison,
// never a wrong volume.
std::uint64_t contentKey(const unsigned char* bytes, std::size_t count, std::int32_t channelCount);

// The installed blocks under one key, each with a use taken for the caller, and the mark that
// tells blocks installed later from these.
struct Candidates {
    std::vector<VoxelBlock*> blocks;
    std::uint64_t installedBefore = 0;
};
// False only when memory for the list is exhausted.
bool findCandidates(std::uint64_t key, Candidates& candidates);

// Installs `block`, whose bytes and kernel are complete, and returns it with one use. If a block
// with the same key and bytes was installed since `installedBefore` (a load of the same voxels
// on another thread), that one is used instead and `block` is given back.
VoxelBlock* install(std::unique_ptr<VoxelBlock> block, std::uint64_t key,
                    std::uint64_t installedBefore);

// Takes one more use of an installed block.
void addUse(VoxelBlock* block);
// Drops one use; the last one retires the block. Callers must make sure no sampler can still
// read the block through them.
void release(VoxelBlock* block);

// A block to fill with at least `bytes`: the spare if it fits, otherwise fresh memory; null if
// none can be had.
std::unique_ptr<VoxelBlock> takeBlock(std::size_t bytes);
// Keeps a block that no one reads (a failed load's) as the spare.
void giveBack(std::unique_ptr<VoxelBlock> block);

// What the process holds: installed blocks and their bytes, and the spare's bytes.
struct Usage {
    std::size_t blocks = 0;
    std::size_t bytes = 0;
    std::size_t spareBytes = 0;
};
Usage usage();

}  // namespace sharedblocks
