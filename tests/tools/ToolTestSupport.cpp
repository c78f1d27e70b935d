#include "ToolTestSupport.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "ImageFile.h"
#include "VolumeFiles.h"
#include "VolumeFormat.h"

namespace tooltest {

namespace {

std::string quoted(const std::filesystem::path& path) { return "'" + path.string() + "'"; }

std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

ToolRun runVoxlum(const std::filesystem::path& folder, const std::string& arguments,
                  const std::filesystem::path& program) {
    const testfiles::ScratchFolder captures;
    const std::string command = "cd " + quoted(folder) + " && " + quoted(program) + " " +
                                arguments + " >" + quoted(captures.file("out")) + " 2>" +
                                quoted(captures.file("err"));
    const int status = std::system(command.c_str());
    ToolRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = readText(captures.file("out"));
    run.err = readText(captures.file("err"));
    return run;
}

testfiles::VolumeBody readVolume(const std::filesystem::path& path) {
    const std::string bytes = readText(path);
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const volformat::HeaderCheck check =
        volformat::checkHeader(data, std::min(bytes.size(), volformat::kHeaderSize));
    testfiles::VolumeBody body;
    if (check.code != 0 || bytes.size() != volformat::kHeaderSize + std::size_t(check.bodyBytes)) {
        ADD_FAILURE() << path << " is no complete volume: code " << check.code;
        return body;
    }
    body.channels = check.channelCount;
    body.bytes.assign(data + volformat::kHeaderSize, data + bytes.size());
    return body;
}

testfiles::VolumeBody producedVolume(const std::filesystem::path& folder,
                                     const std::string& arguments, const std::string& output) {
    const ToolRun run = runVoxlum(folder, arguments);
    EXPECT_EQ(run.exitCode, 0) << arguments << ": " << run.err;
    return readVolume(folder / output);
}

std::vector<std::string> folderListing(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        names.push_back(entry.path().lexically_relative(folder).string());
    std::sort(names.begin(), names.end());
    return names;
}

void writeImage(const std::filesystem::path& path, int width, int height, int channels,
                const std::function<std::array<unsigned char, 4>(int, int)>& pixel) {
    std::vector<unsigned char> pixels;
    for (int row = 0; row < height; ++row)
        for (int column = 0; column < width; ++column) {
            const std::array<unsigned char, 4> value = pixel(column, row);
            pixels.insert(pixels.end(), value.begin(), value.begin() + channels);
        }
    writeImageFile(path.string(), path.string(), width, height, channels, pixels.data());
}

void writeForeignGrid(const std::filesystem::path& path, std::int32_t encoding,
                      std::array<std::int32_t, 3> resolution, std::int32_t channels,
                      const std::vector<float>& values) {
    std::vector<unsigned char> bytes{'V', 'O', 'L', 3};
    auto append = [&bytes](const void* data, std::size_t size) {
        const auto* begin = static_cast<const unsigned char*>(data);
        bytes.insert(bytes.end(), begin, begin + size);
    };
    // Written in the host's order, which the test machines share with the format: little-endian.
    append(&encoding, 4);
    append(resolution.data(), 12);
    append(&channels, 4);
    const float bounds[6] = {0, 0, 0, 1, 1, 1};
    append(bounds, sizeof bounds);
    append(values.data(), values.size() * sizeof(float));
    testfiles::writeBytes(path, bytes);
}

}  // namespace tooltest
