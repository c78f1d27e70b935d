// What a ".vol" file holds and whether the node would load it, as data: `info` prints it as text
// or JSON, and the Python module returns the JSON.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <vector>

#include "FormatError.h"
#include "VolumeFormat.h"

// Why the loader refuses a file with `code`, in the words of the header field at fault: the
// one place that words each load code. `header` holds the file's first bytes, `bytesRead` what
// the loader read of the part it found short.
std::string refusalReason(std::int32_t code, std::int32_t bytesRead,
                          const std::vector<unsigned char>& header,
                          const volformat::HeaderCheck& check);

// The first four bytes in double quotes, each unprintable one as \xNN.
std::string quotedMagic(const std::vector<unsigned char>& bytes);

// Per-channel byte statistics as the node reads the volume: a missing alpha reads as 255.
struct ChannelStats {
    int low[4] = {255, 255, 255, 255};
    int high[4] = {0, 0, 0, 0};
    double mean[4] = {0, 0, 0, 0};
    int described = 0;  // channels present, up to four
    bool alphaUsed() const { return described == 4 && low[3] < 255; }
};

// What the node's loader and the header say about a file.
struct VolumeInspection {
    std::string path;
    std::vector<unsigned char> header;  // the first bytes, up to the header's size
    std::int64_t fileSize = 0;
    volformat::HeaderCheck check;
    std::int32_t code = 0;  // the loader's result: the channel count, or a refusal code
    std::int32_t bytesRead = 0;
    bool foreign = false;  // the other ".vol" grid format
    std::string reason;    // why the node refuses it; empty when it loads it
    ChannelStats stats;    // of a file the node loads

    bool loads() const { return code >= 0; }
};

// Reads `path` through the node's own loader, so that the verdict can never disagree with it.
// Throws FormatError when the file cannot be read at all.
VolumeInspection inspectVolumeFile(const std::string& path);

// The error that stands for a refused file: its reason and the node's code, or for the other
// grid format the command that converts it.
FormatError refusalOf(const VolumeInspection& file);

// The inspection as one JSON object (fields in tools/README.md).
nlohmann::json inspectionJson(const VolumeInspection& file);

// The object for a file that could not be read at all, as the loader, which cannot open it
// either, reports it.
nlohmann::json unreadableJson(const std::string& path, const FormatError& error);
