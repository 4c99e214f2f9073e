#include "plugin/wa_ipc_win32.h"

#include <windows.h>

#include "runtime/unicode_win32.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the wide requests carry UTF-16");

LResult WinampRequests::Send(HostWindow window, WParam wParam, LParam lParam) {
  return SendMessageA(reinterpret_cast<HWND>(window), WM_USER, wParam, lParam);
}

std::string WinampRequests::AnsiToUtf8(std::string_view ansi) const { return FromAnsi(ansi); }

std::string WinampRequests::Utf8ToAnsi(std::string_view utf8) const { return ToAnsi(utf8); }
