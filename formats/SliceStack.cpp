// Image-slice stacks: one image per z slice, read and written through the image module.

#include <algorithm>
#include <filesystem>

#include "AtomicFile.h"
#include "Convert.h"
#include "Export.h"
#include "FormatError.h"
#include "FramePattern.h"
#include "ImageFile.h"

namespace {

namespace fs = std::filesystem;

// Slices numbered from 0 or 1 up to the first number with no file.
std::vector<std::string> patternSlices(const std::string& text) {
    const std::optional<NumberedName> pattern = NumberedName::find(text);
    if (!pattern)
        throw FormatError(text, "a slice pattern needs a number field: %d, %Nd, %0Nd, # or @");
    int index = fs::exists(pattern->inputNameOf(0)) ? 0 : 1;
    std::vector<std::string> paths;
    for (std::string path = pattern->inputNameOf(index); fs::exists(path);
         path = pattern->inputNameOf(++index))
        paths.push_back(path);
    if (paths.empty()) throw FormatError(text, "no slice file matches (tried numbers 0 and 1)");
    return paths;
}

// Every visible file of the folder, in name order.
std::vector<std::string> folderSlices(const std::string& folder) {
    std::vector<fs::path> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
        if (entry.is_regular_file() && entry.path().filename().string().rfind('.', 0) != 0)
            files.push_back(entry.path());
    if (files.empty()) throw FormatError(folder, "folder holds no slice images");
    std::sort(files.begin(), files.end(),
              [](const fs::path& a, const fs::path& b) { return a.filename() < b.filename(); });
    std::vector<std::string> paths;
    for (const fs::path& file : files)
        paths.push_back((fs::path(folder) / file.filename()).string());
    return paths;
}

DecodedImage readSliceImage(const std::string& path) {
    DecodedImage image = readImageFile(path);
    if (image.depth != 1) throw FormatError(path, "is a volume image, not a 2D slice");
    if (image.channels < 1 || image.channels > 4)
        throw FormatError(path, std::to_string(image.channels) + " channels; slices need 1 to 4");
    return image;
}

std::string sizeText(const DecodedImage& image) {
    return std::to_string(image.width) + "x" + std::to_string(image.height);
}

}  // namespace

SourceVolume readSliceStack(const InputSource& slices) {
    const std::vector<std::string> paths = slices.kind == InputSource::Kind::kSliceFolder
                                               ? folderSlices(slices.path)
                                               : patternSlices(slices.path);
    const DecodedImage first = readSliceImage(paths.front());
    const std::array<int, 3> size{first.width, first.height, static_cast<int>(paths.size())};
    Lattice lattice(size, first.channels);
    for (int z = 0; z < size[2]; ++z) {
        const std::string& path = paths[std::size_t(z)];
        const DecodedImage slice = z == 0 ? first : readSliceImage(path);
        if (slice.width != first.width || slice.height != first.height)
            throw FormatError(path, "size " + sizeText(slice) + " differs from " + sizeText(first) +
                                        " of " + paths.front());
        if (slice.channels != first.channels)
            throw FormatError(path, std::to_string(slice.channels) + " channels differ from " +
                                        std::to_string(first.channels) + " of " + paths.front());
        // The bottom row is y = 0, as in the host's image textures, where v grows upwards.
        const std::size_t rowLength = std::size_t(slice.width) * std::size_t(slice.channels);
        for (int row = 0; row < slice.height; ++row) {
            const float* source = slice.pixels.data() + std::size_t(row) * rowLength;
            float* target = lattice.values.data() + lattice.offset(0, slice.height - 1 - row, z);
            std::transform(source, source + rowLength, target, unitToScale);
        }
    }
    return SourceVolume::of(std::move(lattice), false);
}

void writeSliceStack(const std::string& pattern, const VoxelGrid& grid) {
    const std::optional<NumberedName> names = NumberedName::find(pattern);
    if (!names)
        throw FormatError(pattern,
                          "a slice stack's name needs a number field for z, as in "
                          "slice_%03d.png");
    std::vector<std::string> paths;
    for (int z = 0; z < kVolumeGridSize; ++z) paths.push_back(names->nameOf(z));
    const int channels = grid.channels();
    const std::size_t rowLength = std::size_t(kVolumeGridSize) * std::size_t(channels);
    std::vector<unsigned char> pixels(rowLength * kVolumeGridSize);
    replaceFilesAtomically(paths, [&](const std::vector<std::string>& temporaries) {
        for (int z = 0; z < kVolumeGridSize; ++z) {
            // The bottom row is y = 0, as the reader takes it.
            for (int y = 0; y < kVolumeGridSize; ++y)
                std::copy_n(grid.record(0, y, z), rowLength,
                            pixels.data() + std::size_t(kVolumeGridSize - 1 - y) * rowLength);
            writeImageFile(paths[std::size_t(z)], temporaries[std::size_t(z)], kVolumeGridSize,
                           kVolumeGridSize, channels, pixels.data());
        }
    });
}
