// Pictures of a volume made through the Voxlum plug-in itself: the module is loaded into the
// stand-in host and asked for its colour at every pixel's point, exactly as a renderer would.
#pragma once

#include <array>
#include <functional>
#include <string>

enum class RenderView {
    kSlice,   // the plane z = depth across one period of the texture
    kSphere,  // a lit sphere around the unit cube's centre, over a checker background
    kTiles,   // the plane z = depth across 3 x 3 periods, where seams would show
};

// Row-major 4 x 4, applied to points as row vectors (translation in the fourth row).
using Matrix4 = std::array<float, 16>;

struct RenderOptions {
    std::string volumePath;
    std::string outputPath;
    std::string pluginPath;
    int width = 512;
    int height = 512;
    RenderView view = RenderView::kSphere;
    float depth = 0.5f;
    Matrix4 placement = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    // Straight from the voxel store's batch sampler instead of through the plug-in: the same
    // picture, byte for byte, in a fraction of the time.
    bool direct = false;
    // Echo the host's messages, such as the plug-in's, as its script editor shows them.
    bool hostMessages = true;
};

// The placementMatrix for a texture placed with `scale`, then rotated by `rotateDegrees` about
// x, y and z in turn, then moved by `translate`: the inverse of that placement, which carries
// world points into texture space.
Matrix4 placementFor(float scale, const std::array<float, 3>& rotateDegrees,
                     const std::array<float, 3>& translate);

// Renders to options.outputPath (any format OpenImageIO writes, chosen by extension).
// `progress` is called with the fraction done after each row. Throws FormatError.
void renderVolume(const RenderOptions& options, const std::function<void(double)>& progress);
