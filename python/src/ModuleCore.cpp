#include "ModuleCore.h"

#include <algorithm>
#include <cstring>

#include "VolumeFormat.h"
#include "VolumeWriter.h"

namespace voxlumpy {

namespace {

// The node's words for a file it refuses, as node/Voxlum.cpp puts them together with the host's
// string type; the host appends a whole count given as a double without a fraction.
std::string loadErrorMessage(VolumeLoadResult result, std::int32_t bytesRead) {
    switch (result) {
        case volformat::kOpenFailed:
            return "Opening file failed.";
        case volformat::kBodyIncomplete:
            return "Reading file failed. Bytes read: " + std::to_string(bytesRead);
        case volformat::kAllocationFailed:
            return "Allocating memory failed.";
        case volformat::kHeaderIncomplete:
            return "Reading file header failed. Bytes read: " + std::to_string(bytesRead);
        default:
            return "Unknown error.";
    }
}

// The node loads only names that end in ".vol", in that case.
bool hasVolumeName(const std::string& path) {
    const std::string extension = ".vol";
    return path.size() >= extension.size() &&
           path.compare(path.size() - extension.size(), extension.size(), extension) == 0;
}

}  // namespace

LoadedVolume::LoadedVolume(const std::string& path) {
    if (!hasVolumeName(path)) {
        throw VolumeRefusal(std::nullopt, "The texture file must be a volume texture (.vol).");
    }
    std::int32_t bytesRead = 0;
    const VolumeLoadResult result = store_.loadVolumeFile(path.c_str(), bytesRead);
    if (result < 0) throw VolumeRefusal(result, loadErrorMessage(result, bytesRead));
}

void LoadedVolume::sample(std::size_t count, const TexturePoint* points,
                          const PlacementMatrix* placement, VoxelSample* samples) const {
    if (placement == nullptr) {
        store_.sampleTrilinearBatch(count, points, samples);
        return;
    }
    // Placed a run at a time, so that the placed points are still in the cache when sampled.
    constexpr std::size_t kRunLength = 1024;
    TexturePoint placed[kRunLength];
    for (std::size_t first = 0; first < count; first += kRunLength) {
        const std::size_t length = std::min(kRunLength, count - first);
        for (std::size_t i = 0; i < length; ++i) {
            const TexturePoint& point = points[first + i];
            placed[i] = placePoint(*placement, point.u, point.v, point.w);
        }
        store_.sampleTrilinearBatch(length, placed, samples + first);
    }
}

void writeVolume(const std::string& path, int channels, const unsigned char* records) {
    VoxelGrid grid(channels);
    std::memcpy(grid.record(0, 0, 0), records, grid.bytes().size());
    writeVolumeFile(path, grid);
}

void bytesFromUnitValues(std::size_t count, const float* values, unsigned char* bytes) {
    std::transform(values, values + count, bytes, unitToByte<float>);
}

}  // namespace voxlumpy
