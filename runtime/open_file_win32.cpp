#include <windows.h>

#include <system_error>

#include "runtime/open_file.h"
#include "runtime/unicode_win32.h"

std::FILE* OpenForReading(const std::string& path) { return _wfopen(Wide(path).c_str(), L"rb"); }

std::optional<std::string> RenameFile(const std::string& from, const std::string& to) {
  if (MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING)) return std::nullopt;
  return std::system_category().message(static_cast<int>(GetLastError()));
}

void RemoveFile(const std::string& path) { DeleteFileW(Wide(path).c_str()); }
