// The C++ side of the `voxlum` Python module, free of Python types so that the tests can hold
// it against the node in the stand-in host: volumes read through the node's loader, refused as
// the node refuses them, and sampled with the store's batch kernels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include "TexturePlacement.h"
#include "VoxelVolume.h"

namespace voxlumpy {

// A volume file the node refuses: the loader's code (none when the name is refused before any
// load) and, as the message, the error line the node shows in the host.
class VolumeRefusal : public std::runtime_error {
  public:
    VolumeRefusal(std::optional<VolumeLoadResult> code, const std::string& nodeMessage)
        : std::runtime_error(nodeMessage), code_(code) {}

    const std::optional<VolumeLoadResult>& code() const { return code_; }

  private:
    std::optional<VolumeLoadResult> code_;
};

// One volume read from a file, as a Voxlum node whose file attribute names it holds it.
class LoadedVolume {
  public:
    // Reads `path` as the node does when its file attribute is set; throws VolumeRefusal.
    explicit LoadedVolume(const std::string& path);

    std::int32_t channels() const { return store_.channelCount(); }

    // 128^3 records of channels() bytes, x fastest, valid for as long as this volume lives.
    const unsigned char* records() const { return store_.records(); }

    // samples[i] is the node's outColor and outAlpha at points[i]: texture coordinates, or
    // world points when `placement` is given, placed as the node places them. Any number of
    // threads may sample at once.
    void sample(std::size_t count, const TexturePoint* points, const PlacementMatrix* placement,
                VoxelSample* samples) const;

  private:
    VoxelVolume store_;
};

// Writes 128^3 records of `channels` bytes (3 or 4), x fastest, to `path` as the voxlum tool
// writes volumes: the file appears whole or not at all. Throws FormatError.
void writeVolume(const std::string& path, int channels, const unsigned char* records);

// The bytes `voxlum convert` makes of values whose range [0, 1] maps to 0..255: each value times
// 255, rounded to nearest and clamped, NaN to 0.
void bytesFromUnitValues(std::size_t count, const float* values, unsigned char* bytes);

}  // namespace voxlumpy
