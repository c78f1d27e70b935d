// Samples COUNT points with one sampler and nothing else worth counting, so that running it
// under callgrind with two counts gives the instructions of one sample as the difference of
// the totals over the difference of the counts.
// The node sampler sets pointWorld and reads outColor of a Voxlum node through the host; the
// shading sampler does the same through a renderer's shading context; "batch-<kernel name>"
// samples the same points 64 at a time through that batch kernel, one reader scope per call.
//   voxlum_sample_driver store|node|shading|transcription|<kernel>|bare-<kernel>|batch-<kernel>
//   COUNT
#ifdef VOXLUM_BENCH_NODE
#include <maya/MFloatVector.h>
#include <voxlumhost/Host.h>
#endif

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "BatchKernels.h"
#include "GuardedKernel.h"
#include "ReferenceSampler.h"
#include "VolumeFiles.h"

namespace {

constexpr std::int32_t kChannels = 4;
constexpr const char* kBarePrefix = "bare-";
constexpr const char* kBatchPrefix = "batch-";
constexpr std::size_t kPointCount = std::size_t{1} << 16;

std::vector<std::array<float, 3>> randomPoints() {
    std::mt19937 generator(11);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::vector<std::array<float, 3>> points(kPointCount);
    for (auto& p : points) p = {unit(generator), unit(generator), unit(generator)};
    return points;
}

template <typename Sample>
float sampleMany(std::size_t count, Sample&& sample) {
    const std::vector<std::array<float, 3>> points = randomPoints();
    // Every channel is used, so no part of a sampler can be optimised away.
    float total = 0.0f;
    for (std::size_t i = 0; i < count; ++i) {
        const auto& p = points[i % kPointCount];
        const VoxelSample s = sample(p[0], p[1], p[2]);
        total += (s.r + s.g) + (s.b + s.a);
    }
    return total;
}

// The same points as sampleMany, 64 at a time as columns through a batch kernel.
float sampleBatches(std::size_t count, batchkernels::BatchFunction kernel,
                    const unsigned char* records) {
    constexpr std::size_t kBatch = 64;
    static_assert(kPointCount % kBatch == 0, "batches never straddle the end of the points");
    const std::vector<std::array<float, 3>> points = randomPoints();
    std::vector<float> columns[3];
    for (int axis = 0; axis < 3; ++axis) {
        for (const auto& p : points) columns[axis].push_back(p[axis]);
    }
    float samples[4][kBatch];
    float total = 0.0f;
    for (std::size_t done = 0; done < count; done += kBatch) {
        const std::size_t first = done % kPointCount;
        {
            const readerguard::Scope reading;
            kernel(records, kChannels, kBatch, &columns[0][first], &columns[1][first],
                   &columns[2][first], samples[0], samples[1], samples[2], samples[3]);
        }
        for (std::size_t i = 0; i < kBatch; ++i) {
            total += (samples[0][i] + samples[1][i]) + (samples[2][i] + samples[3][i]);
        }
    }
    return total;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(
            stderr,
            "usage: %s store|node|shading|transcription|KERNEL|bare-KERNEL|batch-KERNEL COUNT\n",
            argv[0]);
        return 2;
    }
    const char* sampler = argv[1];
    const std::size_t count = std::strtoull(argv[2], nullptr, 10);
    const std::vector<unsigned char> body = testfiles::randomBody(kChannels, 7);
    reference::Volume volume{body, kChannels};
    volume.body.resize(volume.body.size() + samplerkernels::kTrailingPadding, 0);

    float total = 0.0f;
    if (std::strcmp(sampler, "transcription") == 0) {
        total = sampleMany(count, [&volume](float u, float v, float w) {
            return reference::sampleTrilinear(volume, u, v, w);
        });
    } else if (std::strcmp(sampler, "store") == 0) {
        testfiles::ScratchFolder folder;
        const std::string path = folder.file("driver.vol").string();
        testfiles::writeBytes(path, testfiles::volumeBytes({}, body));
        VoxelVolume store;
        std::int32_t bytesRead = 0;
        if (store.loadVolumeFile(path.c_str(), bytesRead) != kChannels) return 1;
        total = sampleMany(
            count, [&store](float u, float v, float w) { return store.sampleTrilinear(u, v, w); });
#ifdef VOXLUM_BENCH_NODE
    } else if (std::strcmp(sampler, "node") == 0 || std::strcmp(sampler, "shading") == 0) {
        testfiles::ScratchFolder folder;
        const std::string path = folder.file("driver.vol").string();
        testfiles::writeBytes(path, testfiles::volumeBytes({}, body));
        mayahost::setConsoleEcho(false);
        mayahost::Node* node = nullptr;
        mayahost::AttributeHandle pointWorld, outColor;
        mayahost::ShadingContext context;
        if (!mayahost::loadPlugin(VOXLUM_PLUGIN_PATH) || !mayahost::createNode("Voxlum", node) ||
            !mayahost::setString(node, "fileTextureName", path) ||
            !mayahost::findAttribute(node, "pointWorld", pointWorld) ||
            !mayahost::findAttribute(node, "outColor", outColor) || !context.attach(node))
            return 1;
        MFloatVector color;
        if (std::strcmp(sampler, "node") == 0) {
            total = sampleMany(count, [&](float x, float y, float z) {
                mayahost::setFloat3(node, pointWorld, x, y, z);
                mayahost::getFloat3(node, outColor, color);
                return VoxelSample{color.x, color.y, color.z, 0.0f};
            });
        } else {
            total = sampleMany(count, [&](float x, float y, float z) {
                context.setFloat3(pointWorld, x, y, z);
                context.getFloat3(outColor, color);
                return VoxelSample{color.x, color.y, color.z, 0.0f};
            });
        }
#endif
    } else if (std::strncmp(sampler, kBatchPrefix, std::strlen(kBatchPrefix)) == 0) {
        const char* kernelName = sampler + std::strlen(kBatchPrefix);
        const batchkernels::BatchKernel* chosen = nullptr;
        for (const batchkernels::BatchKernel& kernel : batchkernels::usableBatchKernels()) {
            if (std::strcmp(kernel.name, kernelName) == 0) chosen = &kernel;
        }
        if (chosen == nullptr) {
            std::fprintf(stderr, "%s: no usable batch kernel named %s\n", argv[0], kernelName);
            return 2;
        }
        volume.body.resize(volume.body.size() + batchkernels::kTrailingPadding, 0);
        total = sampleBatches(count, chosen->forRecordSize(kChannels), volume.body.data());
    } else {
        // "bare-KERNEL" calls the kernel alone; "KERNEL" wraps it in the store's per-sample work.
        const bool bare = std::strncmp(sampler, kBarePrefix, std::strlen(kBarePrefix)) == 0;
        const char* kernelName = bare ? sampler + std::strlen(kBarePrefix) : sampler;
        const samplerkernels::Kernel* chosen = nullptr;
        for (const samplerkernels::Kernel& kernel : samplerkernels::usableKernels()) {
            if (std::strcmp(kernel.name, kernelName) == 0) chosen = &kernel;
        }
        if (chosen == nullptr) {
            std::fprintf(stderr, "%s: no usable sampler named %s\n", argv[0], sampler);
            return 2;
        }
        const samplerkernels::SampleFunction sample = chosen->forRecordSize(kChannels);
        if (bare) {
            const unsigned char* records = volume.body.data();
            total = sampleMany(count, [sample, records](float u, float v, float w) {
                return sample(records, kChannels, u, v, w);
            });
        } else {
            const bench::GuardedKernel guarded(sample, volume.body.data(), kChannels);
            total = sampleMany(count, std::cref(guarded));
        }
    }
    std::printf("%s: %zu samples, channel total %g\n", sampler, count, double(total));
    return 0;
}
