// The start-up banner shown in the host's message output when the plug-in loads.
#pragma once

#include <string>
#include <vector>

// Authors, then the occasion the plug-in was written for; also the plug-in's vendor text.
extern const char kVoxlumCredits[];

constexpr std::size_t kBannerWidth = 118;

// Thirteen lines of exactly kBannerWidth characters.
std::vector<std::string> bannerLines();
