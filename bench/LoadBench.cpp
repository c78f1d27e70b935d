// Loading the 8 MiB volume file into the store against reading the same file with one plain
// fread: into one buffer that already exists, alternately into two (the least a loader pays that
// keeps the block in use readable until the new one is complete: the buffer it writes is never
// the one it wrote last, so it is not the one still in cache), and into a new buffer each time.
// All read from the page cache. Loads of voxels some store already holds and of voxels none
// holds are timed apart, and the memory that many stores hold is counted.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "BenchSupport.h"
#include "SharedBlocks.h"
#include "VolumeFiles.h"

namespace {

constexpr std::size_t kBufferSize = std::size_t{16} << 20;

std::size_t readWholeFile(const char* path, unsigned char* buffer) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) std::abort();
    const std::size_t bytes = std::fread(buffer, 1, kBufferSize, file);
    std::fclose(file);
    return bytes;
}

// Reads into `bufferCount` existing buffers in turn.
void plainRead(benchmark::State& state, std::size_t bufferCount) {
    const std::string& path = bench::volumeFilePath();
    std::vector<std::vector<unsigned char>> buffers(bufferCount,
                                                    std::vector<unsigned char>(kBufferSize));
    std::size_t bytes = 0;
    for (auto& buffer : buffers) bytes = readWholeFile(path.c_str(), buffer.data());
    std::size_t next = 0;
    for (auto _ : state) {
        bytes = readWholeFile(path.c_str(), buffers[next].data());
        benchmark::DoNotOptimize(buffers[next].data());
        next = (next + 1) % bufferCount;
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes));
}

void plainReadIntoNewBuffer(benchmark::State& state) {
    const std::string& path = bench::volumeFilePath();
    std::unique_ptr<unsigned char[]> previous(new unsigned char[kBufferSize]);
    std::size_t bytes = readWholeFile(path.c_str(), previous.get());
    for (auto _ : state) {
        std::unique_ptr<unsigned char[]> buffer(new unsigned char[kBufferSize]);
        bytes = readWholeFile(path.c_str(), buffer.get());
        previous = std::move(buffer);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes));
}

// The store reloads as it does when the file attribute is set again: one volume is in use
// before the first timed load.
void loadVolumeFile(benchmark::State& state) {
    const std::string& path = bench::volumeFilePath();
    VoxelVolume store;
    std::int32_t bytesRead = 0;
    if (store.loadVolumeFile(path.c_str(), bytesRead) != bench::kChannels) std::abort();
    for (auto _ : state) {
        if (store.loadVolumeFile(path.c_str(), bytesRead) != bench::kChannels) std::abort();
    }
    state.SetBytesProcessed(state.iterations() * bytesRead);
}

// Files of distinct voxels beside the benchmark volume, for loads of voxels no store holds.
const std::vector<std::string>& distinctFiles() {
    static const testfiles::ScratchFolder folder;
    static const std::vector<std::string> paths = [] {
        std::vector<std::string> written = {bench::volumeFilePath()};
        for (std::uint32_t seed = 1001; written.size() < 10; ++seed) {
            written.push_back(folder.file("distinct" + std::to_string(seed) + ".vol").string());
            testfiles::writeBytes(written.back(),
                                  testfiles::volumeBytes({}, testfiles::randomBody(4, seed)));
        }
        return written;
    }();
    return paths;
}

void load(VoxelVolume& store, const std::string& path) {
    std::int32_t bytesRead = 0;
    if (store.loadVolumeFile(path.c_str(), bytesRead) != bench::kChannels) std::abort();
}

// The timed store loads voxels another store holds already: it reads and compares, and keeps
// the other store's block.
void loadHeldVoxels(benchmark::State& state) {
    const std::string& path = bench::volumeFilePath();
    VoxelVolume holder;
    VoxelVolume store;
    load(holder, path);
    load(store, distinctFiles()[1]);
    for (auto _ : state) load(store, path);
    state.SetBytesProcessed(state.iterations() * bench::kChannels * 128 * 128 * 128);
}

// The timed store alternates between two files whose voxels no other store holds, so every load
// fills a block of its own (the spare its previous volume left).
void loadNewVoxels(benchmark::State& state) {
    const std::vector<std::string>& files = distinctFiles();
    VoxelVolume store;
    load(store, files[0]);
    std::size_t next = 1;
    for (auto _ : state) {
        load(store, files[next]);
        next ^= 1;
    }
    state.SetBytesProcessed(state.iterations() * bench::kChannels * 128 * 128 * 128);
}

long residentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string field; status >> field;) {
        long kib = 0;
        if (field == "VmRSS:" && status >> kib) return kib;
    }
    return 0;
}

// Resident memory that `stores` stores add when they load `files` distinct files in turn, and
// the blocks the process holds for them. One iteration: the figure is a size, not a time.
void storesHold(benchmark::State& state) {
    const auto storeCount = static_cast<std::size_t>(state.range(0));
    const auto fileCount = static_cast<std::size_t>(state.range(1));
    for (auto _ : state) {
#if defined(__GLIBC__)
        ::malloc_trim(0);
#endif
        const long before = residentKiB();
        std::vector<std::unique_ptr<VoxelVolume>> stores;
        for (std::size_t i = 0; i < storeCount; ++i) {
            stores.push_back(std::make_unique<VoxelVolume>());
            load(*stores.back(), distinctFiles()[i % fileCount]);
        }
        const sharedblocks::Usage held = sharedblocks::usage();
        state.counters["resident_MiB"] = static_cast<double>(residentKiB() - before) / 1024;
        state.counters["blocks"] = static_cast<double>(held.blocks);
        state.counters["held_MiB"] = static_cast<double>(held.bytes + held.spareBytes) / (1 << 20);
    }
}

}  // namespace

void bench::registerLoadBenchmarks() {
    benchmark::RegisterBenchmark("load/heldVoxels", loadHeldVoxels)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("load/newVoxels", loadNewVoxels)->Unit(benchmark::kMicrosecond);
    for (const int files : {1, 10}) {
        for (const int stores : {1, 10, 100, 1000}) {
            benchmark::RegisterBenchmark("memory/stores", storesHold)
                ->Args({stores, files})
                ->ArgNames({"stores", "files"})
                ->Iterations(1)
                ->Repetitions(1)
                ->Unit(benchmark::kMillisecond);
        }
    }
    benchmark::RegisterBenchmark("load/plainFread", plainRead, 1)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("load/plainFreadTwoBuffers", plainRead, 2)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("load/plainFreadNewBuffer", plainReadIntoNewBuffer)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("load/loadVolumeFile", loadVolumeFile)
        ->Unit(benchmark::kMicrosecond);
}
