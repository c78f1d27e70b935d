// Prints a digest of the sampler's results: a fixed RGB and a fixed RGBA volume sampled at a
// fixed set of points, every result bit hashed. Builds for different targets (64-bit Linux,
// 32- and 64-bit Windows) must print the same line. With a file argument, compares its own
// digest to the one in that file instead, and fails on a difference.
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "VolumeFiles.h"
#include "VoxelVolume.h"

namespace {

constexpr int kSamplesPerVolume = 200000;

// FNV-1a over 32-bit words.
class Digest {
  public:
    void add(std::uint32_t word) {
        for (int byte = 0; byte < 4; ++byte) {
            value_ = (value_ ^ ((word >> (8 * byte)) & 0xffu)) * 0x100000001b3u;
        }
    }
    void add(float value) {
        std::uint32_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        add(bits);
    }
    std::uint64_t value() const { return value_; }

  private:
    std::uint64_t value_ = 0xcbf29ce484222325u;
};

// splitmix64: a fixed sequence on every platform.
std::uint64_t nextRandom(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9e3779b97f4a7c15u);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
    return z ^ (z >> 31);
}

// Mostly coordinates in [-4, 4) on a fine grid, where the rounding of fractions and weights
// matters; one in eight is an arbitrary bit pattern (huge, tiny, infinite or NaN).
float coordinate(std::uint64_t random) {
    if ((random & 7u) == 0) {
        const auto bits = static_cast<std::uint32_t>(random >> 32);
        float value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    return static_cast<float>(static_cast<std::int32_t>((random >> 40) & 0xffffffu) - 0x800000) /
           static_cast<float>(0x200000);
}

bool addVolume(Digest& digest, const testfiles::ScratchFolder& folder, std::int32_t channels) {
    const auto path = folder.file("digest.vol");
    testfiles::VolumeHeaderFields header;
    header.channelCount = channels;
    testfiles::writeBytes(path,
                          testfiles::volumeBytes(header, testfiles::randomBody(channels, 2024)));
    VoxelVolume volume;
    std::int32_t bytesRead = 0;
    if (volume.loadVolumeFile(path.string().c_str(), bytesRead) != channels) return false;
    std::uint64_t state = static_cast<std::uint64_t>(channels);
    for (int i = 0; i < kSamplesPerVolume; ++i) {
        const float u = coordinate(nextRandom(state));
        const float v = coordinate(nextRandom(state));
        const float w = coordinate(nextRandom(state));
        const VoxelSample sample = volume.sampleTrilinear(u, v, w);
        for (float channel : {sample.r, sample.g, sample.b, sample.a}) digest.add(channel);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    testfiles::ScratchFolder folder;
    Digest digest;
    if (!addVolume(digest, folder, 3) || !addVolume(digest, folder, 4)) {
        std::cerr << "the digest volumes did not load\n";
        return 2;
    }
    std::ostringstream line;
    line << "sampler digest " << std::hex << digest.value();
    if (argc < 2) {
        std::cout << line.str() << '\n';
        return 0;
    }
    std::ifstream expectedFile(argv[1]);
    std::string expected;
    std::getline(expectedFile, expected);
    std::cout << "this build:  " << line.str() << "\nexpected:    " << expected << '\n';
    return expected == line.str() ? 0 : 1;
}
