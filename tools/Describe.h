// The text `voxlum info` prints about a file.
#pragma once

#include <ostream>

#include "Inspect.h"

// The header fields, the loader's verdict in words and, for a loadable file, per-channel
// statistics. A file in the other ".vol" grid format is named as such with the command that
// converts it.
void describeVolume(const VolumeInspection& file, std::ostream& out);
