#include "publish/nowplaying_file_win32.h"

#include <windows.h>

#include <chrono>
#include <thread>

#include "runtime/handles_win32.h"
#include "runtime/paths_win32.h"
#include "runtime/unicode_win32.h"

namespace {

// A reader that holds the file open without sharing it blocks the replace; it is tried this long.
constexpr auto kReplaceFor = std::chrono::seconds(1);
constexpr auto kReplacePause = std::chrono::milliseconds(20);

std::string SystemError(const char* what, DWORD code) {
  return std::string(what) + " failed with error " + std::to_string(code);
}

}  // namespace

std::string Win32NowPlayingDisk::Replace(const std::string& path, const std::string& text) {
  const std::wstring target = ExpandedPath(Wide(path));
  CreateParentFolders(target);
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
