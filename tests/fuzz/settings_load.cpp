// LoadSettings over a settings key whose values the input makes up: any of them missing, of any
// type, of any size, with or without a terminating NUL. Each field must follow its row's load rule,
// and saving what was loaded and loading it again must give the same settings.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "config/secret.h"
#include "config/settings.h"

namespace {

constexpr std::size_t kRows = std::size(kSettingRows);

// The settings key as an array by value name: a map keyed by path would spend the run allocating.
class Key : public SettingsRegistry {
 public:
  std::array<std::optional<RegistryValue>, kRows> values;
  int writes = 0;

  std::optional<RegistryValue> Read(const std::string& section, const std::string& name) override {
    const int i = Index(section, name);
    return i < 0 ? std::nullopt : values[i];
  }
  bool Write(const std::string& section, const std::string& name, const RegistryValue& value) override {
    const int i = Index(section, name);
    if (i < 0) std::abort();
    values[i] = value;
    ++writes;
    return true;
  }
  const RegistryValue* Get(const char* name) const {
    const std::optional<RegistryValue>& v = values[Index(kSettingsSection, name)];
    return v ? &*v : nullptr;
  }

 private:
  static int Index(const std::string& section, const std::string& name) {
    if (section != kSettingsSection) return -1;
    for (std::size_t i = 0; i < kRows; ++i)
      if (name == kSettingRows[i].name) return static_cast<int>(i);
    return -1;
  }
};

constexpr std::uint32_t kTypes[] = {kRegSz, kRegExpandSz, kRegBinary, kRegDword, 0, 5, 7, 11};

// What the registry routines must make of one stored value, from their rules.
std::int32_t Integer(const RegistryValue* v) {
  if (!v || v->type != kRegDword || v->data.size() != 4) return -1;
  std::int32_t n;
  std::memcpy(&n, v->data.data(), 4);
  return n;
}
std::string Text(const RegistryValue* v) {
  if (!v || (v->type != kRegSz && v->type != kRegExpandSz)) return {};
  return std::string(v->data.c_str());
}

// Equal in every value the save writes: the others are kept elsewhere and do not come back.
bool SameSaved(const PluginSettings& a, const PluginSettings& b) {
  for (const SettingRow& row : kSettingRows)
    if (row.written == Written::BySave &&
        (row.flag ? a.*row.flag != b.*row.flag : a.*row.text != b.*row.text))
      return false;
  return true;
}

// What each row's load rule must make of the stored value.
bool Follows(const SettingRow& row, const PluginSettings& s, const RegistryValue* stored) {
  switch (row.load.rule) {
    case LoadRule::NonZero:
      return s.*row.flag == (Integer(stored) != 0);
    case LoadRule::ExactlyOne:
      return s.*row.flag == (Integer(stored) == 1);
    case LoadRule::DefaultIfEmpty:
      return s.*row.text == (Text(stored).empty() ? std::string(row.load.fallback) : Text(stored));
    case LoadRule::AsStored:
      return s.*row.text == Text(stored);
    case LoadRule::Secret:
      // A sealed blob opens to its text, or to nothing when it cannot be opened; any other form is
      // the plain text an older version stored.
      if (stored && stored->type == kRegBinary)
        return s.*row.text ==
               (stored->data.empty() ? std::string() : UnprotectSecret(stored->data).value_or(std::string()));
      return s.*row.text == Text(stored);
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  Key registry;
  while (input.remaining_bytes() > 0) {
    const std::size_t name = input.ConsumeIntegralInRange<std::size_t>(0, kRows - 1);
    const std::uint32_t type = input.ConsumeBool() ? kTypes[input.ConsumeIntegralInRange(0, 7)]
                                                   : input.ConsumeIntegral<std::uint32_t>();
    registry.values[name] = RegistryValue{type, input.ConsumeRandomLengthString(64)};
  }

  PluginSettings s;
  LoadSettings(registry, s);
  for (const SettingRow& row : kSettingRows)
    if (!Follows(row, s, registry.Get(row.name))) std::abort();

  Key saved;
  SaveSettings(saved, s, [] {});
  PluginSettings again;
  LoadSettings(saved, again);
  const auto written = std::count_if(std::begin(kSettingRows), std::end(kSettingRows),
                                     [](const SettingRow& row) { return row.written == Written::BySave; });
  if (!SameSaved(again, s) || saved.writes != written) std::abort();
  return 0;
}
