#include "ImageFile.h"

#include <OpenImageIO/imageio.h>

#include <filesystem>
#include <memory>

#include "InputFile.h"
#include "ToolError.h"

namespace {

std::unique_ptr<OIIO::ImageOutput> imageOutputFor(const std::string& path) {
    const std::string extension = std::filesystem::path(path).extension().string();
    return extension.size() > 1 ? OIIO::ImageOutput::create(extension.substr(1)) : nullptr;
}

}  // namespace

bool isWritableImageName(const std::string& path) {
    const bool writable = imageOutputFor(path) != nullptr;
    OIIO::geterror();  // a failed look-up leaves a message behind that must not surface later
    return writable;
}

void writeImageFile(const std::string& path, const std::string& writtenPath, int width, int height,
                    int channels, const unsigned char* pixels) {
    auto output = imageOutputFor(path);
    if (!output)
        throw ToolError(path, "no image format for the extension \"" +
                                  std::filesystem::path(path).extension().string() + "\"");
    OIIO::ImageSpec format(width, height, channels, OIIO::TypeDesc::UINT8);
    // The colour is not multiplied by alpha, and must be stored as it is.
    format.attribute("oiio:UnassociatedAlpha", 1);
    if (!output->open(writtenPath, format) || !output->write_image(OIIO::TypeDesc::UINT8, pixels) ||
        !output->close())
        throw ToolError(path, "cannot write (" + firstLine(output->geterror()) + ")");
}
