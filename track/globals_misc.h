#pragma once
// Field splitting shared by the ignore list, the server version and host:port texts, and the
// system drive for the debug log's file.
#include <string>
#include <string_view>

// Number of maximal runs of characters other than separator; empty runs are not fields.
int CountFields(std::string_view text, char separator);

// Field number index (from 1) in the sense of CountFields. An index outside 1..CountFields gives
// the text after the last separator, or the whole text when there is no separator.
std::string GetField(std::string_view text, char separator, int index);

// The two-character drive that holds the system, such as "C:". Windows only.
std::string SystemDrive();
