#pragma once
// Small text helpers of the scrobbling requests.
#include <string>
#include <string_view>

std::string WithoutNul(std::string_view text);
// At most maxBytes of utf8, cut before a character, never inside one.
std::string Utf8Prefix(std::string_view utf8, std::size_t maxBytes);
std::string WithoutTrailingSlashes(std::string_view url);
// Percent-encoded but for the unreserved characters, for a form body or a query.
std::string FormEncoded(std::string_view text);
