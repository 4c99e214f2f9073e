#include <windows.h>

#include "tunnel/libssh2_binding.h"

namespace {

// The folder of the module that holds this code, with its trailing backslash; empty if unknown.
std::string OwnFolder() {
  HMODULE self = nullptr;
  if (!GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCSTR>(&OwnFolder), &self)) {
    return "";
  }
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(self, path, MAX_PATH);
  if (length == 0 || length == MAX_PATH) return "";
  std::string folder(path, length);
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
