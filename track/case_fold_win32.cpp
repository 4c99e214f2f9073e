#include <windows.h>

#include <array>

#include "track/case_fold.h"

namespace {
// Built when the module loads: the values 0 to 255 upper-cased in place in one call.
std::array<unsigned char, 256> BuildTable() {
  std::array<unsigned char, 256> table{};
  for (int b = 0; b < 256; ++b) table[b] = static_cast<unsigned char>(b);
  CharUpperBuffA(reinterpret_cast<char*>(table.data()), static_cast<DWORD>(table.size()));
  return table;
}
const std::array<unsigned char, 256> kTable = BuildTable();
}  // namespace

const unsigned char* CaseFoldTable() noexcept { return kTable.data(); }
