// Running the voxlum binary and building the inputs it converts.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "VolumeFiles.h"

namespace tooltest {

struct ToolRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs voxlum (or `program`, an installed copy of it) with `arguments` (shell words) from
// `folder`, capturing both output streams.
ToolRun runVoxlum(const std::filesystem::path& folder, const std::string& arguments,
                  const std::filesystem::path& program = VOXLUM_TOOL_PATH);

// A .vol file's 128^3 body, checked against its header.
testfiles::VolumeBody readVolume(const std::filesystem::path& path);

// Runs voxlum with `arguments` from `folder`, expects success and reads the volume written to
// `output` there.
testfiles::VolumeBody producedVolume(const std::filesystem::path& folder,
                                     const std::string& arguments, const std::string& output);

std::vector<std::string> folderListing(const std::filesystem::path& folder);

// An 8-bit image of `channels` channels whose pixel (column, row) is pixel(column, row).
void writeImage(const std::filesystem::path& path, int width, int height, int channels,
                const std::function<std::array<unsigned char, 4>(int, int)>& pixel);

// A Mitsuba-style float32 grid with the given header fields and values.
void writeForeignGrid(const std::filesystem::path& path, std::int32_t encoding,
                      std::array<std::int32_t, 3> resolution, std::int32_t channels,
                      const std::vector<float>& values);

}  // namespace tooltest
