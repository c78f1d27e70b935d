// Builders for ".vol" files, good and malformed, written into a per-test scratch folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "VolumeFormat.h"

namespace testfiles {

// Header fields as they will be written; the defaults describe a loadable 128^3 RGBA file.
struct VolumeHeaderFields {
    std::string magic = "VOLU";
    std::int32_t version = volformat::kExpectedVersion;
    std::int32_t edgeLength = 128;
    std::int32_t channelCount = 4;
    std::int32_t encoding = volformat::kExpectedEncoding;
};

std::vector<unsigned char> headerBytes(const VolumeHeaderFields& fields);

// Deterministic pseudo-random voxel bytes for a 128^3 lattice of `channelCount` channels.
std::vector<unsigned char> randomBody(std::int32_t channelCount, std::uint32_t seed);
// The first `count` bytes of any random body made with `seed`.
std::vector<unsigned char> randomBytes(std::size_t count, std::uint32_t seed);

// Header followed by body.
std::vector<unsigned char> volumeBytes(const VolumeHeaderFields& fields,
                                       const std::vector<unsigned char>& body);

// A volume's 128^3 body of `channels` bytes per voxel, x fastest.
struct VolumeBody {
    int channels = 0;
    std::vector<unsigned char> bytes;
    const unsigned char* at(int x, int y, int z) const {
        return bytes.data() + ((std::size_t(z) * 128 + std::size_t(y)) * 128 + std::size_t(x)) *
                                  std::size_t(channels);
    }
};

// The largest difference of any byte between planes `a` and `b` across `axis` (0 = x).
int planeDifference(const VolumeBody& volume, int axis, int a, int b);

void writeBytes(const std::filesystem::path& path, const std::vector<unsigned char>& bytes);

// A fresh, empty folder removed again when the object goes away.
class ScratchFolder {
  public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    std::filesystem::path file(const std::string& name) const { return path_ / name; }
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

}  // namespace testfiles
