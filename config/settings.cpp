#include "config/settings.h"

#include <array>

namespace {

enum class Rule {
  NonZero,       // on unless stored as 0, so a missing value is on
  ExactlyOne,    // on only when stored as 1
  DefaultIfEmpty,
  AsStored,
};

struct Setting {
  const char* name;
  Rule rule;
  bool PluginSettings::*flag;
  std::string PluginSettings::*text;
  const char* fallback;
};

using S = PluginSettings;
// Load and save order.
const std::array<Setting, 19> kSettings{{
    {"mIRC Active", Rule::NonZero, &S::mIRCActive, nullptr, nullptr},
    {"mIRC DDE Name", Rule::DefaultIfEmpty, nullptr, &S::mIRCDDEName, "mIRC"},
    {"mIRC DDE Command", Rule::DefaultIfEmpty, nullptr, &S::mIRCDDECommand,
     "/ame is listening to %artist% - %title%"},
    {"MSN Active", Rule::NonZero, &S::MSNActive, nullptr, nullptr},
    {"MSN Clear", Rule::NonZero, &S::MSNClear, nullptr, nullptr},
    {"MSN Default Format", Rule::NonZero, &S::MSNDefaultFormat, nullptr, nullptr},
    {"MSN Format", Rule::DefaultIfEmpty, nullptr, &S::MSNFormat, "%artist% - %title%"},
    {"Ignore Exts", Rule::NonZero, &S::IgnoreExts, nullptr, nullptr},
    {"Ignore Ext List", Rule::DefaultIfEmpty, nullptr, &S::IgnoreExtList, "avi,mpg,mpeg,wmv"},
    {"MySQL Active", Rule::ExactlyOne, &S::MySQLActive, nullptr, nullptr},
    {"MySQL Server", Rule::AsStored, nullptr, &S::MySQLServer, nullptr},
    {"MySQL UserName", Rule::AsStored, nullptr, &S::MySQLUserName, nullptr},
    {"MySQL Password", Rule::AsStored, nullptr, &S::MySQLPassword, nullptr},
    {"MySQL Command", Rule::DefaultIfEmpty, nullptr, &S::MySQLCommand,
     "insert into `tolby`.`winamp_played` (`fulltitle`) values ('%artist% - %title%')"},
    {"MySQL SSH", Rule::ExactlyOne, &S::MySQLSSH, nullptr, nullptr},
    {"SSH Active", Rule::ExactlyOne, &S::SSHActive, nullptr, nullptr},
    {"SSH Server", Rule::AsStored, nullptr, &S::SSHServer, nullptr},
    {"SSH UserName", Rule::AsStored, nullptr, &S::SSHUserName, nullptr},
    {"SSH Password", Rule::AsStored, nullptr, &S::SSHPassword, nullptr},
}};

}  // namespace

void LoadSettings(SettingsRegistry& registry, PluginSettings& settings) {
  for (const Setting& s : kSettings) {
    switch (s.rule) {
      case Rule::NonZero:
        settings.*s.flag = ReadSettingInteger(registry, s.name, kSettingsSection) != 0;
        break;
      case Rule::ExactlyOne:
        settings.*s.flag = ReadSettingInteger(registry, s.name, kSettingsSection) == 1;
        break;
      case Rule::DefaultIfEmpty: {
        std::string text = ReadSettingString(registry, s.name, kSettingsSection);
        settings.*s.text = text.empty() ? s.fallback : std::move(text);
        break;
      }
      case Rule::AsStored:
        settings.*s.text = ReadSettingString(registry, s.name, kSettingsSection);
        break;
    }
  }
}

void SaveSettings(SettingsRegistry& registry, const PluginSettings& settings,
                  const std::function<void()>& clearMsn) {
  for (const Setting& s : kSettings) {
    if (s.flag) {
      const bool on = settings.*s.flag;
      WriteSettingInteger(registry, s.name, on ? 1 : 0, kSettingsSection);
      if (s.flag == &S::MSNActive && !on && clearMsn) clearMsn();
    } else {
      WriteSettingString(registry, s.name, settings.*s.text, kSettingsSection);
    }
  }
}
