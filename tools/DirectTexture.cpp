#include "DirectTexture.h"

#include "ToolError.h"

DirectTexture::DirectTexture(const std::string& volumePath, const Matrix4& placement)
    : placement_(placement) {
    std::int32_t bytesRead = 0;
    const VolumeLoadResult loaded = store_.loadVolumeFile(volumePath.c_str(), bytesRead);
    if (loaded < 0) {
        throw ToolError(volumePath, "the volume store refuses it (code " + std::to_string(loaded) +
                                        "); voxlum info " + volumePath + " says why");
    }
}

void DirectTexture::sample(const std::vector<std::array<float, 3>>& points,
                           std::vector<VoxelSample>& samples) const {
    // The node's placement: the point as a row vector (x, y, z, 1) times the matrix, in float
    // and in the same order, so the sums round alike.
    const auto at = [this](int row, int column) {
        return placement_[std::size_t(row * 4 + column)];
    };
    std::vector<TexturePoint> placed(points.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        const auto& [x, y, z] = points[i];
        float out[3];
        for (int column = 0; column < 3; ++column) {
            out[column] =
                x * at(0, column) + y * at(1, column) + z * at(2, column) + 1.0f * at(3, column);
        }
        // The node folds coordinates into [0, 1] before sampling; the store's own wrap gives
        // the same coordinate for every float, so the placed point goes to it as it is.
        placed[i] = {out[0], out[1], out[2]};
    }
    samples.resize(points.size());
    store_.sampleTrilinearBatch(placed.size(), placed.data(), samples.data());
}
