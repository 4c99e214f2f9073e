// The connection wrapper's server-version parse over any text, against conversions written from
// their rules: major and minor strictly (a sign and decimal digits in the 32-bit range, else the
// conversion error and nothing else), the release leniently (its leading digits, never an error).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>

#include "database/kivMySQL.h"
#include "track/globals_misc.h"

namespace {

std::optional<std::int32_t> ReferenceStrict(const std::string& text) {
  std::size_t digits = text.find_first_not_of("+-") == 1 ? 1 : 0;
  if (text.size() == digits || text.find_first_not_of("0123456789", digits) != std::string::npos)
    return std::nullopt;
  // Leading zeros do not count towards the range.
  const std::size_t first = std::min(text.find_first_not_of('0', digits), text.size());
  if (text.size() - first > 10) return std::nullopt;
  long long value = first == text.size() ? 0 : std::stoll(text.substr(first));
  if (text[0] == '-') value = -value;
  if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max())
    return std::nullopt;
  return static_cast<std::int32_t>(value);
}

std::int32_t ReferenceLenient(const std::string& text) {
  const std::string digits = text.substr(0, text.find_first_not_of("0123456789"));
  const std::size_t first = std::min(digits.find_first_not_of('0'), digits.size());
  if (digits.size() - first > 10) return std::numeric_limits<std::int32_t>::max();
  const long long value = first == digits.size() ? 0 : std::stoll(digits.substr(first));
  return static_cast<std::int32_t>(std::min<long long>(value, std::numeric_limits<std::int32_t>::max()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string info(reinterpret_cast<const char*>(data), size);
  // The field picks are checked by their own target; here they only cut the text up.
  const std::string version = GetField(info, '-', 1);
  const std::optional<std::int32_t> major = ReferenceStrict(GetField(version, '.', 1));
  const std::optional<std::int32_t> minor = ReferenceStrict(GetField(version, '.', 2));
  const std::int32_t release = ReferenceLenient(GetField(version, '.', 3));
  try {
    const ServerVersion parsed = ParseServerVersion(info);
    if (!major || !minor || parsed.Major != *major || parsed.Minor != *minor || parsed.Release != release)
      std::abort();
  } catch (const EConvertError&) {
    if (major && minor) std::abort();
  }
  return 0;
}
