#pragma once
// Secrets at rest: a setting's text sealed so that only the same user on the same machine opens it
// again. On Windows this is the user's data protection (DPAPI); elsewhere a reversible stand-in
// with the same contract, so the settings' rules are tested natively.
#include <optional>
#include <string>
#include <string_view>

// Mixed into every seal: a blob another program made for the same user does not open as ours.
inline constexpr std::string_view kSecretEntropy = "Skorrel: a setting's secret";

// The sealed bytes; nothing when the platform refuses to seal.
std::optional<std::string> ProtectSecret(std::string_view text, std::string_view entropy = kSecretEntropy);
// The text; nothing when the blob was sealed for another user, machine or entropy, or is no blob.
std::optional<std::string> UnprotectSecret(std::string_view blob, std::string_view entropy = kSecretEntropy);
