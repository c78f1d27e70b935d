// `voxlum compare`: how far apart two volumes are, for regression tests of converted volumes.
#pragma once

#include <cstdint>
#include <string>

#include "Console.h"

struct CompareOptions {
    std::string first;
    std::string second;
    // The largest difference of a byte that still counts as equal.
    int tolerance = 0;
    // How many voxels may differ by more than `tolerance`.
    std::uint64_t toleratedVoxels = 0;
};

// Reads both as `convert` would make them into RGBA volumes (a missing alpha is 255, as the
// node takes it), prints the per-channel largest difference and count of differing voxels,
// and returns kExitSuccess within tolerance, kExitOverTolerance otherwise. Throws ToolError
// for an input it cannot read.
int compareVolumes(const CompareOptions& options, const Verbosity& verbosity);
