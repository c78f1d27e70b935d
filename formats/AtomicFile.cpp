#include "AtomicFile.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "FormatError.h"

std::string cannotWrite(int error) {
    return "cannot write (" + std::string(std::strerror(error)) + ")";
}

namespace {

// The same folder keeps the final rename on one file system, where it is atomic. The process id
// and a count of the names given keep threads, and processes, writing one path apart.
std::string temporaryPathFor(const std::string& path) {
    static std::atomic<unsigned long long> namesGiven{0};
    const std::string suffix =
        std::to_string(::getpid()) + "-" + std::to_string(namesGiven.fetch_add(1));
    const std::filesystem::path target(path);
    return (target.parent_path() / ("." + target.filename().string() + ".partial-" + suffix))
        .string();
}

void removeAll(const std::vector<std::string>& paths, std::size_t from) {
    for (std::size_t i = from; i < paths.size(); ++i) std::remove(paths[i].c_str());
}

}  // namespace

void replaceFilesAtomically(
    const std::vector<std::string>& paths,
    const std::function<void(const std::vector<std::string>& temporaryPaths)>& write) {
    std::vector<std::string> temporaries;
    for (const std::string& path : paths) temporaries.push_back(temporaryPathFor(path));
    try {
        write(temporaries);
    } catch (...) {
        removeAll(temporaries, 0);
        throw;
    }
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (std::rename(temporaries[i].c_str(), paths[i].c_str()) != 0) {
            const int error = errno;
            removeAll(temporaries, i);
            throw FormatError(paths[i], cannotWrite(error));
        }
    }
}

void replaceFileAtomically(const std::string& path,
                           const std::function<void(const std::string& temporaryPath)>& write) {
    replaceFilesAtomically(
        {path}, [&](const std::vector<std::string>& temporaries) { write(temporaries.front()); });
}

void writeFileAtomically(const std::string& path, std::initializer_list<ByteRange> parts) {
    replaceFileAtomically(path, [&](const std::string& temporary) {
        std::FILE* file = std::fopen(temporary.c_str(), "wb");
        if (file == nullptr) throw FormatError(path, cannotWrite(errno));
        bool written = true;
        for (const ByteRange& part : parts)
            written = written && std::fwrite(part.data, 1, part.size, file) == part.size;
        const int writeError = errno;
        const bool closed = std::fclose(file) == 0;
        if (!written || !closed) throw FormatError(path, cannotWrite(written ? errno : writeError));
    });
}
