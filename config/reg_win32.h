#pragma once
#include "config/reg.h"

// The settings key under HKEY_CURRENT_USER, opened afresh (and created when missing) for every value.
class RegistrySettingsStore final : public SettingsRegistry {
 public:
  std::optional<RegistryValue> Read(const std::string& section, const std::string& name) override;
  bool Write(const std::string& section, const std::string& name, const RegistryValue& value) override;
};
