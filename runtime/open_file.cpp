#include "runtime/open_file.h"

std::FILE* OpenForReading(const std::string& path) { return std::fopen(path.c_str(), "rb"); }
