#pragma once
// Small text and path helpers: field splitting, ASCII lower case, the system drive.
#include <string>
#include <string_view>

// Number of maximal runs of characters other than separator; empty runs are not fields.
int CountFields(std::string_view text, char separator);

// Field number index (from 1) in the sense of CountFields. An index outside 1..CountFields gives
// the text after the last separator, or the whole text when there is no separator.
std::string GetField(std::string_view text, char separator, int index);

// The text with only the letters A to Z made lower case.
std::string LowerAscii(std::string text);

// The two-character drive that holds the system, such as "C:". Windows only.
std::string SystemDrive();
