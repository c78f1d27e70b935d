// Files the hostile tests load: two known volumes, files the loader must refuse, and helpers for
// links, FIFOs and reading the node's outputs.
#pragma once

#include <voxlumhost/Host.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ReferenceSampler.h"
#include "VolumeFiles.h"

namespace hostile {

// The volumes behind rgb.vol and rgba.vol in every scene.
const reference::Volume& rgbVolume();
const reference::Volume& rgbaVolume();

class Scene {
  public:
    Scene();
    ~Scene();
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;

    std::filesystem::path file(const std::string& name) const { return folder_.file(name); }
    std::string rgbPath() const { return file("rgb.vol").string(); }
    std::string rgbaPath() const { return file("rgba.vol").string(); }
    // Files that fail to load, each for another reason: a cut body, a wrong magic, a folder, a
    // FIFO and a missing file.
    std::vector<std::string> refusedPaths() const;

    std::string link(const std::string& name, const std::filesystem::path& target) const;
    // Another name for rgba.vol.
    std::string rgbaUnder(const std::filesystem::path& path) const;
    // A FIFO; with `writer`, one held open for writing with bytes waiting in it.
    std::string fifo(const std::string& name, bool writer);

  private:
    testfiles::ScratchFolder folder_;
    std::vector<int> descriptors_;
};

// outColor and outAlpha of the node, as one sample.
VoxelSample outputsOf(mayahost::Node* node);

}  // namespace hostile
