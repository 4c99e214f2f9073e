#include "config/reg_win32.h"

#include <utility>

#include "runtime/handles_win32.h"
#include "runtime/registry_win32.h"
#include "runtime/unicode_win32.h"

namespace {

unique_hkey OpenSection(const std::string& section) {
  const std::string path = std::string(kSettingsBaseKey) + "\\" + section;
  HKEY raw = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, Wide(path).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_READ | KEY_WRITE, nullptr, &raw, nullptr) != ERROR_SUCCESS)
    return {};
  return unique_hkey(raw);
}

}  // namespace

std::optional<RegistryValue> RegistrySettingsStore::Read(const std::string& section,
                                                         const std::string& name) {
  unique_hkey key = OpenSection(section);
  if (!key) return std::nullopt;
  std::optional<RegistryData> value = QueryRegistryValue(key.get(), name);
  if (!value) return std::nullopt;
  return RegistryValue{value->type, std::move(value->bytes)};
}

bool RegistrySettingsStore::Write(const std::string& section, const std::string& name,
                                  const RegistryValue& value) {
  unique_hkey key = OpenSection(section);
  return key && SetRegistryValue(key.get(), name, value.type, value.data);
}
