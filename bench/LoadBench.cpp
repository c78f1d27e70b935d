// Loading the 8 MiB volume file into the store against reading the same file with one plain
// fread, into a buffer that already exists and into a new one each time as the store must (the
// block in use stays readable until the new one is complete). All read from the page cache.
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

void plainRead(benchmark::State& state) {
    const std::string& path = bench::volumeFilePath();
    std::vector<unsigned char> buffer(kBufferSize);
    std::size_t bytes = readWholeFile(path.c_str(), buffer.data());
    for (auto _ : state) {
        bytes = readWholeFile(path.c_str(), buffer.data());
        benchmark::DoNotOptimize(buffer.data());
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

void loadVolumeFile(benchmark::State& state) {
    const std::string& path = bench::volumeFilePath();
    std::vector<unsigned char> warm(kBufferSize);
    readWholeFile(path.c_str(), warm.data());
    VoxelVolume store;
    std::int32_t bytesRead = 0;
    for (auto _ : state) {
        if (store.loadVolumeFile(path.c_str(), bytesRead) != bench::kChannels) std::abort();
    }
    state.SetBytesProcessed(state.iterations() * bytesRead);
}

}  // namespace

void bench::registerLoadBenchmarks() {
    benchmark::RegisterBenchmark("load/plainFread", plainRead)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("load/plainFreadNewBuffer", plainReadIntoNewBuffer)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("load/loadVolumeFile", loadVolumeFile)
        ->Unit(benchmark::kMicrosecond);
}
