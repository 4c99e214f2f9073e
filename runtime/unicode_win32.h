#pragma once
// The Windows side of the text edges: UTF-8 to and from wchar_t text and the ANSI code page.
#include <string>
#include <string_view>

std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);

// The text in the ANSI code page, converted as Windows converts for an ANSI program by default: a
// best-fit character where the code page has one, else "?".
std::string ToAnsi(std::string_view utf8);
std::string FromAnsi(std::string_view ansi);
