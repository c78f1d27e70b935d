#include "VolumeFormat.h"

#include <cstring>

namespace volformat {

bool hasMagic(const unsigned char* bytes, std::size_t size) {
    return size >= sizeof kMagic && std::memcmp(bytes, kMagic, sizeof kMagic) == 0;
}

HeaderCheck checkHeader(const unsigned char* header, std::size_t delivered) {
    HeaderCheck check;
    // The magic is tested before completeness: a short file with the wrong magic is not ours.
    if (!hasMagic(header, delivered)) {
        check.code = kBadMagic;
    } else if (delivered < kHeaderSize) {
        check.code = kHeaderIncomplete;
    } else if (readInt32(header, kVersionOffset) != kExpectedVersion) {
        check.code = kBadVersion;
    } else if (readInt32(header, kEncodingOffset) != kExpectedEncoding) {
        check.code = kBadEncoding;
    } else {
        check.edgeLength = readInt32(header, kEdgeLengthOffset);
        check.channelCount = readInt32(header, kChannelCountOffset);
        const std::int64_t edge = check.edgeLength;
        if (edge != kSupportedEdgeLength || check.channelCount < kMinChannels) {
            check.code = kUnsupportedLayout;
        } else {
            check.bodyBytes = edge * edge * edge * check.channelCount;
            if (check.bodyBytes > kMaxBodyBytes) check.code = kUnsupportedLayout;
        }
    }
    return check;
}

}  // namespace volformat
