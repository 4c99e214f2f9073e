#pragma once
#include <string>

// The bytes of text as upper-case hex, as MariaDB's HEX() writes them.
inline std::string Hex(const std::string& text) {
  static const char digits[] = "0123456789ABCDEF";
  std::string hex;
  for (unsigned char c : text) {
    hex += digits[c >> 4];
    hex += digits[c & 15];
  }
  return hex;
}
