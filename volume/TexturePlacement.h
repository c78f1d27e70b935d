// World points placed in texture space as the Voxlum node places them, for callers that sample
// the store directly and must give the node's colours bit for bit.
#pragma once

#include <array>

#include "VoxelVolume.h"

// A 4x4 placement matrix, row by row: points are row vectors, the translation is the last row.
using PlacementMatrix = std::array<float, 16>;

// The point as a row vector (x, y, z, 1) times the matrix, in float and in the node's order, so
// the sums round alike. The node folds the result into [0, 1] before sampling; the store's own
// wrap gives the same coordinate for every float, so the placed point goes to it as it is.
inline TexturePoint placePoint(const PlacementMatrix& matrix, float x, float y, float z) {
    float placed[3];
    for (std::size_t column = 0; column < 3; ++column) {
        placed[column] = x * matrix[column] + y * matrix[4 + column] + z * matrix[8 + column] +
                         1.0f * matrix[12 + column];
    }
    return {placed[0], placed[1], placed[2]};
}
