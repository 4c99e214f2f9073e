// Field splitting and ASCII lower case; the system drive is in globals_misc_win32.cpp.
#include "track/globals_misc.h"

int CountFields(std::string_view text, char separator) {
  int count = 0;
  bool atStart = true;
  for (char c : text) {
    if (c == separator) {
      atStart = true;
    } else {
      if (atStart) ++count;
      atStart = false;
    }
  }
  return count;
}

std::string GetField(std::string_view text, char separator, int index) {
  int number = 0;
  std::size_t pieceStart = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != separator) continue;
    if (i > pieceStart && ++number == index) return std::string(text.substr(pieceStart, i - pieceStart));
    pieceStart = i + 1;
  }
  // No separator: the whole text; otherwise the piece after the last one.
  return std::string(text.substr(pieceStart));
}

std::string LowerAscii(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}
