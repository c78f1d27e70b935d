// A GoogleTest assertion for samples that must agree to the last bit.
#pragma once

#include <gtest/gtest.h>

#include "ReferenceSampler.h"

inline ::testing::AssertionResult bitsEqual(const VoxelSample& actual,
                                            const VoxelSample& expected) {
    if (reference::sameBits(actual, expected)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << std::hexfloat << "got (" << actual.r << ", " << actual.g << ", " << actual.b << ", "
           << actual.a << ") expected (" << expected.r << ", " << expected.g << ", " << expected.b
           << ", " << expected.a << ")";
}
