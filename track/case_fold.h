#pragma once
// The 256-byte case-folding table: entry b is the upper-case form of byte b.
const unsigned char* CaseFoldTable() noexcept;
