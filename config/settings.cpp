#include "config/settings.h"

#include <cstddef>
#include <iterator>
#include <string_view>

#include "diag/globals.h"

namespace {

// The number of fields of an aggregate: the most initialisers it takes.
struct AnyField {
  template <typename T>
  constexpr operator T() const;
};
template <typename T, typename... Fields>
constexpr std::size_t FieldCount() {
  if constexpr (requires { T{Fields{}..., AnyField{}}; })
    return FieldCount<T, Fields..., AnyField>();
  else
    return sizeof...(Fields);
}

constexpr bool IsFlagRule(LoadRule rule) { return rule == LoadRule::NonZero || rule == LoadRule::ExactlyOne; }

constexpr bool EveryRowHasOneFieldOfItsRulesKind() {
  for (const SettingRow& row : kSettingRows) {
    if ((row.flag == nullptr) == (row.text == nullptr)) return false;
    if ((row.flag != nullptr) != IsFlagRule(row.load.rule)) return false;
    const bool hasDefault = row.load.fallback != nullptr && *row.load.fallback != '\0';
    if (hasDefault != (row.load.rule == LoadRule::DefaultIfEmpty)) return false;
  }
  return true;
}

constexpr bool NoValueOrFieldHasTwoRows() {
  for (auto a = std::begin(kSettingRows); a != std::end(kSettingRows); ++a)
    for (auto b = std::next(a); b != std::end(kSettingRows); ++b)
      if (std::string_view(a->name) == b->name || (a->flag && a->flag == b->flag) ||
          (a->text && a->text == b->text))
        return false;
  return true;
}

// Each control holds exactly one setting, and each setting that has a control has one of these.
constexpr bool EveryControlHoldsOneSetting() {
  for (int id = kFirstSettingControl; id < kEndOfSettingControls; ++id) {
    int rows = 0;
    for (const SettingRow& row : kSettingRows) rows += row.control == id;
    if (rows != 1) return false;
  }
  for (const SettingRow& row : kSettingRows)
    if (row.control != kNoControl &&
        (row.control < kFirstSettingControl || row.control >= kEndOfSettingControls))
      return false;
  return true;
}

static_assert(EveryRowHasOneFieldOfItsRulesKind(),
              "a boolean field takes NonZero or ExactlyOne, a text AsStored or a non-empty DefaultIfEmpty");
static_assert(NoValueOrFieldHasTwoRows(), "a registry value or field is named by two rows");
static_assert(FieldCount<PluginSettings>() == std::size(kSettingRows),
              "a field of PluginSettings has no row");
static_assert(EveryControlHoldsOneSetting(),
              "a setting control is named by no row or by two, or a row names a control outside them");

}  // namespace

void LoadSettings(SettingsRegistry& registry, PluginSettings& settings) {
  for (const SettingRow& row : kSettingRows) {
    switch (row.load.rule) {
      case LoadRule::NonZero:
        settings.*row.flag = ReadSettingInteger(registry, row.name, kSettingsSection) != 0;
        break;
      case LoadRule::ExactlyOne:
        settings.*row.flag = ReadSettingInteger(registry, row.name, kSettingsSection) == 1;
        break;
      case LoadRule::DefaultIfEmpty: {
        std::string text = ReadSettingString(registry, row.name, kSettingsSection);
        settings.*row.text = text.empty() ? row.load.fallback : std::move(text);
        break;
      }
      case LoadRule::AsStored:
        settings.*row.text = ReadSettingString(registry, row.name, kSettingsSection);
        break;
      case LoadRule::Secret: {
        StoredSecret secret = ReadSettingSecret(registry, row.name, kSettingsSection);
        if (secret.unreadable) LogDebug(UnreadableSecretLine(row.name));
        settings.*row.text = std::move(secret.text);
        break;
      }
    }
  }
}

std::string UnreadableSecretLine(std::string_view name) {
  return "Config: the saved " + std::string(name) +
         " was protected for another Windows user or machine and cannot be read here; enter it again";
}

void ApplyDefaults(PluginSettings& settings) {
  for (const SettingRow& row : kSettingRows)
    if (row.load.rule == LoadRule::DefaultIfEmpty && (settings.*row.text).empty())
      settings.*row.text = row.load.fallback;
}

void SaveSettings(SettingsRegistry& registry, const PluginSettings& settings,
                  const std::function<void()>& clearMsn) {
  for (const SettingRow& row : kSettingRows) {
    if (row.written != Written::BySave) continue;
    if (row.flag) {
      const bool on = settings.*row.flag;
      WriteSettingInteger(registry, row.name, on ? 1 : 0, kSettingsSection);
      if (row.flag == &PluginSettings::MSNActive && !on && clearMsn) clearMsn();
    } else if (row.load.rule == LoadRule::Secret) {
      WriteSettingSecret(registry, row.name, settings.*row.text, kSettingsSection);
    } else {
      WriteSettingString(registry, row.name, settings.*row.text, kSettingsSection);
    }
  }
}
