#include "ImageFile.h"

#include <dlfcn.h>

#include <filesystem>
#include <vector>

#include "InputFile.h"
#include "ToolError.h"

namespace {

namespace fs = std::filesystem;

// The folder of the program this code is linked into.
fs::path programFolder() {
    Dl_info where{};
    if (dladdr(reinterpret_cast<const void*>(&programFolder), &where) == 0 || !where.dli_fname)
        return {};
    std::error_code ignored;
    return fs::canonical(where.dli_fname, ignored).parent_path();
}

// Beside the program, as installed, or where this build made it. Loaded once, never unloaded.
const ImageCodec& imageCodec() {
    static const ImageCodec* const codec = [] {
        std::vector<fs::path> candidates{programFolder() / VOXLUM_IMAGE_MODULE_NAME};
        if (candidates.front() != fs::path(VOXLUM_IMAGE_MODULE_PATH))
            candidates.emplace_back(VOXLUM_IMAGE_MODULE_PATH);
        std::string failures;
        for (const fs::path& candidate : candidates) {
            if (void* module = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL)) {
                if (auto entry = reinterpret_cast<const ImageCodec* (*)()>(
                        dlsym(module, "voxlumImageCodec")))
                    return entry();
            }
            failures += std::string(failures.empty() ? "" : "; ") + dlerror();
        }
        throw ToolError(VOXLUM_IMAGE_MODULE_NAME,
                        "cannot load the image module (" + failures + ")");
    }();
    return *codec;
}

std::string extensionOf(const std::string& path) {
    const std::string extension = fs::path(path).extension().string();
    return extension.size() > 1 ? extension.substr(1) : std::string();
}

}  // namespace

bool isWritableImageName(const std::string& path) {
    const std::string extension = extensionOf(path);
    return !extension.empty() && imageCodec().canWrite(extension);
}

void writeImageFile(const std::string& path, const std::string& writtenPath, int width, int height,
                    int channels, const unsigned char* pixels) {
    const std::string extension = extensionOf(path);
    std::string error;
    if (!extension.empty() &&
        imageCodec().write(extension, writtenPath, width, height, channels, pixels, error))
        return;
    // Only a failed write asks why: a slice stack writes 128 images of one format.
    if (!isWritableImageName(path))
        throw ToolError(path, "no image format for the extension \"" +
                                  fs::path(path).extension().string() + "\"");
    throw ToolError(path, "cannot write (" + firstLine(error) + ")");
}

DecodedImage readImageFile(const std::string& path) {
    DecodedImage image;
    std::string error;
    if (!imageCodec().read(path, image, error))
        throw ToolError(path, "cannot read image (" + firstLine(error) + ")");
    return image;
}
