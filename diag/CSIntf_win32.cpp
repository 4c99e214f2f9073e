#include "diag/CSIntf_win32.h"

#include <objbase.h>
#include <windows.h>

#include <algorithm>

#include "runtime/handles_win32.h"
#include "runtime/registry_win32.h"
#include "runtime/unicode_win32.h"

namespace {

// Opened read-only: the plug-in never creates the dispatcher's key.
constexpr const char* kDispatcherKey = "Software\\Raize\\CodeSite\\2.0";

struct CaptionSearch {
  const std::string* caption;
  HWND found;
};

BOOL CALLBACK MatchCaption(HWND window, LPARAM lParam) {
  auto& search = *reinterpret_cast<CaptionSearch*>(lParam);
  if (GetParent(window) != nullptr) return TRUE;
  char text[256] = {};
  const int n = GetWindowTextA(window, text, sizeof text);
  if (std::string(text, n > 0 ? n : 0) != *search.caption) return TRUE;
  search.found = window;
  return FALSE;
}

}  // namespace

LocalDateTime Win32LogPlatform::Now() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

std::int32_t Win32LogPlatform::TimeZoneBias() {
  TIME_ZONE_INFORMATION zone{};
  GetTimeZoneInformation(&zone);
  return zone.Bias;
}

std::optional<Guid> Win32LogPlatform::NewGuid() {
  GUID raw;
  if (CoCreateGuid(&raw) != S_OK) return std::nullopt;
  Guid guid;
  guid.data1 = raw.Data1;
  guid.data2 = raw.Data2;
  guid.data3 = raw.Data3;
  for (int i = 0; i < 8; ++i) guid.data4[i] = raw.Data4[i];
  return guid;
}

std::optional<std::string> Win32LogPlatform::ComputerName() {
  // Room for any name, so that the client, not the buffer, decides what is too long.
  char name[MAX_PATH + 1] = {};
  DWORD size = sizeof name;
  if (!GetComputerNameA(name, &size)) return std::nullopt;
  return std::string(name, size);
}

// In UTF-8 like every text of a packet, which turns it into the ANSI code page at the edge.
std::string Win32LogPlatform::ExecutablePath() {
  wchar_t path[MAX_PATH + 1] = {};
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return Utf8(std::wstring_view(path, n <= MAX_PATH ? n : 0));
}

std::uint32_t Win32LogPlatform::ProcessId() { return GetCurrentProcessId(); }

std::uint32_t Win32LogPlatform::ThreadId() { return GetCurrentThreadId(); }

HostWindow Win32LogPlatform::FindTopLevelWindow(const std::string& className, const std::string& caption) {
  return reinterpret_cast<HostWindow>(FindWindowA(className.c_str(), caption.c_str()));
}

LResult Win32LogPlatform::SendCopyData(HostWindow window, std::uintptr_t dwData,
                                       const std::vector<std::uint8_t>& block) {
  COPYDATASTRUCT data{static_cast<ULONG_PTR>(dwData), static_cast<DWORD>(block.size()),
                      const_cast<std::uint8_t*>(block.data())};
  return SendMessageA(reinterpret_cast<HWND>(window), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
}

std::string Win32LogPlatform::DispatcherPath() {
  HKEY raw = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDispatcherKey, 0, KEY_READ, &raw) != ERROR_SUCCESS) return {};
  return QueryRegistryString(unique_hkey(raw).get(), "DispatcherPath");
}

std::string Win32LogPlatform::PacketText(std::string_view utf8) { return ToAnsi(utf8); }

std::optional<HostWindow> Win32LogPlatform::StartAndFindWindow(const std::string& commandLine,
                                                               const std::string& caption) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION info{};
  std::wstring command = Wide(commandLine);  // CreateProcess may write into its command line
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
    return std::nullopt;
  unique_kernel_handle process(info.hProcess);
  unique_kernel_handle thread(info.hThread);
  WaitForInputIdle(process.get(), INFINITE);
  CaptionSearch search{&caption, nullptr};
  EnumThreadWindows(info.dwThreadId, MatchCaption, reinterpret_cast<LPARAM>(&search));
  return reinterpret_cast<HostWindow>(search.found);
}
