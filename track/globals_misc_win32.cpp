// The system drive, read from Windows.
#include <windows.h>

#include <string>

#include "runtime/handles_win32.h"
#include "runtime/registry_win32.h"
#include "runtime/unicode_win32.h"
#include "track/globals_misc.h"

namespace {

std::string ProgramFilesDir() {
  HKEY raw = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", 0, KEY_READ, &raw) !=
      ERROR_SUCCESS)
    return {};
  return QueryRegistryString(unique_hkey(raw).get(), "ProgramFilesDir");
}

}  // namespace

std::string SystemDrive() {
  std::string path;
  if (LOBYTE(LOWORD(GetVersion())) == 4) {
    // Windows 95 to NT 4 have no %systemdrive%: take the drive of the program-files folder.
    std::string dir = ProgramFilesDir() + "\\abc.xyz";
    dir = dir.substr(0, dir.find_last_of("\\:") + 1) + "..";
    wchar_t full[MAX_PATH + 1] = {};
    DWORD n = GetFullPathNameW(Wide(dir).c_str(), MAX_PATH, full, nullptr);
    path = Utf8(std::wstring_view(full, n <= MAX_PATH ? n : 0));
  } else {
    wchar_t expanded[MAX_PATH + 1] = {};
    DWORD n = ExpandEnvironmentStringsW(L"%systemdrive%", expanded, MAX_PATH);
    path = Utf8(std::wstring_view(expanded, n > 0 && n <= MAX_PATH ? n - 1 : 0));
  }
  return path.substr(0, 2);
}
