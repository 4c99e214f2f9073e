#include "runtime/paths_win32.h"

#include <windows.h>

#include "runtime/unicode_win32.h"

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

// Asked in UTF-16: the player may live in a folder the ANSI code page cannot name.
std::string OwnFolder() {
  HMODULE self = nullptr;
  if (!GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCWSTR>(&OwnFolder), &self)) {
    return "";
  }
  // A path may be longer than MAX_PATH; a result that fills the buffer may have been cut.
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(self, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return "";
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    if (path.size() >= 32768) return "";
    path.resize(path.size() * 2);
  }
  const std::string folder = Utf8(path);
  return folder.substr(0, folder.find_last_of("\\/") + 1);
}
