#include "runtime/read_file.h"

#include <cstdio>

#include "runtime/handle.h"
#include "runtime/open_file.h"

namespace {

int CloseFile(std::FILE* file) { return std::fclose(file); }
using unique_file = unique_handle<handle_traits<std::FILE*, &CloseFile>>;

}  // namespace

std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t limit) {
  const unique_file file(OpenForReading(path));
  if (!file) return std::nullopt;
  std::string bytes;
  char buffer[4096];
  while (const std::size_t got = std::fread(buffer, 1, sizeof buffer, file.get())) {
    bytes.append(buffer, got);
    if (bytes.size() > limit) return std::nullopt;
  }
  if (std::ferror(file.get())) return std::nullopt;
  return bytes;
}

std::optional<std::string> ReadFirstLine(const std::string& path) {
  const unique_file file(OpenForReading(path));
  if (!file) return std::nullopt;
  std::string line;
  for (int c; (c = std::fgetc(file.get())) != EOF && c != '\n';) line += static_cast<char>(c);
  return line;
}

bool FileExists(const std::string& path) { return unique_file(OpenForReading(path)).operator bool(); }
