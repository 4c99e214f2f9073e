#include "scrobble/service_text.h"

#include <algorithm>

std::string WithoutNul(std::string_view text) {
  std::string result(text);
  result.erase(std::remove(result.begin(), result.end(), '\0'), result.end());
  return result;
}

std::string Utf8Prefix(std::string_view utf8, std::size_t maxBytes) {
  if (utf8.size() <= maxBytes) return std::string(utf8);
  std::size_t end = maxBytes;
  // Back over continuation bytes (10xxxxxx) to the start of the character cut in two.
  while (end > 0 && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80) --end;
  return std::string(utf8.substr(0, end));
}

std::string WithoutTrailingSlashes(std::string_view url) {
  while (!url.empty() && url.back() == '/') url.remove_suffix(1);
  return std::string(url);
}

std::string FormEncoded(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') ||
        byte == '-' || byte == '.' || byte == '_' || byte == '~') {
      encoded += c;
    } else {
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 15];
    }
  }
  return encoded;
}
