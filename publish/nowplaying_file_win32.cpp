#include "publish/nowplaying_file_win32.h"

#include <windows.h>

#include <chrono>
#include <thread>

#include "runtime/handles_win32.h"
#include "runtime/unicode_win32.h"

namespace {

// A reader that holds the file open without sharing it blocks the replace; it is tried this long.
constexpr auto kReplaceFor = std::chrono::seconds(1);
constexpr auto kReplacePause = std::chrono::milliseconds(20);

std::string SystemError(const char* what, DWORD code) {
  return std::string(what) + " failed with error " + std::to_string(code);
}

std::wstring Expanded(const std::wstring& path) {
  std::wstring result(ExpandEnvironmentStringsW(path.c_str(), nullptr, 0), L'\0');
  if (result.empty()) return path;
  result.resize(ExpandEnvironmentStringsW(path.c_str(), result.data(), static_cast<DWORD>(result.size())));
  if (!result.empty() && result.back() == L'\0') result.pop_back();
  return result;
}

// Creates every missing folder of path's parent.
void CreateParents(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos || slash == 0) return;
  const std::wstring folder = path.substr(0, slash);
  if (GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES) return;
  CreateParents(folder);
  CreateDirectoryW(folder.c_str(), nullptr);
}

}  // namespace

std::string Win32NowPlayingDisk::Replace(const std::string& path, const std::string& text) {
  const std::wstring target = Expanded(Wide(path));
  CreateParents(target);
  // Beside the file, so the replace is a rename on one volume.
  const std::wstring temporary = target + L".skorrel-tmp";
  {
    const HANDLE created = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (created == INVALID_HANDLE_VALUE) return SystemError("creating the temporary file", GetLastError());
    const unique_kernel_handle file(created);
    DWORD written = 0;
    if (!text.empty() &&
        (!WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
         written != text.size()))
      return SystemError("writing the temporary file", GetLastError());
    if (!FlushFileBuffers(file.get())) return SystemError("flushing the temporary file", GetLastError());
  }
  const auto until = std::chrono::steady_clock::now() + kReplaceFor;
  for (;;) {
    if (MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      return {};
    const DWORD error = GetLastError();
    const bool held =
        error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION;
    if (!held || std::chrono::steady_clock::now() >= until) {
      DeleteFileW(temporary.c_str());
      return SystemError("replacing the file", error);
    }
    // On the writer's own thread: only it waits.
    std::this_thread::sleep_for(kReplacePause);
  }
}
