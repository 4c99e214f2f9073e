#pragma once
// The registry routines of the settings. Each opens the section's key by itself (creating
// it when missing), does one value and closes the key again.
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegExpandSz = 2;
constexpr std::uint32_t kRegBinary = 3;
constexpr std::uint32_t kRegDword = 4;

// Under HKEY_CURRENT_USER; every value of the plug-in lies in its "Global" subkey.
constexpr const char* kSettingsBaseKey = "Software\\Brenwick\\Winamp Plugins\\Skorrel";
constexpr const char* kSettingsSection = "Global";

struct RegistryValue {
  std::uint32_t type = 0;
  std::string data;  // the bytes as stored; a text value's as UTF-8
};

// The registry key of the settings: the one platform seam of this module.
class SettingsRegistry {
 public:
  virtual ~SettingsRegistry() = default;
  // Nothing when the value is missing or cannot be read.
  virtual std::optional<RegistryValue> Read(const std::string& section, const std::string& name) = 0;
  // False when the key cannot be opened or the value not stored.
  virtual bool Write(const std::string& section, const std::string& name, const RegistryValue& value) = 0;
};

class ERegistryException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The stored 32-bit integer, or -1 when the value is missing, not a REG_DWORD or unreadable.
std::int32_t ReadSettingInteger(SettingsRegistry& registry, const std::string& name,
                                const std::string& section);
// The stored text up to its first NUL; empty unless the value is a REG_SZ or REG_EXPAND_SZ (which
// is not expanded).
std::string ReadSettingString(SettingsRegistry& registry, const std::string& name,
                              const std::string& section);
// Both raise ERegistryException "Failed to set data for '<name>'" when the write fails.
void WriteSettingInteger(SettingsRegistry& registry, const std::string& name, std::int32_t value,
                         const std::string& section);
void WriteSettingString(SettingsRegistry& registry, const std::string& name, const std::string& value,
                        const std::string& section);

// A secret is stored as a REG_BINARY of its protected bytes (secret.h); an empty one as an empty
// REG_BINARY, which needs no protection. A REG_SZ is read as the plain text an older version wrote.
struct StoredSecret {
  std::string text;
  bool unreadable = false;  // a blob that does not open here: made for another user or machine
};
StoredSecret ReadSettingSecret(SettingsRegistry& registry, const std::string& name,
                               const std::string& section);
// Raises ERegistryException "Failed to set data for '<name>'" when the text cannot be protected, so
// a secret never falls back to plain text, or when the write fails.
void WriteSettingSecret(SettingsRegistry& registry, const std::string& name, const std::string& value,
                        const std::string& section);
