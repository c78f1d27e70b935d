// The batch sampling algorithm, written once over a group of lanes: each instruction set says
// how it locates a group of points, fetches and decodes their records and blends in double, and
// this file turns that into batch functions. The arithmetic is the per-point kernels', step by
// step, so every sample has their bits.
#pragma once

#include <cstddef>
#include <cstdint>

#include "BatchKernels.h"

namespace batchkernels {

// Each kernel file compiles this with its own instruction-set flags, so nothing here may have
// external linkage: the linker could otherwise keep an AVX-512 copy of a function for everyone.
namespace {

// byte / 255 rounded to float, computed in float as byte * high + byte * low with the sum
// rounded once by a fused multiply-add: exact for every byte, with no table to gather from.
constexpr float kReciprocalHigh = static_cast<float>(1.0 / 255.0);
constexpr float kReciprocalLow = static_cast<float>(1.0 / 255.0 - kReciprocalHigh);

constexpr bool fusedDecodingIsExact() {
    for (int i = 0; i < 256; ++i) {
        const float byte = static_cast<float>(i);
        // byte * high is exact in double and the sum spans under 53 bits, so the fused
        // multiply-add's one rounding is this conversion.
        const double sum = static_cast<double>(byte) * kReciprocalHigh + byte * kReciprocalLow;
        if (static_cast<float>(sum) != static_cast<float>(i / 255.0)) return false;
    }
    return true;
}
static_assert(fusedDecodingIsExact(), "decoding bytes with a fused multiply-add must stay exact");

// Where blendChannels finds each unit's lower and upper records of a row, decoded to doubles:
// `forChannel(channel)` prepares a channel once, then `decode(unit, row, lower, upper)` gives the
// records at x0 and x1 of every point. Here each point's records were fetched for it.
template <class Part, int kChannels, int kUnits>
struct FetchedCorners {
    typename Part::Row rows[kUnits][4];

    struct Channel {
        const typename Part::Row (*rows)[4];
        int channel;
        void decode(int unit, int row, typename Part::Double& lower,
                    typename Part::Double& upper) const {
            Part::template decode<kChannels>(rows[unit][row], channel, lower, upper);
        }
    };
    Channel forChannel(int channel) const { return {rows, channel}; }
};

// The blends of kUnits sets of Lanes::kWidth points, each from its cell and the corner records
// `corners` gives, worked side by side so that their chains of dependent operations overlap;
// unit i's samples go `stride` floats after unit 0's. kNormalRounding: no blend along x or y can
// give a nonzero value below the smallest normal float, so Lanes::roundNormal rounds each to
// float as a conversion would.
template <class Lanes, int kChannels, bool kNormalRounding, int kUnits, class Corners>
inline void blendChannels(const typename Lanes::Cell* cells, const Corners& corners,
                          float* const* samples, std::size_t stride) {
    using Double = typename Lanes::Double;
    const auto round = [](const Double& value) {
        return kNormalRounding ? Lanes::roundNormal(value) : Lanes::round(value);
    };
    // An RGB record's alpha is 1, and every blend of 1 with 1 is 1 again: 1 - t rounds so that
    // (1 - t) + t rounds back to 1.
    constexpr int kBlendedChannels = kChannels == 3 ? 3 : 4;
    // Unrolled, so that GCC's scheduling interleaves the channels' independent chains.
#pragma GCC unroll 4
    for (int channel = 0; channel < kBlendedChannels; ++channel) {
        const auto channelCorners = corners.forChannel(channel);
        Double alongX[kUnits][4];
        for (int row = 0; row < 4; ++row) {
            for (int unit = 0; unit < kUnits; ++unit) {
                const typename Lanes::Cell& cell = cells[unit];
                Double lower;
                Double upper;
                channelCorners.decode(unit, row, lower, upper);
                alongX[unit][row] =
                    round(Lanes::blend(lower, upper, cell.fraction[0], cell.complement[0]));
            }
        }
        for (int unit = 0; unit < kUnits; ++unit) {
            const typename Lanes::Cell& cell = cells[unit];
            const Double* x = alongX[unit];
            const Double nearZ =
                round(Lanes::blend(x[0], x[1], cell.fraction[1], cell.complement[1]));
            const Double farZ =
                round(Lanes::blend(x[2], x[3], cell.fraction[1], cell.complement[1]));
            Lanes::store(samples[channel] + std::size_t(unit) * stride,
                         Lanes::blend(nearZ, farZ, cell.fraction[2], cell.complement[2]));
        }
    }
    if (kChannels == 3) {
        for (int unit = 0; unit < kUnits; ++unit) {
            for (std::size_t i = 0; i < Lanes::kWidth; ++i)
                samples[3][std::size_t(unit) * stride + i] = 1.0f;
        }
    }
}

// Blends kGroups groups of located points in Lanes::kParts parts of Lanes::Part::kWidth points,
// so that a part's values fit the registers at hand; `partCorners(part)` gives a part's corner
// records (see FetchedCorners).
template <class Lanes, int kChannels, int kGroups, class PartCorners>
__attribute__((always_inline)) inline void blendParts(const typename Lanes::Cell* cells,
                                                      float* const* samples,
                                                      const PartCorners& partCorners) {
    using Part = typename Lanes::Part;
    int tinyWeightBits = 0;
    for (int group = 0; group < kGroups; ++group) tinyWeightBits |= cells[group].at.tinyWeightBits;
        // Unrolled like the channels, so that parts' chains interleave too.
#pragma GCC unroll 2
    for (int part = 0; part < Lanes::kParts; ++part) {
        typename Part::Cell partCells[kGroups];
        for (int group = 0; group < kGroups; ++group)
            partCells[group] = Lanes::partCell(cells[group], part);
        const auto corners = partCorners(part);
        const std::size_t first = std::size_t(part) * Part::kWidth;
        float* const partSamples[4] = {samples[0] + first, samples[1] + first, samples[2] + first,
                                       samples[3] + first};
        if (tinyWeightBits == 0) {
            blendChannels<Part, kChannels, true, kGroups>(partCells, corners, partSamples,
                                                          Lanes::kWidth);
        } else {
            blendChannels<Part, kChannels, false, kGroups>(partCells, corners, partSamples,
                                                           Lanes::kWidth);
        }
    }
}

// kGroups consecutive groups of Lanes::kWidth points each. Lanes gives Cell (where the points'
// corner records lie and their weights t and 1 - t along x, y and z) and Row (the records of one
// of the four rows (y0, z0), (y1, z0), (y0, z1), (y1, z1) at x0 and x1); Part gives Double (a
// double per point) and its own Cell and Row. Where Lanes::kNearbyCorners, groups whose cells
// lie close together read their records from one small neighbourhood instead of fetching them
// per point: Lanes::gatherNearby reads it and gives its layout, 1 or 2 as Lanes defines them, or
// 0 where the points lie too far apart. kChannels is the record size, or 0 for any size given at
// run time. Inlined always: called out of line, the groups' vectors would pass through memory.
template <class Lanes, int kChannels, int kGroups>
__attribute__((always_inline)) inline void sampleGroups(const unsigned char* records,
                                                        std::int32_t channelCount, const float* u,
                                                        const float* v, const float* w,
                                                        float* const* samples) {
    using Part = typename Lanes::Part;
    typename Lanes::Cell cells[kGroups];
    for (int group = 0; group < kGroups; ++group) {
        const std::size_t first = std::size_t(group) * Lanes::kWidth;
        cells[group] = Lanes::locate(u + first, v + first, w + first);
    }
    if constexpr (Lanes::kNearbyCorners && kChannels != 0) {
        typename Lanes::template Nearby<kGroups> nearby;
        switch (Lanes::template gatherNearby<kChannels>(records, cells, nearby)) {
            case 1:
                return blendParts<Lanes, kChannels, kGroups>(cells, samples, [&](int part) {
                    return Lanes::template nearbyCorners<kChannels, 1>(nearby, part);
                });
            case 2:
                return blendParts<Lanes, kChannels, kGroups>(cells, samples, [&](int part) {
                    return Lanes::template nearbyCorners<kChannels, 2>(nearby, part);
                });
            default:
                break;
        }
    }
    typename Lanes::Row rows[kGroups][4];
    for (int group = 0; group < kGroups; ++group) {
        for (int row = 0; row < 4; ++row) {
            rows[group][row] =
                Lanes::template fetch<kChannels>(records, channelCount, cells[group], row);
        }
    }
    blendParts<Lanes, kChannels, kGroups>(cells, samples, [&](int part) {
        FetchedCorners<Part, kChannels, kGroups> corners;
        for (int group = 0; group < kGroups; ++group) {
            for (int row = 0; row < 4; ++row)
                corners.rows[group][row] = Lanes::partRow(rows[group][row], part);
        }
        return corners;
    });
}

template <class Lanes, int kChannels>
void sampleBatch(const unsigned char* records, std::int32_t channelCount, std::size_t count,
                 const float* u, const float* v, const float* w, float* r, float* g, float* b,
                 float* a) {
    constexpr std::size_t kWidth = Lanes::kWidth;
    constexpr std::size_t kGroupsWidth = Lanes::kGroups * kWidth;
    std::size_t first = 0;
    for (; first + kGroupsWidth <= count; first += kGroupsWidth) {
        float* const samples[4] = {r + first, g + first, b + first, a + first};
        sampleGroups<Lanes, kChannels, Lanes::kGroups>(records, channelCount, u + first, v + first,
                                                       w + first, samples);
    }
    for (; first + kWidth <= count; first += kWidth) {
        float* const samples[4] = {r + first, g + first, b + first, a + first};
        sampleGroups<Lanes, kChannels, 1>(records, channelCount, u + first, v + first, w + first,
                                          samples);
    }
    const std::size_t left = count - first;
    if (left == 0) return;
    // The last few points go through a whole group of columns, padded with the point (0, 0, 0).
    float points[3][kWidth] = {};
    float columns[4][kWidth];
    for (std::size_t i = 0; i < left; ++i) {
        points[0][i] = u[first + i];
        points[1][i] = v[first + i];
        points[2][i] = w[first + i];
    }
    float* const samples[4] = {columns[0], columns[1], columns[2], columns[3]};
    sampleGroups<Lanes, kChannels, 1>(records, channelCount, points[0], points[1], points[2],
                                      samples);
    for (std::size_t i = 0; i < left; ++i) {
        r[first + i] = columns[0][i];
        g[first + i] = columns[1][i];
        b[first + i] = columns[2][i];
        a[first + i] = columns[3][i];
    }
}

// RGB and RGBA records, the usual sizes, get functions of their own with constant strides.
template <class Lanes>
BatchFunction batchForRecordSize(std::int32_t channelCount) {
    switch (channelCount) {
        case 3:
            return sampleBatch<Lanes, 3>;
        case 4:
            return sampleBatch<Lanes, 4>;
        default:
            return sampleBatch<Lanes, 0>;
    }
}

}  // namespace

}  // namespace batchkernels
