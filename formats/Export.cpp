#include "Export.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "AtomicFile.h"
#include "ImageFile.h"

const std::map<std::string, VolumeFileFormat>& volumeFileFormatNames() {
    static const std::map<std::string, VolumeFileFormat> kNames{
        {"vol", VolumeFileFormat::kVoxlum},
        {"vdb", VolumeFileFormat::kOpenVdb},
        {"slices", VolumeFileFormat::kSlices},
        {"raw", VolumeFileFormat::kRaw},
        {"mitsuba", VolumeFileFormat::kMitsuba}};
    return kNames;
}

std::optional<VolumeFileFormat> volumeFileFormatOf(const std::string& path) {
    std::string extension = std::filesystem::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == ".vol") return VolumeFileFormat::kVoxlum;
    if (extension == ".vdb") return VolumeFileFormat::kOpenVdb;
    if (extension == ".raw") return VolumeFileFormat::kRaw;
    if (isWritableImageName(path)) return VolumeFileFormat::kSlices;
    return std::nullopt;
}

void writeVolumeAs(VolumeFileFormat format, const std::string& path, const VoxelGrid& grid) {
    switch (format) {
        case VolumeFileFormat::kVoxlum:
            return writeVolumeFile(path, grid);
        case VolumeFileFormat::kOpenVdb:
            return writeVdbVolume(path, grid);
        case VolumeFileFormat::kSlices:
            return writeSliceStack(path, grid);
        case VolumeFileFormat::kRaw:
            return writeFileAtomically(path, {{grid.bytes().data(), grid.bytes().size()}});
        case VolumeFileFormat::kMitsuba:
            return writeForeignGrid(path, grid);
    }
}
