#include "config/secret.h"

// Not protection: a reversible wrapping that keeps the text's bytes out of the stored value and,
// like the real one, refuses a blob made with other entropy.
namespace {

constexpr std::string_view kMagic = "standin-secret:";
constexpr char kMask = 0x5A;

std::string Header(std::string_view entropy) { return std::string(kMagic) + std::string(entropy) + '\0'; }

std::string Masked(std::string_view bytes) {
  std::string out(bytes);
  for (char& c : out) c = static_cast<char>(c ^ kMask);
  return out;
}

}  // namespace

std::optional<std::string> ProtectSecret(std::string_view text, std::string_view entropy) {
  return Header(entropy) + Masked(text);
}

std::optional<std::string> UnprotectSecret(std::string_view blob, std::string_view entropy) {
  const std::string header = Header(entropy);
  if (!blob.starts_with(header)) return std::nullopt;
  return Masked(blob.substr(header.size()));
}
