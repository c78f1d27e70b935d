#include "DirectTexture.h"

#include "FormatError.h"
#include "TexturePlacement.h"

DirectTexture::DirectTexture(const std::string& volumePath, const Matrix4& placement)
    : placement_(placement) {
    std::int32_t bytesRead = 0;
    const VolumeLoadResult loaded = store_.loadVolumeFile(volumePath.c_str(), bytesRead);
    if (loaded < 0) {
        throw FormatError(volumePath, "the volume store refuses it (code " +
                                          std::to_string(loaded) + "); voxlum info " + volumePath +
                                          " says why");
    }
}

void DirectTexture::sample(const std::vector<std::array<float, 3>>& points,
                           std::vector<VoxelSample>& samples) const {
    std::vector<TexturePoint> placed(points.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        const auto& [x, y, z] = points[i];
        placed[i] = placePoint(placement_, x, y, z);
    }
    samples.resize(points.size());
    store_.sampleTrilinearBatch(placed.size(), placed.data(), samples.data());
}
