#include "runtime/unicode_win32.h"

#include <windows.h>

#include "runtime/unicode.h"

std::wstring Wide(std::string_view utf8) {
  const std::u16string wide = Utf8ToUtf16(utf8);
  return std::wstring(wide.begin(), wide.end());
}

std::string Utf8(std::wstring_view wide) { return Utf16ToUtf8(std::u16string(wide.begin(), wide.end())); }

std::string ToAnsi(std::string_view utf8) {
  const std::wstring wide = Wide(utf8);
  if (wide.empty()) return {};
  const int units = static_cast<int>(wide.size());
  // Flags 0 and no default character: the system's own best-fit table, as for SendMessageA.
  const int size = WideCharToMultiByte(CP_ACP, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string ansi(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), units, ansi.data(), size, nullptr, nullptr);
  return ansi;
}

std::string FromAnsi(std::string_view ansi) {
  if (ansi.empty()) return {};
  const int bytes = static_cast<int>(ansi.size());
  const int units = MultiByteToWideChar(CP_ACP, 0, ansi.data(), bytes, nullptr, 0);
  if (units <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), bytes, wide.data(), units);
  return Utf8(wide);
}
