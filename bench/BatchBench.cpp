// The batch path: every batch kernel this processor runs, at batch sizes from a renderer's
// small shading grids to whole rows of a picture, with the store's work per batch around it;
// and the store's own batch entry point on one and two threads.
#include <atomic>
#include <deque>
#include <string>
#include <vector>

#include "BatchKernels.h"
#include "BenchSupport.h"
#include "ReaderGuard.h"

namespace {

using bench::Pattern;

// A pattern's points as columns, as the batch entry points take them.
struct PointColumns {
    std::vector<float> u;
    std::vector<float> v;
    std::vector<float> w;
};

const PointColumns& columns(Pattern pattern) {
    static const auto split = [](const std::vector<bench::Point>& points) {
        PointColumns out;
        for (const bench::Point& p : points) {
            out.u.push_back(p[0]);
            out.v.push_back(p[1]);
            out.w.push_back(p[2]);
        }
        return out;
    };
    static const PointColumns coherent = split(bench::points(Pattern::coherent));
    static const PointColumns random = split(bench::points(Pattern::random));
    return pattern == Pattern::coherent ? coherent : random;
}

// Samples 4096 points of the pattern per iteration, `batchSize` at a time through `sampleBatch`
// (count, u, v, w, r, g, b, a), from a different starting point on every thread; reports the
// time per sample as samplePoints does.
template <typename SampleBatch>
void sampleInBatches(benchmark::State& state, Pattern pattern, std::size_t batchSize,
                     SampleBatch&& sampleBatch) {
    constexpr std::size_t kPerIteration = 4096;
    const PointColumns& points = columns(pattern);
    std::vector<float> samples[4];
    for (auto& column : samples) column.resize(kPerIteration);
    std::size_t next = static_cast<std::size_t>(state.thread_index()) * points.u.size() / 2;
    for (auto _ : state) {
        for (std::size_t done = 0; done < kPerIteration; done += batchSize) {
            const std::size_t first = next + done;
            sampleBatch(batchSize, &points.u[first], &points.v[first], &points.w[first],
                        &samples[0][done], &samples[1][done], &samples[2][done], &samples[3][done]);
        }
        benchmark::DoNotOptimize(samples[0].data());
        benchmark::ClobberMemory();
        next = (next + kPerIteration) % points.u.size();
    }
    const auto count = static_cast<double>(state.iterations()) * kPerIteration;
    state.SetItemsProcessed(static_cast<std::int64_t>(count));
    state.counters["per_sample"] =
        benchmark::Counter(count, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// A batch kernel with the store's work per batch around it: the reader guard, the block lookup
// and the indirect call.
class GuardedBatchKernel {
  public:
    GuardedBatchKernel(batchkernels::BatchFunction kernel, const unsigned char* records)
        : kernel_(kernel), records_(records) {}

    void operator()(std::size_t count, const float* u, const float* v, const float* w, float* r,
                    float* g, float* b, float* a) const {
        const readerguard::Scope reading;
        kernel_(records_.load(std::memory_order_acquire), bench::kChannels, count, u, v, w, r, g, b,
                a);
    }

  private:
    batchkernels::BatchFunction kernel_;
    std::atomic<const unsigned char*> records_;
};

constexpr std::size_t kBatchSizes[] = {16, 64, 4096};

const std::vector<TexturePoint>& texturePoints(Pattern pattern) {
    static const auto convert = [](const std::vector<bench::Point>& points) {
        std::vector<TexturePoint> out;
        for (const bench::Point& p : points) out.push_back({p[0], p[1], p[2]});
        return out;
    };
    static const std::vector<TexturePoint> coherent = convert(bench::points(Pattern::coherent));
    static const std::vector<TexturePoint> random = convert(bench::points(Pattern::random));
    return pattern == Pattern::coherent ? coherent : random;
}

// A whole pattern in one call of the store's interleaved entry point, as the Python module's
// Volume.sample makes it (bench/python_sample.py times that on the same volume and points).
void sampleWholePattern(benchmark::State& state, Pattern pattern) {
    const VoxelVolume& store = bench::loadedStore();
    const std::vector<TexturePoint>& points = texturePoints(pattern);
    std::vector<VoxelSample> samples(points.size());
    for (auto _ : state) {
        store.sampleTrilinearBatch(points.size(), points.data(), samples.data());
        benchmark::DoNotOptimize(samples.data());
        benchmark::ClobberMemory();
    }
    const auto count = static_cast<double>(state.iterations()) * static_cast<double>(points.size());
    state.SetItemsProcessed(static_cast<std::int64_t>(count));
    state.counters["per_sample"] =
        benchmark::Counter(count, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

}  // namespace

namespace bench {

void registerBatchBenchmarks() {
    static std::deque<GuardedBatchKernel> kernels;
    for (const batchkernels::BatchKernel& kernel : batchkernels::usableBatchKernels()) {
        const GuardedBatchKernel& guarded =
            kernels.emplace_back(kernel.forRecordSize(kChannels), volume().body.data());
        for (std::size_t batchSize : kBatchSizes) {
            registerForPatterns(
                "batch/" + std::string(kernel.name) + "/" + std::to_string(batchSize),
                [&guarded, batchSize](benchmark::State& state, Pattern pattern) {
                    sampleInBatches(state, pattern, batchSize, guarded);
                });
        }
    }
    // The store's entry point, kernel chosen at load, on one and two threads sharing the store.
    for (Pattern pattern : {Pattern::coherent, Pattern::random}) {
        const std::string name = std::string("sampleTrilinearBatch/64/") + patternName(pattern);
        benchmark::RegisterBenchmark(
            name.c_str(),
            [pattern](benchmark::State& state) {
                const VoxelVolume& store = loadedStore();
                sampleInBatches(state, pattern, 64,
                                [&store](std::size_t count, const float* u, const float* v,
                                         const float* w, float* r, float* g, float* b, float* a) {
                                    store.sampleTrilinearBatch(count, u, v, w, r, g, b, a);
                                });
            })
            ->Threads(1)
            ->Threads(2)
            ->UseRealTime();
        benchmark::RegisterBenchmark(
            (std::string("sampleTrilinearBatch/interleaved/") + patternName(pattern)).c_str(),
            [pattern](benchmark::State& state) { sampleWholePattern(state, pattern); })
            ->Threads(1)
            ->Threads(2)
            ->UseRealTime();
    }
}

}  // namespace bench
