#pragma once
// Reading a small file named by a UTF-8 path. Windows' narrow file calls read a path in the ANSI
// code page, which cannot name every folder, so there the file is opened with the wide call.
#include <cstddef>
#include <optional>
#include <string>

// The file's bytes; nullopt when it cannot be opened or read, or is longer than limit.
std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t limit);
// Its first line without the line end; nullopt when it cannot be opened.
std::optional<std::string> ReadFirstLine(const std::string& path);
bool FileExists(const std::string& path);
