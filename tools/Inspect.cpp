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

const char* const kChannelNames[4] = {"red", "green", "blue", "alpha"};

// Per-channel byte statistics as the node reads the volume: a missing alpha reads as 255.
struct ChannelStats {
    int low[4] = {255, 255, 255, 255};
    int high[4] = {0, 0, 0, 0};
    double mean[4] = {0, 0, 0, 0};
    int described = 0;  // channels present, up to four
    bool alphaUsed() const { return described == 4 && low[3] < 255; }
};

ChannelStats channelStats(const VoxelVolume& volume) {
    ChannelStats stats;
    std::uint64_t sum[4] = {0, 0, 0, 0};
    for (int z = 0; z < kVolumeGridSize; ++z)
        for (int y = 0; y < kVolumeGridSize; ++y)
            for (int x = 0; x < kVolumeGridSize; ++x) {
                const VoxelSample sample = volume.voxelAt(x, y, z);
                const float units[4] = {sample.r, sample.g, sample.b, sample.a};
                for (int c = 0; c < 4; ++c) {
                    const int byte = static_cast<int>(std::lround(units[c] * 255.0f));
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

// What the node's loader and the header say about a file.
struct Inspection {
    std::string path;
    std::vector<unsigned char> header;
    std::int64_t fileSize = 0;
    HeaderCheck check;
    std::int32_t code = 0;
    std::int32_t bytesRead = 0;
    bool foreign = false;
    VoxelVolume volume;
    std::string reason;  // why the node refuses it; empty when it loads it
};

// Throws ToolError when the file cannot be read at all.
void inspect(const std::string& path, Inspection& result) {
    result.path = path;
    result.header = readInputFile(path, kHeaderSize);
    std::error_code ignored;
    result.fileSize = static_cast<std::int64_t>(std::filesystem::file_size(path, ignored));
    // The loader itself gives the verdict, so that this report can never disagree with it.
    result.code = result.volume.loadVolumeFile(path.c_str(), result.bytesRead);
    result.check = checkHeader(result.header.data(), result.header.size());
    result.foreign = hasForeignGridSignature(result.header.data(), result.header.size());
    if (result.code < 0)
        result.reason = refusalReason(result.code, result.bytesRead, result.header, result.check);
}

[[noreturn]] void throwRefusal(const Inspection& file) {
    if (file.foreign) {
        throw ToolError(file.path,
                        "a Mitsuba-style grid volume, not a Voxlum volume; convert it with "
                        "voxlum convert " +
                            file.path + " -o OUT.vol");
    }
    throw ToolError(file.path, file.reason + " (the node refuses it with code " +
                                   std::to_string(file.code) + ")");
}

std::string printableMagic(const std::vector<unsigned char>& bytes) {
    const std::string quoted = quotedMagic(bytes);
    return quoted.substr(1, quoted.size() - 2);
}

const char* formatName(const Inspection& file) {
    if (file.foreign) return "mitsuba-grid";
    const bool ours = file.header.size() >= sizeof kMagic &&
                      std::equal(kMagic, kMagic + sizeof kMagic, file.header.begin());
    return ours ? "voxlum" : "unknown";
}

nlohmann::json describeJson(const Inspection& file) {
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
    const ChannelStats stats = channelStats(file.volume);
    nlohmann::json channels = nlohmann::json::object();
    for (int c = 0; c < stats.described; ++c)
        channels[kChannelNames[c]] = {
            {"min", stats.low[c]}, {"max", stats.high[c]}, {"mean", stats.mean[c]}};
    result["channels"] = channels;
    result["alpha_used"] = stats.alphaUsed();
    return result;
}

}  // namespace

void inspectVolumeFile(const std::string& path, std::ostream& out) {
    Inspection file;
    inspect(path, file);
    out << "file: " << path << '\n' << "size: " << file.fileSize << " bytes\n";
    if (file.foreign) {
        describeForeignGrid(path, file.header, out);
    } else {
        describeHeader(file.header, file.check, file.fileSize, out);
    }
    if (file.code >= 0) {
        out << "node: loads it (" << file.code << " channels)\n";
        describeChannels(channelStats(file.volume), file.code, out);
        return;
    }
    out << "node: refuses it (code " << file.code << "): " << file.reason << '\n';
    throwRefusal(file);
}

void inspectVolumeFileJson(const std::string& path, nlohmann::json& out) {
    Inspection file;
    try {
        inspect(path, file);
    } catch (const ToolError& error) {
        // Nothing of it could be read: as the loader, which cannot open it either, says.
        out = {{"file", path},
               {"node", {{"loads", false}, {"code", kOpenFailed}}},
               {"reason", error.problem()}};
        throw;
    }
    out = describeJson(file);
    if (file.code < 0) throwRefusal(file);
}
