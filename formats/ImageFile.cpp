#include "ImageFile.h"

#include <dlfcn.h>

#include <filesystem>
#include <mutex>

#include "FormatError.h"
#include "InputFile.h"

namespace {

namespace fs = std::filesystem;

// The folder of the program or library this code is linked into. The program itself may be
// named as it was started ("voxlum", found along PATH): the system then knows its path.
fs::path binaryFolder() {
    Dl_info where{};
    if (dladdr(reinterpret_cast<const void*>(&binaryFolder), &where) == 0 || !where.dli_fname)
        return {};
    std::error_code ignored;
    const fs::path binary = std::string(where.dli_fname).find('/') == std::string::npos
                                ? fs::read_symlink("/proc/self/exe", ignored)
                                : fs::canonical(where.dli_fname, ignored);
    return binary.parent_path();
}

// Beside the program or library, where the build and the installation put it. Loaded once,
// never unloaded; a failed load is tried again by the next image.
const ImageCodec& imageCodec() {
    static std::mutex loading;
    static const ImageCodec* codec = nullptr;
    const std::lock_guard<std::mutex> lock(loading);
    if (codec != nullptr) return *codec;
    const fs::path module = binaryFolder() / VOXLUM_IMAGE_MODULE_NAME;
    if (void* handle = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL)) {
        if (auto entry =
                reinterpret_cast<const ImageCodec* (*)()>(dlsym(handle, "voxlumImageCodec"))) {
            codec = entry();
            return *codec;
        }
    }
    const char* why = dlerror();
    throw FormatError(module.string(), "cannot load the image module (" +
                                           std::string(why ? why : "no entry point") + ")");
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
        throw FormatError(path, "no image format for the extension \"" +
                                    fs::path(path).extension().string() + "\"");
    throw FormatError(path, "cannot write (" + firstLine(error) + ")");
}

DecodedImage readImageFile(const std::string& path) {
    DecodedImage image;
    std::string error;
    if (!imageCodec().read(path, image, error))
        throw FormatError(path, "cannot read image (" + firstLine(error) + ")");
    return image;
}
