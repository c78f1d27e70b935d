// The ".vol" file layout: a 4096-byte header followed by N x N x N records of C bytes.
// Shared by the loader and by the tools that write and inspect files, so both agree on
// every offset and every rule.
#pragma once

#include <cstddef>
#include <cstdint>

namespace volformat {

constexpr std::size_t kHeaderSize = 4096;
constexpr unsigned char kMagic[4] = {'V', 'O', 'L', 'U'};

constexpr std::size_t kVersionOffset = 4;
constexpr std::size_t kEdgeLengthOffset = 268;
constexpr std::size_t kChannelCountOffset = 272;
constexpr std::size_t kEncodingOffset = 276;

constexpr std::int32_t kExpectedVersion = 4;
constexpr std::int32_t kExpectedEncoding = 1;

// The only lattice the sampler addresses, and the fewest channels it reads (RGB).
constexpr std::int32_t kSupportedEdgeLength = 128;
constexpr std::int32_t kMinChannels = 3;
// bytesRead is a 32-bit count, so larger bodies cannot be reported.
constexpr std::int64_t kMaxBodyBytes = INT32_MAX;

// Loader result codes; a non-negative result is the channel count.
enum LoadCode : std::int32_t {
    kOpenFailed = -1,
    kBodyIncomplete = -2,
    kAllocationFailed = -3,
    kBadMagic = -4,
    kHeaderIncomplete = -5,
    kBadVersion = -6,
    kBadEncoding = -7,
    kUnsupportedLayout = -8,
};

// Little-endian 32-bit signed integer at `offset`, independent of the host's byte order.
inline std::int32_t readInt32(const unsigned char* bytes, std::size_t offset) {
    const std::uint32_t value =
        std::uint32_t(bytes[offset]) | std::uint32_t(bytes[offset + 1]) << 8 |
        std::uint32_t(bytes[offset + 2]) << 16 | std::uint32_t(bytes[offset + 3]) << 24;
    return static_cast<std::int32_t>(value);
}

inline void writeInt32(unsigned char* bytes, std::size_t offset, std::int32_t value) {
    const auto bits = static_cast<std::uint32_t>(value);
    for (std::size_t i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<unsigned char>(bits >> (8 * i));
}

// True when the `size` bytes at `bytes` begin with the magic "VOLU".
bool hasMagic(const unsigned char* bytes, std::size_t size);

struct HeaderCheck {
    std::int32_t code = 0;  // 0 when the header is usable, otherwise a LoadCode
    std::int32_t edgeLength = 0;
    std::int32_t channelCount = 0;
    std::int64_t bodyBytes = 0;  // N^3 * C in 64-bit arithmetic, valid when code == 0
};

// Applies the loader's header rules in the loader's order to the `delivered` bytes that a
// read of the header produced.
HeaderCheck checkHeader(const unsigned char* header, std::size_t delivered);

}  // namespace volformat
