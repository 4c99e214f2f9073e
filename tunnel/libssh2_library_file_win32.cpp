#include <windows.h>

#include <string>

#include "runtime/unicode_win32.h"
#include "tunnel/libssh2_binding.h"

namespace {

// The folder of the module that holds this code, with its trailing backslash, in UTF-8; empty if
// unknown. Asked in UTF-16: the player may live in a folder the ANSI code page cannot name.
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

}  // namespace

// A user may drop libssh2.dll beside the plug-in in the player's Plugins folder, which is not on
// the search path; there it is looked for first.
Library OpenLibSSH2File() {
  if (const std::string folder = OwnFolder(); !folder.empty()) {
    if (Library beside = Library::LoadPath(folder + "libssh2.dll")) return beside;
  }
  return Library::Load("libssh2.dll");
}

std::string LibSSH2Places() {
  const std::string folder = OwnFolder();
  return (folder.empty() ? "" : folder + "libssh2.dll, then ") + "libssh2.dll on the system's search path";
}
