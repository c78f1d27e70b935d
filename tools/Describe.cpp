#include "Describe.h"

#include <cstdio>

#include "ForeignVolume.h"
#include "VolumeWriter.h"

namespace {

using namespace volformat;

void describeHeader(const std::vector<unsigned char>& bytes, const HeaderCheck& check,
                    std::int64_t fileSize, std::ostream& out) {
    out << "magic: " << quotedMagic(bytes) << '\n';
    if (bytes.size() < kHeaderSize) return;
    out << "version: " << readInt32(bytes.data(), kVersionOffset) << '\n'
        << "edge length: " << readInt32(bytes.data(), kEdgeLengthOffset) << '\n'
        << "channels: " << readInt32(bytes.data(), kChannelCountOffset) << '\n'
        << "encoding: " << readInt32(bytes.data(), kEncodingOffset) << '\n';
    if (check.code != 0) return;
    const std::int64_t present = fileSize - std::int64_t{kHeaderSize};
    out << "body: " << check.bodyBytes << " bytes (128^3 records of " << check.channelCount
        << " bytes), " << present << " present";
    if (present > check.bodyBytes)
        out << " (" << present - check.bodyBytes << " past the body, ignored)";
    out << '\n';
}

void describeForeignGrid(const std::string& path, const std::vector<unsigned char>& bytes,
                         std::ostream& out) {
    out << "format: Mitsuba-style grid volume (\"VOL\" version 3), not a Voxlum volume\n";
    if (bytes.size() >= kForeignHeaderSize) {
        const ForeignGridHeader header = readForeignGridHeader(path, bytes);
        char bounds[160];
        std::snprintf(bounds, sizeof bounds, "(%g, %g, %g) to (%g, %g, %g)", header.bounds[0],
                      header.bounds[1], header.bounds[2], header.bounds[3], header.bounds[4],
                      header.bounds[5]);
        out << "grid: " << header.resolution[0] << " x " << header.resolution[1] << " x "
            << header.resolution[2] << ", " << header.channels << " channel(s), encoding "
            << header.encoding << (header.encoding == kForeignFloat32Encoding ? " (float32)" : "")
            << '\n'
            << "bounds: " << bounds << '\n';
    }
    out << "convert with: voxlum convert " << path << " -o OUT.vol\n";
}

void describeChannels(const ChannelStats& stats, std::int32_t channelCount, std::ostream& out) {
    out << "channel  min  max    mean\n";
    for (int c = 0; c < stats.described; ++c) {
        char line[64];
        std::snprintf(line, sizeof line, "%-7s  %3d  %3d  %6.2f\n", kChannelNames[c], stats.low[c],
                      stats.high[c], stats.mean[c]);
        out << line;
    }
    if (channelCount > 4) out << "channels 5 to " << channelCount << ": ignored by the node\n";
    if (channelCount < 4) {
        out << "alpha used: no (3 channels: the node takes alpha as 1)\n";
    } else if (stats.alphaUsed()) {
        out << "alpha used: yes (some alpha bytes are below 255)\n";
    } else {
        out << "alpha used: no (every alpha byte is 255)\n";
    }
}

}  // namespace

void describeVolume(const VolumeInspection& file, std::ostream& out) {
    out << "file: " << file.path << '\n' << "size: " << file.fileSize << " bytes\n";
    if (file.foreign) {
        describeForeignGrid(file.path, file.header, out);
    } else {
        describeHeader(file.header, file.check, file.fileSize, out);
    }
    if (file.loads()) {
        out << "node: loads it (" << file.code << " channels)\n";
        describeChannels(file.stats, file.code, out);
        return;
    }
    out << "node: refuses it (code " << file.code << "): " << file.reason << '\n';
}
