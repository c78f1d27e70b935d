#include "Inspect.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "ForeignVolume.h"
#include "FormatError.h"
#include "InputFile.h"
#include "VolumeFormat.h"
#include "VolumeWriter.h"
#include "VoxelVolume.h"

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

namespace {

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

ChannelStats channelStats(const VoxelVolume& volume) {
    ChannelStats stats;
    std::uint64_t sum[4] = {0, 0, 0, 0};
    for (int z = 0; z < kVolumeGridSize; ++z)
        for (int y = 0; y < kVolumeGridSize; ++y)
            for (int x = 0; x < kVolumeGridSize; ++x) {
                const VoxelSample sample = volume.voxelAt(x, y, z);
                const float units[4] = {sample.r, sample.g, sample.b, sample.a};
                for (int c = 0; c < 4; ++c) {
                    const int byte = unitToByte(units[c]);
                    stats.low[c] = std::min(stats.low[c], byte);
                    stats.high[c] = std::max(stats.high[c], byte);
                    sum[c] += static_cast<std::uint64_t>(byte);
                }
            }
    const double voxels = double(kVolumeGridSize) * kVolumeGridSize * kVolumeGridSize;
    for (int c = 0; c < 4; ++c) stats.mean[c] = double(sum[c]) / voxels;
    stats.described = std::min(volume.channelCount(), 4);
    return stats;
}

std::string printableMagic(const std::vector<unsigned char>& bytes) {
    const std::string quoted = quotedMagic(bytes);
    return quoted.substr(1, quoted.size() - 2);
}

const char* formatName(const VolumeInspection& file) {
    if (file.foreign) return "mitsuba-grid";
    return hasMagic(file.header.data(), file.header.size()) ? "voxlum" : "unknown";
}

}  // namespace

nlohmann::json inspectionJson(const VolumeInspection& file) {
    nlohmann::json result{{"file", file.path},
                          {"size", file.fileSize},
                          {"format", formatName(file)},
                          {"voxel_order", "x fastest, then y, then z"}};
    nlohmann::json header{{"magic", printableMagic(file.header)}};
    if (file.header.size() >= kHeaderSize) {
        header["version"] = readInt32(file.header.data(), kVersionOffset);
        header["edge_length"] = readInt32(file.header.data(), kEdgeLengthOffset);
        header["channels"] = readInt32(file.header.data(), kChannelCountOffset);
        header["encoding"] = readInt32(file.header.data(), kEncodingOffset);
    }
    result["header"] = header;
    if (file.foreign && file.header.size() >= kForeignHeaderSize) {
        const ForeignGridHeader grid = readForeignGridHeader(file.path, file.header);
        result["grid"] = {{"resolution", grid.resolution},
                          {"channels", grid.channels},
                          {"encoding", grid.encoding},
                          {"bounds", grid.bounds}};
    }
    if (!file.foreign && file.check.code == 0)
        result["body"] = {{"bytes", file.check.bodyBytes},
                          {"present", file.fileSize - std::int64_t{kHeaderSize}}};
    result["node"] = {{"loads", file.code >= 0}, {"code", file.code}};
    if (file.code < 0) {
        result["reason"] = file.reason;
        return result;
    }
    const ChannelStats& stats = file.stats;
    nlohmann::json channels = nlohmann::json::object();
    for (int c = 0; c < stats.described; ++c)
        channels[kChannelNames[c]] = {
            {"min", stats.low[c]}, {"max", stats.high[c]}, {"mean", stats.mean[c]}};
    result["channels"] = channels;
    result["alpha_used"] = stats.alphaUsed();
    return result;
}

VolumeInspection inspectVolumeFile(const std::string& path) {
    VolumeInspection result;
    result.path = path;
    result.header = readInputFile(path, kHeaderSize);
    std::error_code ignored;
    result.fileSize = static_cast<std::int64_t>(std::filesystem::file_size(path, ignored));
    VoxelVolume volume;
    result.code = volume.loadVolumeFile(path.c_str(), result.bytesRead);
    result.check = checkHeader(result.header.data(), result.header.size());
    result.foreign = hasForeignGridSignature(result.header.data(), result.header.size());
    if (result.code < 0) {
        result.reason = refusalReason(result.code, result.bytesRead, result.header, result.check);
    } else {
        result.stats = channelStats(volume);
    }
    return result;
}

FormatError refusalOf(const VolumeInspection& file) {
    if (file.foreign)
        return FormatError(file.path,
                           "a Mitsuba-style grid volume, not a Voxlum volume; convert it with "
                           "voxlum convert " +
                               file.path + " -o OUT.vol");
    return FormatError(file.path, file.reason + " (the node refuses it with code " +
                                      std::to_string(file.code) + ")");
}

nlohmann::json unreadableJson(const std::string& path, const FormatError& error) {
    return {{"file", path},
            {"node", {{"loads", false}, {"code", kOpenFailed}}},
            {"reason", error.problem()}};
}
