// Loading the 8 MiB volume file into the store against reading the same file with one plain
// fread: into one buffer that already exists, alternately into two (the least a loader pays that
// keeps the block in use readable until the new one is complete: the buffer it writes is never
// the one it wrote last, so it is not the one still in cache), and into a new buffer each time.
// All read from the page cache.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "BenchSupport.h"

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

}  // namespace

void bench::registerLoadBenchmarks() {
    benchmark::RegisterBenchmark("load/plainFread", plainRead, 1)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("load/plainFreadTwoBuffers", plainRead, 2)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("load/plainFreadNewBuffer", plainReadIntoNewBuffer)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("load/loadVolumeFile", loadVolumeFile)
        ->Unit(benchmark::kMicrosecond);
}
