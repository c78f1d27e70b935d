// `voxlum info`: what a ".vol" file holds and whether the node would load it.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "VolumeFormat.h"

// Why the loader refuses a file with `code`, in the words of the header field at fault: the
// one place that words each load code. `header` holds the file's first bytes, `bytesRead` what
// the loader read of the part it found short.
std::string refusalReason(std::int32_t code, std::int32_t bytesRead,
                          const std::vector<unsigned char>& header,
                          const volformat::HeaderCheck& check);

// Writes a description of `path` to `out`: the header fields, the loader's verdict in words
// and, for a loadable file, per-channel statistics. A file in the other ".vol" grid format is
// named as such with the command that converts it. Throws ToolError, after the description,
// when the node would refuse the file.
void inspectVolumeFile(const std::string& path, std::ostream& out);

// The same as one JSON object (fields in tools/README.md), stored in `out` before a refused or
// unreadable file throws ToolError, so that a batch can list it too.
void inspectVolumeFileJson(const std::string& path, nlohmann::json& out);
