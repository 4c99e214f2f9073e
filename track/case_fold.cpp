#include "track/case_fold.h"

#include <array>

namespace {
// ASCII letters only: text is UTF-8, and folding the bytes of multi-byte sequences would make
// different characters compare equal.
std::array<unsigned char, 256> BuildTable() {
  std::array<unsigned char, 256> table{};
  for (int b = 0; b < 256; ++b)
    table[b] = static_cast<unsigned char>(b >= 'a' && b <= 'z' ? b - 'a' + 'A' : b);
  return table;
}
const std::array<unsigned char, 256> kTable = BuildTable();
}  // namespace

const unsigned char* CaseFoldTable() noexcept { return kTable.data(); }
