#include "Inspect.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "ForeignVolume.h"
#include "InputFile.h"
#include "ToolError.h"
#include "VolumeFormat.h"
#include "VoxelVolume.h"

namespace {

using namespace volformat;

std::string quotedMagic(const std::vector<unsigned char>& bytes) {
    std::string text = "\"";
    for (std::size_t i = 0; i < std::min(bytes.size(), sizeof kMagic); ++i) {
        const unsigned char byte = bytes[i];
        if (byte >= 0x20 && byte < 0x7f && byte != '"' && byte != '\\') {
            text += static_cast<char>(byte);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            text += escaped;
        }
    }
    return text + "\"";
}

std::string expected(const std::string& field, std::int64_t actual, std::int64_t wanted) {
    return field + " is " + std::to_string(actual) + ", expected " + std::to_string(wanted);
}

std::string shortBy(const std::string& part, std::int64_t present, std::int64_t needed) {
    return part + " has " + std::to_string(present) + " of " + std::to_string(needed) + " bytes, " +
           std::to_string(needed - present) + " missing";
}

}  // namespace

std::string refusalReason(std::int32_t code, std::int32_t bytesRead,
                          const std::vector<unsigned char>& bytes, const HeaderCheck& check) {
    switch (code) {
        case kBadMagic:
            return "magic is " + quotedMagic(bytes) + ", expected \"VOLU\"";
        case kHeaderIncomplete:
            return shortBy("header", bytesRead, kHeaderSize);
        case kBadVersion:
            return expected("version", readInt32(bytes.data(), kVersionOffset), kExpectedVersion);
        case kBadEncoding:
            return expected("encoding", readInt32(bytes.data(), kEncodingOffset),
                            kExpectedEncoding);
        case kUnsupportedLayout:
            if (check.edgeLength != kSupportedEdgeLength)
                return expected("edge length", check.edgeLength, kSupportedEdgeLength);
            if (check.channelCount < kMinChannels)
                return "channel count is " + std::to_string(check.channelCount) +
                       ", expected at least " + std::to_string(kMinChannels);
            return "body of " + std::to_string(check.bodyBytes) + " bytes exceeds the limit of " +
                   std::to_string(kMaxBodyBytes);
        case kBodyIncomplete:
            return shortBy("body", bytesRead, check.bodyBytes);
        case kAllocationFailed:
            return "memory for " + std::to_string(check.bodyBytes) +
                   " bytes could not be allocated";
        default:
            return "the file could not be opened";
    }
}

namespace {

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

void describeChannels(const VoxelVolume& volume, std::ostream& out) {
    static const char* const kNames[4] = {"red", "green", "blue", "alpha"};
    int low[4] = {255, 255, 255, 255}, high[4] = {0, 0, 0, 0};
    std::uint64_t sum[4] = {0, 0, 0, 0};
    for (int z = 0; z < kVolumeGridSize; ++z)
        for (int y = 0; y < kVolumeGridSize; ++y)
            for (int x = 0; x < kVolumeGridSize; ++x) {
                const VoxelSample sample = volume.voxelAt(x, y, z);
                const float units[4] = {sample.r, sample.g, sample.b, sample.a};
                for (int c = 0; c < 4; ++c) {
                    const int byte = static_cast<int>(std::lround(units[c] * 255.0f));
                    low[c] = std::min(low[c], byte);
                    high[c] = std::max(high[c], byte);
                    sum[c] += static_cast<std::uint64_t>(byte);
                }
            }
    const std::int32_t channelCount = volume.channelCount();
    const int described = std::min(channelCount, 4);
    const double voxels = double(kVolumeGridSize) * kVolumeGridSize * kVolumeGridSize;
    out << "channel  min  max    mean\n";
    for (int c = 0; c < described; ++c) {
        char line[64];
        std::snprintf(line, sizeof line, "%-7s  %3d  %3d  %6.2f\n", kNames[c], low[c], high[c],
                      double(sum[c]) / voxels);
        out << line;
    }
    if (channelCount > 4) out << "channels 5 to " << channelCount << ": ignored by the node\n";
    if (channelCount < 4) {
        out << "alpha used: no (3 channels: the node takes alpha as 1)\n";
    } else if (low[3] < 255) {
        out << "alpha used: yes (some alpha bytes are below 255)\n";
    } else {
        out << "alpha used: no (every alpha byte is 255)\n";
    }
}

}  // namespace

void inspectVolumeFile(const std::string& path, std::ostream& out) {
    const std::vector<unsigned char> header = readInputFile(path, kHeaderSize);
    std::error_code ignored;
    const auto fileSize = static_cast<std::int64_t>(std::filesystem::file_size(path, ignored));
    // The loader itself gives the verdict, so that this report can never disagree with it.
    VoxelVolume volume;
    std::int32_t bytesRead = 0;
    const std::int32_t code = volume.loadVolumeFile(path.c_str(), bytesRead);
    const HeaderCheck check = checkHeader(header.data(), header.size());

    out << "file: " << path << '\n' << "size: " << fileSize << " bytes\n";
    const bool foreign = hasForeignGridSignature(header.data(), header.size());
    if (foreign) {
        describeForeignGrid(path, header, out);
    } else {
        describeHeader(header, check, fileSize, out);
    }
    if (code >= 0) {
        out << "node: loads it (" << code << " channels)\n";
        describeChannels(volume, out);
        return;
    }
    const std::string reason = refusalReason(code, bytesRead, header, check);
    out << "node: refuses it (code " << code << "): " << reason << '\n';
    if (foreign) {
        throw ToolError(path,
                        "a Mitsuba-style grid volume, not a Voxlum volume; convert it with "
                        "voxlum convert " +
                            path + " -o OUT.vol");
    }
    throw ToolError(path, reason + " (the node refuses it with code " + std::to_string(code) + ")");
}
