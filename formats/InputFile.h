// Reading the files the commands are given, with failures phrased for the user.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The first `limit` bytes of `path` (all of it by default). Throws FormatError naming `path`
// when it is missing, not a regular file or unreadable.
std::vector<unsigned char> readInputFile(const std::string& path, std::size_t limit = SIZE_MAX);

// `message` cut at its first line break, so that a library's report fits one error line.
std::string firstLine(const std::string& message);
