#include "AtomicFile.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "ToolError.h"

std::string cannotWrite(int error) {
    return "cannot write (" + std::string(std::strerror(error)) + ")";
}

void replaceFileAtomically(const std::string& path,
                           const std::function<void(const std::string& temporaryPath)>& write) {
    const std::filesystem::path target(path);
    // The same folder keeps the final rename on one file system, where it is atomic.
    const std::string temporary =
        (target.parent_path() /
         ("." + target.filename().string() + ".partial-" + std::to_string(::getpid())))
            .string();
    try {
        write(temporary);
    } catch (...) {
        std::remove(temporary.c_str());
        throw;
    }
    if (std::rename(temporary.c_str(), target.c_str()) != 0) {
        const int error = errno;
        std::remove(temporary.c_str());
        throw ToolError(path, cannotWrite(error));
    }
}
