// The UTF-8 and UTF-16 conversions on any input: the output is always well formed, and well-formed
// input (decided here by the table of well-formed byte sequences) goes there and back unchanged.
#include "runtime/unicode.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

// Well-formed UTF-8, by the ranges each byte of a sequence may take after its lead.
bool WellFormedUtf8(const std::string& text) {
  const auto in = [](unsigned char b, unsigned lo, unsigned hi) { return b >= lo && b <= hi; };
  for (std::size_t i = 0; i < text.size();) {
    const auto b = [&](std::size_t k) {
      return i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0;
    };
    const unsigned char lead = b(0);
    std::size_t n = 0;
    unsigned lo = 0x80, hi = 0xBF;
    if (lead < 0x80)
      n = 1;
    else if (in(lead, 0xC2, 0xDF))
      n = 2;
    else if (in(lead, 0xE0, 0xEF))
      n = 3, lo = lead == 0xE0 ? 0xA0 : 0x80, hi = lead == 0xED ? 0x9F : 0xBF;
    else if (in(lead, 0xF0, 0xF4))
      n = 4, lo = lead == 0xF0 ? 0x90 : 0x80, hi = lead == 0xF4 ? 0x8F : 0xBF;
    else
      return false;
    if (n > 1 && !in(b(1), lo, hi)) return false;
    for (std::size_t k = 2; k < n; ++k)
      if (!in(b(k), 0x80, 0xBF)) return false;
    i += n;
  }
  return true;
}

bool WellFormedUtf16(const std::u16string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] >= 0xDC00 && text[i] <= 0xDFFF) return false;
    if (IsHighSurrogate(text[i]) && (++i >= text.size() || text[i] < 0xDC00 || text[i] > 0xDFFF))
      return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::u16string wide = Utf8ToUtf16(bytes);
  if (!WellFormedUtf16(wide)) std::abort();
  if (WellFormedUtf8(bytes) && Utf16ToUtf8(wide) != bytes) std::abort();

  std::u16string units;
  for (std::size_t i = 0; i + 1 < size; i += 2) units += static_cast<char16_t>(data[i] | data[i + 1] << 8);
  const std::string narrow = Utf16ToUtf8(units);
  if (!WellFormedUtf8(narrow)) std::abort();
  if (WellFormedUtf16(units) && Utf8ToUtf16(narrow) != units) std::abort();
  return 0;
}
