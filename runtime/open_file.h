#pragma once
// The platform's file calls, each by a UTF-8 path (the narrow calls of Windows would read it in
// the ANSI code page): a file opened for reading in binary mode, null when it cannot be; a file
// renamed over any file of the new name, with the reason when it cannot be; a file removed.
#include <cstdio>
#include <optional>
#include <string>

std::FILE* OpenForReading(const std::string& path);
// Empty on success, else why it failed.
std::optional<std::string> RenameFile(const std::string& from, const std::string& to);
// A file that is not there is no failure.
void RemoveFile(const std::string& path);
