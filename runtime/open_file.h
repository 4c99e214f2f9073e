#pragma once
// The platform's half of read_file: a file opened for reading in binary mode by its UTF-8 path;
// null when it cannot be.
#include <cstdio>
#include <string>

std::FILE* OpenForReading(const std::string& path);
