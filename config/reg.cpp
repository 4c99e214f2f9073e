#include "config/reg.h"

#include <cstring>

#include "config/secret.h"

std::int32_t ReadSettingInteger(SettingsRegistry& registry, const std::string& name,
                                const std::string& section) {
  std::optional<RegistryValue> value = registry.Read(section, name);
  if (!value || value->type != kRegDword || value->data.size() != sizeof(std::int32_t)) return -1;
  std::int32_t result;
  std::memcpy(&result, value->data.data(), sizeof result);
  return result;
}

namespace {
std::string TextOf(const std::optional<RegistryValue>& value) {
  if (!value || (value->type != kRegSz && value->type != kRegExpandSz)) return {};
  return value->data.substr(0, value->data.find('\0'));
}
}  // namespace

std::string ReadSettingString(SettingsRegistry& registry, const std::string& name,
                              const std::string& section) {
  return TextOf(registry.Read(section, name));
}

StoredSecret ReadSettingSecret(SettingsRegistry& registry, const std::string& name,
                               const std::string& section) {
  std::optional<RegistryValue> value = registry.Read(section, name);
  if (!value || value->type != kRegBinary) return {TextOf(value)};
  if (value->data.empty()) return {};
  std::optional<std::string> text = UnprotectSecret(value->data);
  if (!text) return {{}, true};
  return {std::move(*text)};
}

namespace {
std::string FailedToSet(const std::string& name) { return "Failed to set data for '" + name + "'"; }

void Write(SettingsRegistry& registry, const std::string& section, const std::string& name,
           RegistryValue value) {
  if (!registry.Write(section, name, value)) throw ERegistryException(FailedToSet(name));
}
}  // namespace

void WriteSettingInteger(SettingsRegistry& registry, const std::string& name, std::int32_t value,
                         const std::string& section) {
  std::string bytes(sizeof value, '\0');
  std::memcpy(bytes.data(), &value, sizeof value);
  Write(registry, section, name, {kRegDword, std::move(bytes)});
}

void WriteSettingString(SettingsRegistry& registry, const std::string& name, const std::string& value,
                        const std::string& section) {
  // Stored with its terminating NUL, as REG_SZ values are.
  Write(registry, section, name, {kRegSz, value + '\0'});
}

void WriteSettingSecret(SettingsRegistry& registry, const std::string& name, const std::string& value,
                        const std::string& section) {
  if (value.empty()) return Write(registry, section, name, {kRegBinary, {}});
  std::optional<std::string> blob = ProtectSecret(value);
  if (!blob) throw ERegistryException(FailedToSet(name));
  Write(registry, section, name, {kRegBinary, std::move(*blob)});
}
