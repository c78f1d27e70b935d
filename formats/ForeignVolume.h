// The other ".vol" grid format that renderers in the Mitsuba family read, little-endian:
//
//   bytes 0-2   "VOL"
//   byte  3     version, 3
//   int32       encoding: 1 = float32 (the only one converted here), 2 = float16, 3 = uint8,
//               4 = quantized
//   int32 x3    resolution x, y, z
//   int32       channels per voxel (1 = density, 3 = colour, 4 = colour and alpha)
//   float32 x6  bounding box: min x, y, z, then max x, y, z
//   then xres * yres * zres * channels values, channels interleaved, x fastest, then y, z.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Resample.h"

constexpr std::size_t kForeignHeaderSize = 48;
constexpr std::int32_t kForeignFloat32Encoding = 1;

struct ForeignGridHeader {
    std::int32_t encoding = 0;
    std::array<std::int32_t, 3> resolution{0, 0, 0};
    std::int32_t channels = 0;
    std::array<float, 6> bounds{};
};

// True when `bytes` start with the signature "VOL" followed by version 3.
bool hasForeignGridSignature(const unsigned char* bytes, std::size_t size);

// The header of a file that has the signature; throws FormatError naming `path` when the
// header is cut short.
ForeignGridHeader readForeignGridHeader(const std::string& path,
                                        const std::vector<unsigned char>& bytes);

// The values of a float32 grid of 1, 3 or 4 channels, mapped from [0, 1] to the 0..255 scale;
// throws FormatError for other encodings and for missing data.
Lattice readForeignGrid(const std::string& path, const std::vector<unsigned char>& bytes);
