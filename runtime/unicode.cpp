#include "runtime/unicode.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// The code point starting at pos, advancing pos past it; one ill-formed byte gives U+FFFD.
char32_t DecodeUtf8(std::string_view text, std::size_t& pos) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(pos++);
  if (lead < 0x80) return lead;
  std::size_t extra;
  char32_t point;
  char32_t min;
  if (lead >= 0xC2 && lead <= 0xDF)
    extra = 1, point = lead & 0x1F, min = 0x80;
  else if (lead >= 0xE0 && lead <= 0xEF)
    extra = 2, point = lead & 0x0F, min = 0x800;
  else if (lead >= 0xF0 && lead <= 0xF4)
    extra = 3, point = lead & 0x07, min = 0x10000;
  else
    return kReplacement;
  std::size_t i = pos;
  for (std::size_t n = 0; n < extra; ++n, ++i) {
    if (i >= text.size() || (byte(i) & 0xC0) != 0x80) return kReplacement;
    point = (point << 6) | (byte(i) & 0x3F);
  }
  if (point < min || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return kReplacement;
  pos = i;
  return point;
}

void EncodeUtf8(char32_t point, std::string& out) {
  if (point < 0x80) {
    out += static_cast<char>(point);
  } else if (point < 0x800) {
    out += static_cast<char>(0xC0 | (point >> 6));
    out += static_cast<char>(0x80 | (point & 0x3F));
  } else if (point < 0x10000) {
    out += static_cast<char>(0xE0 | (point >> 12));
    out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (point & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (point >> 18));
    out += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (point & 0x3F));
  }
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  for (std::size_t pos = 0; pos < utf8.size();) {
    const char32_t point = DecodeUtf8(utf8, pos);
    if (point < 0x10000) {
      out += static_cast<char16_t>(point);
    } else {
      out += static_cast<char16_t>(0xD800 + ((point - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((point - 0x10000) & 0x3FF));
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    const char16_t unit = utf16[i];
    char32_t point = unit;
    if (IsHighSurrogate(unit) && i + 1 < utf16.size() && IsLowSurrogate(utf16[i + 1]))
      point = 0x10000 + ((char32_t{unit} - 0xD800) << 10) + (utf16[++i] - 0xDC00);
    else if (IsHighSurrogate(unit) || IsLowSurrogate(unit))
      point = kReplacement;
    EncodeUtf8(point, out);
  }
  return out;
}

std::string WithinBmp(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t pos = 0; pos < utf8.size();) {
    std::size_t next = pos;
    const auto lead = static_cast<unsigned char>(utf8[pos]);
    if (lead >= 0xF0 && lead <= 0xF4 && DecodeUtf8(utf8, next) != kReplacement && next == pos + 4) {
      out += "\xEF\xBF\xBD";
      pos = next;
    } else {
      out += utf8[pos++];
    }
  }
  return out;
}
