// voxlum_bench: the store's sampler, each kernel it can choose from, the batch kernels, the
// plain transcription of the algorithm and the library baselines, all in one run so their ratios
// are comparable.
#include <deque>
#include <functional>

#include "BenchSupport.h"
#include "GuardedKernel.h"

namespace {

using bench::Pattern;

// The store's own entry point, reader guard included, with the kernel it picked.
void sampleTrilinear(benchmark::State& state, Pattern pattern) {
    const VoxelVolume& store = bench::loadedStore();
    bench::samplePoints(state, pattern, [&store](float u, float v, float w) {
        return store.sampleTrilinear(u, v, w);
    });
}

void guardedKernel(benchmark::State& state, Pattern pattern, const bench::GuardedKernel& kernel) {
    bench::samplePoints(state, pattern, std::cref(kernel));
}

void transcription(benchmark::State& state, Pattern pattern) {
    const reference::Volume& volume = bench::volume();
    bench::samplePoints(state, pattern, [&volume](float u, float v, float w) {
        return reference::sampleTrilinear(volume, u, v, w);
    });
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    for (Pattern pattern : {Pattern::coherent, Pattern::random}) {
        const std::string name = std::string("sampleTrilinear/") + bench::patternName(pattern);
        benchmark::RegisterBenchmark(name.c_str(), sampleTrilinear, pattern)
            ->Threads(1)
            ->Threads(2)
            ->UseRealTime();
    }
    std::deque<bench::GuardedKernel> kernels;
    for (const samplerkernels::Kernel& kernel : samplerkernels::usableKernels()) {
        const bench::GuardedKernel& guarded = kernels.emplace_back(
            kernel.forRecordSize(bench::kChannels), bench::volume().body.data(), bench::kChannels);
        bench::registerForPatterns(std::string("kernel/") + kernel.name,
                                   [&guarded](benchmark::State& state, Pattern pattern) {
                                       guardedKernel(state, pattern, guarded);
                                   });
    }
    bench::registerForPatterns("transcription", transcription);
    bench::registerBatchBenchmarks();
#ifdef VOXLUM_BENCH_LIBRARY_BASELINES
    bench::registerLibraryBaselines();
#endif
#ifdef VOXLUM_BENCH_NODE
    bench::registerNodeBenchmarks();
#endif
    bench::registerLoadBenchmarks();

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
