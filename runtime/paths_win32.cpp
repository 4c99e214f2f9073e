#include "runtime/paths_win32.h"

#include <windows.h>

std::wstring ExpandedPath(const std::wstring& path) {
  std::wstring result(ExpandEnvironmentStringsW(path.c_str(), nullptr, 0), L'\0');
  if (result.empty()) return path;
  result.resize(ExpandEnvironmentStringsW(path.c_str(), result.data(), static_cast<DWORD>(result.size())));
  if (!result.empty() && result.back() == L'\0') result.pop_back();
  return result;
}

void CreateParentFolders(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos || slash == 0) return;
  const std::wstring folder = path.substr(0, slash);
  if (GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES) return;
  CreateParentFolders(folder);
  CreateDirectoryW(folder.c_str(), nullptr);
}
