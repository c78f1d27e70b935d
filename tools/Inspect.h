// `voxlum info`: what a ".vol" file holds and whether the node would load it.
#pragma once

#include <ostream>
#include <string>

// Writes a description of `path` to `out`: the header fields, the loader's verdict in words
// and, for a loadable file, per-channel statistics. A file in the other ".vol" grid format is
// named as such with the command that converts it. Throws ToolError, after the description,
// when the node would refuse the file.
void inspectVolumeFile(const std::string& path, std::ostream& out);
