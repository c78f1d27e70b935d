// How the grids of an OpenVDB cache become a volume: which grid feeds which channel, the box of
// space converted, and the values that map to bytes 0 and 255. Parsed from the command line's
// words; every malformed value is a OptionError naming its option.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "VolumeWriter.h"

// "--grid CHANNEL=NAME": `rgb` takes a vector grid's three components, the others one float
// grid each.
struct GridMapping {
    std::vector<int> channels;
    std::string grid;
    bool vector = false;
};

// What --grid says: nothing (the file's own grids decide), one NAME, or a channel map.
struct GridSelection {
    std::string lone;
    std::vector<GridMapping> map;

    bool empty() const { return lone.empty() && map.empty(); }
};

// Each value of --grid, in the order given: either a single NAME or CHANNEL=NAME entries, each
// channel at most once.
GridSelection parseGridSelection(const std::vector<std::string>& values);

// An axis-aligned box of world space, from its cells' outer edges.
struct WorldBox {
    std::array<double, 3> min{};
    std::array<double, 3> max{};

    // The smallest box holding both; an empty box (min above max) holds nothing.
    WorldBox united(const WorldBox& other) const;
    bool empty() const { return !(min[0] <= max[0] && min[1] <= max[1] && min[2] <= max[2]); }
    static WorldBox nothing();
};

// The box a conversion covers.
struct BoundsChoice {
    enum class Kind {
        kActive,  // each file its own grids' active voxels
        kUnion,   // the active voxels of every listed frame together
        kWorld,   // a box in world units
        kIndex,   // a box of voxel indices, first and last inclusive
        kDomain,  // the simulation domain the file's metadata names
    };
    Kind kind = Kind::kActive;
    WorldBox world;
    std::array<std::int32_t, 3> firstIndex{};
    std::array<std::int32_t, 3> lastIndex{};
};

// --bounds: "union", "domain" or six numbers X0 Y0 Z0 X1 Y1 Z1, each maximum above its minimum.
BoundsChoice parseBounds(const std::vector<std::string>& words);
// --index-bounds: six integers I0 J0 K0 I1 J1 K1, each last index at least its first.
BoundsChoice parseIndexBounds(const std::vector<std::string>& words);

// The source values that map to bytes 0 and 255, or `automatic`: the lowest and highest values
// the listed frames hold.
struct ValueRange {
    double low = 0.0;
    double high = 1.0;
    bool automatic = false;
};

using ChannelRanges = std::array<ValueRange, kRgbaChannels>;

// Each occurrence of --range, in order: "LO HI", "auto", "CHANNEL=LO HI" or "CHANNEL=auto",
// CHANNEL one of r, g, b, a or rgb; a later occurrence overrides an earlier one's channels.
// Channels no occurrence names keep [0, 1].
ChannelRanges parseRanges(const std::vector<std::vector<std::string>>& occurrences);

// The shortest text that reads back as exactly `value`, so that a box printed by one run and
// given to another as --bounds is the same box.
std::string shortestText(double value);
std::string shortestText(float value);

// "X0 Y0 Z0 X1 Y1 Z1", each number as shortestText gives it.
std::string formatBox(const WorldBox& box);
