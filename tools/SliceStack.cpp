// Image-slice stacks: one image per z slice, read and written through the image module.

#include <algorithm>
#include <filesystem>

#include "AtomicFile.h"
#include "Convert.h"
#include "Export.h"
#include "FramePattern.h"
#include "ImageFile.h"
#include "ToolError.h"

namespace {

namespace fs = std::filesystem;

// Slices numbered from 0 or 1 up to the first number with no file.
std::vector<std::string> patternSlices(const std::string& text) {
    const std::optional<NumberedName> pattern = NumberedName::find(text);
    if (!pattern)
        throw ToolError(text, "a slice pattern needs a number field: %d, %Nd, %0Nd, # or @");
    int index = fs::exists(pattern->inputNameOf(0)) ? 0 : 1;
    std::vector<std::string> paths;
    for (std::string path = pattern->inputNameOf(index); fs::exists(path);
         path = pattern->inputNameOf(++index))
        paths.push_back(path);
    if (paths.empty()) throw ToolError(text, "no slice file matches (tried numbers 0 and 1)");
    return paths;
}

// Every visible file of the folder, in name order.
std::vector<std::string> folderSlices(const std::string& folder) {
    std::vector<fs::path> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
        if (entry.is_regular_file() && entry.path().filename().string().rfind('.', 0) != 0)
            files.push_back(entry.path());
    if (files.empty()) throw ToolError(folder, "folder holds no slice images");
    std::sort(files.begin(), files.end(),
              [](const fs::path& a, const fs::path& b) { return a.filename() < b.filename(); });
    std::vector<std::string> paths;
    for (const fs::path& file : files)
        paths.push_back((fs::path(folder) / file.filename()).string());
    return paths;
}

DecodedImage readSliceImage(const std::string& path) {
    DecodedImage image = readImageFile(path);
    if (image.depth != 1) throw ToolError(path, "is a volume image, not a 2D slice");
    if (image.channels < 1 || image.channels > 4)
        throw ToolError(path, std::to_string(image.channels) + " channels; slices need 1 to 4");
    return image;
}

std::string sizeText(const DecodedImage& image) {
    return std::to_string(image.width) + "x" + std::to_string(image.height);
}

}  // namespace

SourceVolume readSliceStack(const std::string& folderOrPattern) {
    const std::vector<std::string> paths = fs::is_directory(folderOrPattern)
                                               ? folderSlices(folderOrPattern)
                                               : patternSlices(folderOrPattern);
    const DecodedImage first = readSliceImage(paths.front());
    const std::array<int, 3> size{first.width, first.height, static_cast<int>(paths.size())};
    Lattice lattice(size, first.channels);
    for (int z = 0; z < size[2]; ++z) {
        const std::string& path = paths[std::size_t(z)];
        const DecodedImage slice = z == 0 ? first : readSliceImage(path);
        if (slice.width != first.width || slice.height != first.height)
            throw ToolError(path, "size " + sizeText(slice) + " differs from " + sizeText(first) +
                                      " of " + paths.front());
        if (slice.channels != first.channels)
            throw ToolError(path, std::to_string(slice.channels) + " channels differ from " +
                                      std::to_string(first.channels) + " of " + paths.front());
        // The bottom row is y = 0, as in the host's image textures, where v grows upwards.
        const std::size_t rowLength = std::size_t(slice.width) * std::size_t(slice.channels);
        for (int row = 0; row < slice.height; ++row) {
            const float* source = slice.pixels.data() + std::size_t(row) * rowLength;
            float* target = lattice.values.data() + lattice.offset(0, slice.height - 1 - row, z);
            std::transform(source, source + rowLength, target, [](float v) { return v * 255.0f; });
        }
    }
    return SourceVolume::of(std::move(lattice), false);
}

void writeSliceStack(const std::string& pattern, const VoxelGrid& grid) {
    const std::optional<NumberedName> names = NumberedName::find(pattern);
    if (!names)
        throw ToolError(pattern,
                        "a slice stack's name needs a number field for z, as in "
                        "slice_%03d.png");
    std::vector<std::string> paths;
    for (int z = 0; z < kEdge; ++z) paths.push_back(names->nameOf(z));
    const int channels = grid.channels();
    const std::size_t rowLength = std::size_t(kEdge) * std::size_t(channels);
    std::vector<unsigned char> pixels(rowLength * kEdge);
    replaceFilesAtomically(paths, [&](const std::vector<std::string>& temporaries) {
        for (int z = 0; z < kEdge; ++z) {
            // The bottom row is y = 0, as the reader takes it.
            for (int y = 0; y < kEdge; ++y)
                std::copy_n(grid.record(0, y, z), rowLength,
                            pixels.data() + std::size_t(kEdge - 1 - y) * rowLength);
            writeImageFile(paths[std::size_t(z)], temporaries[std::size_t(z)], kEdge, kEdge,
                           channels, pixels.data());
        }
    });
}
