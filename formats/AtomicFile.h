// Output files appear complete or not at all, whatever goes wrong while they are written.
#pragma once

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

// Calls `write` with a temporary path in the folder of `path`, then renames that file over
// `path`. If `write` throws, or the rename fails, the temporary file is removed and a
// FormatError naming `path` is thrown.
void replaceFileAtomically(const std::string& path,
                           const std::function<void(const std::string& temporaryPath)>& write);

// The same for several files that belong together, such as the images of a slice stack: all
// are written under temporary names first and renamed only when every one is complete.
void replaceFilesAtomically(
    const std::vector<std::string>& paths,
    const std::function<void(const std::vector<std::string>& temporaryPaths)>& write);

struct ByteRange {
    const void* data;
    std::size_t size;
};

// Writes `parts` one after the other into `path`, through replaceFileAtomically.
void writeFileAtomically(const std::string& path, std::initializer_list<ByteRange> parts);

// "cannot write (<the system's description of errno>)".
std::string cannotWrite(int error);
