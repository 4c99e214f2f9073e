#pragma once
// The one reading of the "SSH Server" and tunnel target ("MySQL Server") fields: a host, optionally
// followed by ":port", or an IPv6 literal in brackets with or without a port. Anything else is
// refused with a reason, so that no connection goes to a port the user did not mean.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct HostPort {
  std::string host;  // without brackets
  std::uint16_t port = 0;

  bool operator==(const HostPort&) const = default;
};

// The field's host and port, defaultPort when it names none; empty with why filled when refused.
std::optional<HostPort> ParseHostPort(std::string_view field, std::uint16_t defaultPort, std::string& why);
