// The Voxlum node's colour at many points at once, straight from the voxel store's batch
// sampler: no host, no plug-in, for fast previews. The plug-in path stays the reference, and
// these colours equal its bit for bit.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "Render.h"
#include "VoxelVolume.h"

class DirectTexture {
  public:
    // Loads `volumePath` as the node would; throws FormatError when the store refuses it.
    DirectTexture(const std::string& volumePath, const Matrix4& placement);

    // samples[i] is the node's outColor and outAlpha at world point points[i].
    void sample(const std::vector<std::array<float, 3>>& points,
                std::vector<VoxelSample>& samples) const;

  private:
    VoxelVolume store_;
    Matrix4 placement_;
};
