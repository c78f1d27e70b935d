// 8-bit images written with OpenImageIO, in the format their name's extension gives.
#pragma once

#include <string>

// True when OpenImageIO writes the format that `path`'s extension names.
bool isWritableImageName(const std::string& path);

// Writes `pixels` (rows top first, channels interleaved) to `writtenPath` in the format of
// `path`'s extension; `path` is the name errors give. Throws ToolError.
void writeImageFile(const std::string& path, const std::string& writtenPath, int width, int height,
                    int channels, const unsigned char* pixels);
