#include "Banner.h"

const char kVoxlumCredits[] =
    "Written by the Voxlum developers\n"
    "For look-development artists who light, shade and render with volumes";

namespace {

// "VOXLUM" in five rows; each '#' is drawn as the stroke "_/".
// clang-format off
const char* const kLettering[] = {
    "#   #   ###   #   #  #      #   #  #   #",
    "#   #  #   #   # #   #      #   #  ## ##",
    "#   #  #   #    #    #      #   #  # # #",
    " # #   #   #   # #   #      #   #  #   #",
    "  #     ###   #   #  #####   ###   #   #",
};
// clang-format on

std::string padded(std::string line) {
    line.resize(kBannerWidth, ' ');
    return line;
}

std::string drawn(const char* row) {
    std::string line = "    ";
    for (const char* cell = row; *cell != '\0'; ++cell) line += *cell == '#' ? "_/" : "  ";
    return padded(line);
}

}  // namespace

std::vector<std::string> bannerLines() {
    const std::string rule(kBannerWidth, '-');
    const std::string blank(kBannerWidth, ' ');
    std::vector<std::string> lines = {rule, blank};
    for (const char* row : kLettering) lines.push_back(drawn(row));
    lines.push_back(blank);
    lines.push_back(padded("    Voxlum - v1.0"));
    const std::string credits = kVoxlumCredits;
    const std::size_t lineBreak = credits.find('\n');
    lines.push_back(padded("    " + credits.substr(0, lineBreak)));
    lines.push_back(padded("    " + credits.substr(lineBreak + 1)));
    lines.push_back(blank);
    lines.push_back(rule);
    return lines;
}
