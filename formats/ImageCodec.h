// What the tool needs of an image library. OpenImageIO and the shared libraries it brings take
// about a quarter of a second to load, which every command would pay, so they live in a module
// of their own (tools/images) that the tool loads the first time it reads or writes an image.
#pragma once

#include <string>
#include <vector>

// An image as read: pixels top row first, channels interleaved, values in [0, 1].
struct DecodedImage {
    int width = 0;
    int height = 0;
    int depth = 0;  // 1 for a 2D image
    int channels = 0;
    std::vector<float> pixels;
};

// The module and the tool are built together, so C++ types may cross; errors cross as the
// library's text (perhaps empty), not as exceptions.
class ImageCodec {
  public:
    virtual bool canWrite(const std::string& extension) const = 0;
    // Writes 8-bit pixels to `writtenPath` in the format `extension` (without its dot) names.
    virtual bool write(const std::string& extension, const std::string& writtenPath, int width,
                       int height, int channels, const unsigned char* pixels,
                       std::string& error) const = 0;
    // Reads the header, and the pixels as floats only of the images the tool uses: 2D, with 1
    // to 4 channels.
    virtual bool read(const std::string& path, DecodedImage& image, std::string& error) const = 0;

  protected:
    ~ImageCodec() = default;
};

// The module's one exported function.
extern "C" const ImageCodec* voxlumImageCodec();
