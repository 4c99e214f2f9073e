#include "tunnel/host_port.h"

#include <algorithm>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// 1 to 65535 in decimal digits, leading zeros allowed.
std::optional<std::uint16_t> ParsePort(std::string_view text, std::string& why) {
  if (text.empty()) {
    why = "the port is empty";
    return std::nullopt;
  }
  if (!std::all_of(text.begin(), text.end(), IsDigit)) {
    why = "the port is not a number";
    return std::nullopt;
  }
  const std::size_t first = std::min(text.find_first_not_of('0'), text.size());
  const std::string_view digits = text.substr(first);
  unsigned long value = 0;
  for (char c : digits.substr(0, 6)) value = value * 10 + static_cast<unsigned long>(c - '0');
  if (digits.size() > 5 || value < 1 || value > 65535) {
    why = "the port is not between 1 and 65535";
    return std::nullopt;
  }
  return static_cast<std::uint16_t>(value);
}

}  // namespace

std::optional<HostPort> ParseHostPort(std::string_view field, std::uint16_t defaultPort, std::string& why) {
  why.clear();
  if (field.empty()) {
    why = "it is empty";
    return std::nullopt;
  }
  if (std::any_of(field.begin(), field.end(), [](char c) { return static_cast<unsigned char>(c) <= ' '; })) {
    why = "it holds a blank or a control character";
    return std::nullopt;
  }
  HostPort result;
  std::string_view rest;
  if (field.front() == '[') {
    const std::size_t close = field.find(']');
    if (close == std::string_view::npos) {
      why = "the bracket after the IPv6 address is missing";
      return std::nullopt;
    }
    result.host = std::string(field.substr(1, close - 1));
    if (result.host.find(':') == std::string::npos || result.host.find('[') != std::string::npos) {
      why = "the brackets do not hold an IPv6 address";
      return std::nullopt;
    }
    rest = field.substr(close + 1);
    if (!rest.empty() && rest.front() != ':') {
      why = "only \":port\" may follow the brackets";
      return std::nullopt;
    }
  } else {
    const std::size_t colon = field.find(':');
    if (colon != std::string_view::npos && field.find(':', colon + 1) != std::string_view::npos) {
      why = "an IPv6 address must be written in brackets, as [::1]:22";
      return std::nullopt;
    }
    result.host = std::string(field.substr(0, colon));
    if (colon != std::string_view::npos) rest = field.substr(colon);
    if (result.host.empty()) {
      why = "the host is empty";
      return std::nullopt;
    }
    if (result.host.find_first_of("[]") != std::string::npos) {
      why = "the host holds a bracket";
      return std::nullopt;
    }
  }
  result.port = defaultPort;
  if (!rest.empty()) {
    const std::optional<std::uint16_t> port = ParsePort(rest.substr(1), why);
    if (!port) return std::nullopt;
    result.port = *port;
  }
  return result;
}
