// Procedural volumes. Voxel k of an axis sits at coordinate k / 128 and the sampler wraps
// index 128 back to 0, so every pattern except the gradient is built with a period of 128
// voxels and tiles space without a seam.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "VolumeWriter.h"

enum class Pattern {
    kCloud,     // fractal value noise: grey shaded by density, density in alpha
    kMarble,    // noise-perturbed bands along x
    kChecker,   // 3D checker board of `cells` cells per unit
    kGradient,  // red = round(255 x / 127), green likewise along y, blue along z; no tiling
};

struct PatternOptions {
    Pattern pattern = Pattern::kCloud;
    int channels = 4;
    std::uint32_t seed = 1;
    // Checker cells per unit along each axis; even, so the cells alternate across the seam.
    int cells = 4;
    // Noise lattice cells per unit of the coarsest octave (cloud, marble).
    int frequency = 4;
};

// The names patterns go by: cloud, marble, checker, gradient.
const std::map<std::string, Pattern>& patternNames();

// Throws OptionError ("--channels", "--cells", "--frequency") for options out of range: channels
// 3 or 4, cells even from 2 to 128, frequency 1 to 8.
VoxelGrid makePattern(const PatternOptions& options);
