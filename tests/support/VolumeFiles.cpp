#include "VolumeFiles.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <random>
#include <stdexcept>

namespace testfiles {

std::vector<unsigned char> headerBytes(const VolumeHeaderFields& fields) {
    std::vector<unsigned char> header(volformat::kHeaderSize, 0);
    for (std::size_t i = 0; i < fields.magic.size() && i < 4; ++i)
        header[i] = static_cast<unsigned char>(fields.magic[i]);
    volformat::writeInt32(header.data(), volformat::kVersionOffset, fields.version);
    volformat::writeInt32(header.data(), volformat::kEdgeLengthOffset, fields.edgeLength);
    volformat::writeInt32(header.data(), volformat::kChannelCountOffset, fields.channelCount);
    volformat::writeInt32(header.data(), volformat::kEncodingOffset, fields.encoding);
    return header;
}

std::vector<unsigned char> randomBody(std::int32_t channelCount, std::uint32_t seed) {
    return randomBytes(std::size_t{128} * 128 * 128 * static_cast<std::size_t>(channelCount), seed);
}

std::vector<unsigned char> randomBytes(std::size_t count, std::uint32_t seed) {
    std::vector<unsigned char> bytes(count);
    std::mt19937 generator(seed);
    for (unsigned char& byte : bytes) byte = static_cast<unsigned char>(generator() >> 24);
    return bytes;
}

std::vector<unsigned char> volumeBytes(const VolumeHeaderFields& fields,
                                       const std::vector<unsigned char>& body) {
    std::vector<unsigned char> bytes = headerBytes(fields);
    bytes.insert(bytes.end(), body.begin(), body.end());
    return bytes;
}

void writeBytes(const std::filesystem::path& path, const std::vector<unsigned char>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

ScratchFolder::ScratchFolder() {
    static std::atomic<unsigned> counter{0};
    std::random_device entropy;
    path_ = std::filesystem::temp_directory_path() /
            ("voxlum-test-" + std::to_string(entropy()) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(path_);
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

int planeDifference(const VolumeBody& volume, int axis, int a, int b) {
    int largest = 0;
    for (int i = 0; i < 128; ++i)
        for (int j = 0; j < 128; ++j) {
            std::array<int, 3> first{}, second{};
            first[(axis + 1) % 3] = second[(axis + 1) % 3] = i;
            first[(axis + 2) % 3] = second[(axis + 2) % 3] = j;
            first[axis] = a;
            second[axis] = b;
            const unsigned char* p = volume.at(first[0], first[1], first[2]);
            const unsigned char* q = volume.at(second[0], second[1], second[2]);
            for (int c = 0; c < volume.channels; ++c)
                largest = std::max(largest, std::abs(p[c] - q[c]));
        }
    return largest;
}

}  // namespace testfiles
