// What every benchmark samples: one 128^3 RGBA volume, as a loaded store and as raw records,
// and two point patterns over it.
#pragma once

#include <benchmark/benchmark.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ReferenceSampler.h"
#include "VoxelVolume.h"

namespace bench {

constexpr std::int32_t kChannels = 4;

using Point = std::array<float, 3>;

enum class Pattern {
    coherent,  // a plane slicing the volume at an angle, visited row by row as a render would
    random,    // uniform over the unit cube: every sample lands on a cold cache line
};
const char* patternName(Pattern pattern);
const std::vector<Point>& points(Pattern pattern);

// The voxels in the reference's form; the body carries the padding the store gives a block.
const reference::Volume& volume();

// A store loaded from the volume file.
const VoxelVolume& loadedStore();

// The volume as a ".vol" file of 8 MiB plus its header.
const std::string& volumeFilePath();

// Samples the pattern in batches, from a different starting point on every thread, and reports
// samples per second plus the time per sample ("per_sample").
template <typename Sample>
void samplePoints(benchmark::State& state, Pattern pattern, Sample&& sample) {
    constexpr std::size_t kBatch = 4096;
    const std::vector<Point>& patternPoints = points(pattern);
    std::size_t next = static_cast<std::size_t>(state.thread_index()) * patternPoints.size() / 2;
    for (auto _ : state) {
        for (std::size_t i = next; i < next + kBatch; ++i) {
            const Point& p = patternPoints[i];
            benchmark::DoNotOptimize(sample(p[0], p[1], p[2]));
        }
        next = (next + kBatch) % patternPoints.size();
    }
    const auto samples = static_cast<double>(state.iterations()) * kBatch;
    state.SetItemsProcessed(static_cast<std::int64_t>(samples));
    state.counters["per_sample"] =
        benchmark::Counter(samples, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Registers one benchmark per sampling pattern, named "<name>/<pattern>".
template <typename Function>
void registerForPatterns(const std::string& name, Function function) {
    for (Pattern pattern : {Pattern::coherent, Pattern::random}) {
        benchmark::RegisterBenchmark(
            (name + "/" + patternName(pattern)).c_str(),
            [function, pattern](benchmark::State& state) { function(state, pattern); });
    }
}

// The Voxlum node through the host, where the build has the stand-in host: set pointWorld,
// read outColor.
void registerNodeBenchmarks();

// Every batch kernel at several batch sizes, and the store's batch entry point.
void registerBatchBenchmarks();

// Loading the volume file against a plain read of it.
void registerLoadBenchmarks();

// OpenVDB and NanoVDB samplers over the same voxels, where the build has them.
void registerLibraryBaselines();

}  // namespace bench
