// Images read and written through the image module (ImageCodec.h), in the format their name's
// extension gives.
#pragma once

#include <string>

#include "ImageCodec.h"

// True when the image module writes the format that `path`'s extension names.
bool isWritableImageName(const std::string& path);

// Writes `pixels` (rows top first, channels interleaved) to `writtenPath` in the format of
// `path`'s extension; `path` is the name errors give. Throws FormatError.
void writeImageFile(const std::string& path, const std::string& writtenPath, int width, int height,
                    int channels, const unsigned char* pixels);

// Reads an image's header, and its pixels where it is 2D with 1 to 4 channels. Throws FormatError.
DecodedImage readImageFile(const std::string& path);
