#include "GridOptions.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <map>

#include "FormatError.h"

namespace {

const std::map<std::string, std::vector<int>> kChannelNames{{"r", {kRed}},
                                                            {"g", {kGreen}},
                                                            {"b", {kBlue}},
                                                            {"a", {kAlpha}},
                                                            {"rgb", {kRed, kGreen, kBlue}}};

const std::vector<int>& channelsNamed(const std::string& option, const std::string& name) {
    const auto found = kChannelNames.find(name);
    if (found == kChannelNames.end())
        throw OptionError(option, "unknown channel \"" + name + "\" (expected r, g, b, a or rgb)");
    return found->second;
}

// A finite number that is the whole of `word`.
bool parseNumber(const std::string& word, double& value) {
    const char* end = word.data() + word.size();
    const auto [stop, error] = std::from_chars(word.data(), end, value);
    return error == std::errc() && stop == end && std::isfinite(value);
}

std::array<double, 6> sixNumbers(const std::string& option, const std::vector<std::string>& words,
                                 const std::string& expected) {
    std::array<double, 6> numbers{};
    if (words.size() != numbers.size()) throw OptionError(option, "expected " + expected);
    for (std::size_t i = 0; i < numbers.size(); ++i)
        if (!parseNumber(words[i], numbers[i]))
            throw OptionError(option, "\"" + words[i] + "\" is not a number; expected " + expected);
    return numbers;
}

}  // namespace

GridSelection parseGridSelection(const std::vector<std::string>& values) {
    GridSelection selection;
    std::array<bool, kRgbaChannels> taken{};
    for (const std::string& value : values) {
        const std::size_t equals = value.find('=');
        if (equals == std::string::npos) {
            if (!selection.lone.empty() || !selection.map.empty())
                throw OptionError("--grid " + value,
                                  "a single grid NAME cannot go with other --grid values; map "
                                  "several grids as CHANNEL=NAME");
            if (value.empty()) throw OptionError("--grid", "the grid name is empty");
            selection.lone = value;
            continue;
        }
        const std::string channel = value.substr(0, equals);
        GridMapping mapping{channelsNamed("--grid " + value, channel), value.substr(equals + 1),
                            channel == "rgb"};
        if (!selection.lone.empty())
            throw OptionError("--grid " + value,
                              "a channel map cannot go with a single grid NAME; map that one "
                              "too, as CHANNEL=NAME");
        if (mapping.grid.empty()) throw OptionError("--grid " + value, "the grid name is empty");
        for (int c : mapping.channels) {
            if (taken[std::size_t(c)])
                throw OptionError("--grid " + value,
                                  "channel " + std::string(1, "rgba"[c]) + " is mapped twice");
            taken[std::size_t(c)] = true;
        }
        selection.map.push_back(std::move(mapping));
    }
    return selection;
}

WorldBox WorldBox::nothing() {
    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    return {{kInfinity, kInfinity, kInfinity}, {-kInfinity, -kInfinity, -kInfinity}};
}

WorldBox WorldBox::united(const WorldBox& other) const {
    WorldBox box;
    for (std::size_t axis = 0; axis < 3; ++axis) {
        box.min[axis] = std::min(min[axis], other.min[axis]);
        box.max[axis] = std::max(max[axis], other.max[axis]);
    }
    return box;
}

BoundsChoice parseBounds(const std::vector<std::string>& words) {
    BoundsChoice bounds;
    if (words.size() == 1 && words[0] == "union") {
        bounds.kind = BoundsChoice::Kind::kUnion;
        return bounds;
    }
    if (words.size() == 1 && words[0] == "domain") {
        bounds.kind = BoundsChoice::Kind::kDomain;
        return bounds;
    }
    const std::array<double, 6> numbers =
        sixNumbers("--bounds", words, "union, domain or X0 Y0 Z0 X1 Y1 Z1");
    bounds.kind = BoundsChoice::Kind::kWorld;
    for (std::size_t axis = 0; axis < 3; ++axis) {
        bounds.world.min[axis] = numbers[axis];
        bounds.world.max[axis] = numbers[axis + 3];
        if (!(numbers[axis + 3] > numbers[axis]))
            throw OptionError("--bounds", "each maximum must be above its minimum (" +
                                              std::string(1, "xyz"[axis]) + ": " + words[axis] +
                                              " to " + words[axis + 3] + ")");
    }
    return bounds;
}

BoundsChoice parseIndexBounds(const std::vector<std::string>& words) {
    const std::array<double, 6> numbers =
        sixNumbers("--index-bounds", words, "I0 J0 K0 I1 J1 K1, whole numbers");
    constexpr double kLimit = 1 << 30;
    BoundsChoice bounds;
    bounds.kind = BoundsChoice::Kind::kIndex;
    for (std::size_t axis = 0; axis < 3; ++axis) {
        for (const std::size_t i : {axis, axis + 3})
            if (numbers[i] != std::floor(numbers[i]) || std::abs(numbers[i]) > kLimit)
                throw OptionError("--index-bounds", "\"" + words[i] +
                                                        "\" is not a voxel index (a whole "
                                                        "number within ±2^30)");
        bounds.firstIndex[axis] = std::int32_t(numbers[axis]);
        bounds.lastIndex[axis] = std::int32_t(numbers[axis + 3]);
        if (bounds.lastIndex[axis] < bounds.firstIndex[axis])
            throw OptionError("--index-bounds", "each last index must be at least its first (" +
                                                    std::string(1, "ijk"[axis]) + ": " +
                                                    words[axis] + " to " + words[axis + 3] + ")");
    }
    return bounds;
}

ChannelRanges parseRanges(const std::vector<std::vector<std::string>>& occurrences) {
    ChannelRanges ranges{};
    for (const std::vector<std::string>& words : occurrences) {
        std::string text;
        for (const std::string& word : words) text += (text.empty() ? "" : " ") + word;
        const std::string option = "--range " + text;
        if (words.empty() || words.size() > 2) throw OptionError(option, "expected LO HI or auto");
        std::string first = words[0];
        std::vector<int> channels{kRed, kGreen, kBlue, kAlpha};
        const std::size_t equals = first.find('=');
        if (equals != std::string::npos) {
            channels = channelsNamed(option, first.substr(0, equals));
            first = first.substr(equals + 1);
        }
        ValueRange range;
        if (first == "auto" && words.size() == 1) {
            range.automatic = true;
        } else if (words.size() != 2 || !parseNumber(first, range.low) ||
                   !parseNumber(words[1], range.high)) {
            throw OptionError(option, "expected LO HI (two numbers) or auto");
        } else if (!(range.high > range.low)) {
            throw OptionError(option, "HI must be above LO");
        }
        for (int c : channels) ranges[std::size_t(c)] = range;
    }
    return ranges;
}

namespace {

template <typename Number>
std::string shortest(Number value) {
    char digits[32];
    return std::string(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

}  // namespace

std::string shortestText(double value) { return shortest(value); }
std::string shortestText(float value) { return shortest(value); }

std::string formatBox(const WorldBox& box) {
    std::string text;
    for (const std::array<double, 3>* corner : {&box.min, &box.max})
        for (double value : *corner) text += (text.empty() ? "" : " ") + shortestText(value);
    return text;
}
