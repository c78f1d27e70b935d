// The image module: the tool's image reading and writing through OpenImageIO.
#include <OpenImageIO/imageio.h>

#include <memory>

#include "ImageCodec.h"

namespace {

class OiioCodec final : public ImageCodec {
  public:
    bool canWrite(const std::string& extension) const override {
        const bool writable = OIIO::ImageOutput::create(extension) != nullptr;
        OIIO::geterror();  // a failed look-up leaves a message behind that must not surface later
        return writable;
    }

    bool write(const std::string& extension, const std::string& writtenPath, int width, int height,
               int channels, const unsigned char* pixels, std::string& error) const override {
        auto output = OIIO::ImageOutput::create(extension);
        if (!output) {
            error = OIIO::geterror();
            return false;
        }
        OIIO::ImageSpec format(width, height, channels, OIIO::TypeDesc::UINT8);
        // The colour is not multiplied by alpha, and must be stored as it is.
        format.attribute("oiio:UnassociatedAlpha", 1);
        if (output->open(writtenPath, format) &&
            output->write_image(OIIO::TypeDesc::UINT8, pixels) && output->close())
            return true;
        error = output->geterror();
        return false;
    }

    bool read(const std::string& path, DecodedImage& image, std::string& error) const override {
        // Colour stays apart from alpha, as the node keeps it, rather than multiplied by it.
        OIIO::ImageSpec hints;
        hints.attribute("oiio:UnassociatedAlpha", 1);
        auto input = OIIO::ImageInput::open(path, &hints);
        if (!input) {
            error = OIIO::geterror();
            return false;
        }
        const OIIO::ImageSpec& header = input->spec();
        image = {header.width, header.height, header.depth, header.nchannels, {}};
        if (image.depth != 1 || image.channels < 1 || image.channels > 4) return true;
        image.pixels.resize(std::size_t(image.width) * std::size_t(image.height) *
                            std::size_t(image.channels));
        if (input->read_image(0, 0, 0, image.channels, OIIO::TypeDesc::FLOAT, image.pixels.data()))
            return true;
        error = input->geterror();
        return false;
    }
};

}  // namespace

extern "C" const ImageCodec* voxlumImageCodec() {
    static const OiioCodec codec;
    return &codec;
}
