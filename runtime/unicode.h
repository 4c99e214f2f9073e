#pragma once
// Text is UTF-8 inside the plug-in; these convert it to and from the UTF-16 of Windows' wide
// functions and of the messenger's block, at each edge and nowhere else.
#include <string>
#include <string_view>

// Ill-formed input (a stray or truncated byte sequence, an overlong form, an encoded surrogate, a
// lone surrogate) becomes U+FFFD, so the output is always well formed.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

// Every character above U+FFFF (a four-byte sequence) becomes U+FFFD, for a peer whose "utf8" holds
// three bytes at most; every other byte stays as it is.
std::string WithinBmp(std::string_view utf8);

// Whether a UTF-16 unit is the first of a surrogate pair.
constexpr bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
