#include "track/case_fold.h"

#include <array>

namespace {
// Natively only ASCII letters have an upper-case form, as in the C locale.
std::array<unsigned char, 256> BuildTable() {
  std::array<unsigned char, 256> table{};
  for (int b = 0; b < 256; ++b)
    table[b] = static_cast<unsigned char>(b >= 'a' && b <= 'z' ? b - 'a' + 'A' : b);
  return table;
}
const std::array<unsigned char, 256> kTable = BuildTable();
}  // namespace

const unsigned char* CaseFoldTable() noexcept { return kTable.data(); }
