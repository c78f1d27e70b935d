#include "InputFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "FormatError.h"

std::vector<unsigned char> readInputFile(const std::string& path, std::size_t limit) {
    std::error_code ignored;
    const auto status = std::filesystem::status(path, ignored);
    if (!std::filesystem::exists(status)) throw FormatError(path, "no such file");
    if (!std::filesystem::is_regular_file(status)) throw FormatError(path, "not a regular file");
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                               std::fclose);
    if (!file) throw FormatError(path, "cannot open (" + std::string(std::strerror(errno)) + ")");

    std::vector<unsigned char> bytes;
    bytes.reserve(std::min<std::uintmax_t>(limit, std::filesystem::file_size(path, ignored)));
    unsigned char chunk[1 << 16];
    while (bytes.size() < limit) {
        const std::size_t wanted = std::min(sizeof chunk, limit - bytes.size());
        const std::size_t got = std::fread(chunk, 1, wanted, file.get());
        bytes.insert(bytes.end(), chunk, chunk + got);
        if (got < wanted) break;
    }
    if (std::ferror(file.get()))
        throw FormatError(path, "cannot read (" + std::string(std::strerror(errno)) + ")");
    return bytes;
}

std::string firstLine(const std::string& message) { return message.substr(0, message.find('\n')); }
