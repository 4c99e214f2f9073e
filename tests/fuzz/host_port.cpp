// The host and port fields, against rules stated independently of the parser: whatever it
// accepts has a host without blanks and a port from 1 to 65535, and reads back the same when
// written out again; a plain name without colons or brackets is always accepted with the default
// port; a refusal always says why.
#include "tunnel/host_port.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string why;
  const std::optional<HostPort> parsed = ParseHostPort(text, 22, why);
  bool plainName = !text.empty();
  for (unsigned char c : text) plainName = plainName && c > ' ' && c != ':' && c != '[' && c != ']';
  if (plainName && (!parsed || parsed->host != text || parsed->port != 22)) std::abort();
  if (!parsed) {
    if (why.empty()) std::abort();
    return 0;
  }
  if (!why.empty() || parsed->host.empty() || parsed->port == 0) std::abort();
  for (unsigned char c : parsed->host)
    if (c <= ' ') std::abort();
  const bool v6 = parsed->host.find(':') != std::string::npos;
  const std::string written =
      (v6 ? "[" + parsed->host + "]" : parsed->host) + ":" + std::to_string(parsed->port);
  const std::optional<HostPort> again = ParseHostPort(written, 1, why);
  if (!again || !(*again == *parsed)) std::abort();
  return 0;
}
