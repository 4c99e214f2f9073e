#include "runtime/open_file.h"

#include <cerrno>
#include <system_error>

std::FILE* OpenForReading(const std::string& path) { return std::fopen(path.c_str(), "rb"); }

std::optional<std::string> RenameFile(const std::string& from, const std::string& to) {
  if (std::rename(from.c_str(), to.c_str()) == 0) return std::nullopt;
  return std::generic_category().message(errno);
}

void RemoveFile(const std::string& path) { std::remove(path.c_str()); }
