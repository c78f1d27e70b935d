// `voxlum convert` output: every format it reads, it also writes. Each writer sits beside its
// format's reader, so the two cannot drift.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "VolumeWriter.h"

enum class VolumeFileFormat {
    kVoxlum,   // our ".vol"
    kOpenVdb,  // a vec3s grid "color" and, for RGBA, a float grid "density" holding alpha
    kSlices,   // one image per z, RGB or RGBA, named by a pattern such as slice_%03d.png
    kRaw,      // the 128^3 records alone
    kMitsuba,  // the Mitsuba-style grid, float32 in [0, 1]
};

// The names --to takes: vol, vdb, slices, raw, mitsuba.
const std::map<std::string, VolumeFileFormat>& volumeFileFormatNames();

// The format an output name asks for by its extension: .vol, .vdb, .raw, or any image
// extension OpenImageIO writes (a slice stack); nullopt for any other.
std::optional<VolumeFileFormat> volumeFileFormatOf(const std::string& path);

// Writes `grid` to `path` in `format`, atomically. Throws FormatError.
void writeVolumeAs(VolumeFileFormat format, const std::string& path, const VoxelGrid& grid);

// The writers, each in its reader's file.
void writeVdbVolume(const std::string& path, const VoxelGrid& grid);
void writeSliceStack(const std::string& pattern, const VoxelGrid& grid);
void writeForeignGrid(const std::string& path, const VoxelGrid& grid);
