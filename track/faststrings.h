#pragma once
// Replace-all for long texts: one pass of Horspool's search, case folding through a table.
#include <cstddef>
#include <string>
#include <string_view>

// Every non-overlapping occurrence of find in source, left to right, becomes replacement.
// Letter case is ignored unless caseSensitive. An empty source or find returns source.
std::string ReplaceAll(std::string_view source, std::string_view find, std::string_view replacement,
                       bool caseSensitive = false);

// The position of the first occurrence of find in source at or after from, letter case treated as
// ReplaceAll treats it; npos when there is none or find is empty.
std::size_t FindText(std::string_view source, std::string_view find, std::size_t from = 0,
                     bool caseSensitive = false);

namespace replace_detail {
// The result buffer's size before the first piece is written.
std::size_t InitialCapacity(std::size_t source, std::size_t find, std::size_t replacement);
// The size the buffer grows to when the next piece does not fit.
std::size_t Grown(std::size_t capacity);
}  // namespace replace_detail
