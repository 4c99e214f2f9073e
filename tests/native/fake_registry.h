#pragma once
// An in-memory settings key that records the order of writes and can refuse one value.
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "config/reg.h"

class FakeRegistry : public SettingsRegistry {
 public:
  std::optional<RegistryValue> Read(const std::string& section, const std::string& name) override {
    auto it = values.find(section + "\\" + name);
    if (it == values.end()) return std::nullopt;
    return it->second;
  }
  bool Write(const std::string& section, const std::string& name, const RegistryValue& value) override {
    if (name == refuse) return false;
    values[section + "\\" + name] = value;
    writes.push_back(name);
    return true;
  }

  void SetDword(const std::string& name, std::int32_t v) {
    std::string bytes(4, '\0');
    std::memcpy(bytes.data(), &v, 4);
    values["Global\\" + name] = {kRegDword, bytes};
  }
  void SetString(const std::string& name, const std::string& text, std::uint32_t type = kRegSz) {
    values["Global\\" + name] = {type, text + '\0'};
  }
  const RegistryValue* Get(const std::string& name) const {
    auto it = values.find("Global\\" + name);
    return it == values.end() ? nullptr : &it->second;
  }

  std::map<std::string, RegistryValue> values;
  std::vector<std::string> writes;
  std::string refuse;
};
