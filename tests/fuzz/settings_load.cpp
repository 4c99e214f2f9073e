// LoadSettings over a settings key whose values the input makes up: any of them missing, of any
// type, of any size, with or without a terminating NUL. Each field must follow its load rule, and
// saving what was loaded and loading it again must give the same settings.
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "config/settings.h"

namespace {

const char* const kNames[] = {"mIRC Active",     "mIRC DDE Name",      "mIRC DDE Command", "MSN Active",
                              "MSN Clear",       "MSN Default Format", "MSN Format",       "Ignore Exts",
                              "Ignore Ext List", "MySQL Active",       "MySQL Server",     "MySQL UserName",
                              "MySQL Password",  "MySQL Command",      "MySQL SSH",        "SSH Active",
                              "SSH Server",      "SSH UserName",       "SSH Password"};

// The settings key as an array by value name: a map keyed by path would spend the run allocating.
class Key : public SettingsRegistry {
 public:
  std::array<std::optional<RegistryValue>, 19> values;
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
    for (int i = 0; i < 19; ++i)
      if (name == kNames[i]) return i;
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

bool operator==(const PluginSettings& a, const PluginSettings& b) {
  return a.mIRCActive == b.mIRCActive && a.mIRCDDEName == b.mIRCDDEName &&
         a.mIRCDDECommand == b.mIRCDDECommand && a.MSNActive == b.MSNActive && a.MSNClear == b.MSNClear &&
         a.MSNDefaultFormat == b.MSNDefaultFormat && a.MSNFormat == b.MSNFormat &&
         a.IgnoreExts == b.IgnoreExts && a.IgnoreExtList == b.IgnoreExtList &&
         a.MySQLActive == b.MySQLActive && a.MySQLServer == b.MySQLServer &&
         a.MySQLUserName == b.MySQLUserName && a.MySQLPassword == b.MySQLPassword &&
         a.MySQLCommand == b.MySQLCommand && a.MySQLSSH == b.MySQLSSH && a.SSHActive == b.SSHActive &&
         a.SSHServer == b.SSHServer && a.SSHUserName == b.SSHUserName && a.SSHPassword == b.SSHPassword;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  Key registry;
  while (input.remaining_bytes() > 0) {
    const std::size_t name = input.ConsumeIntegralInRange<std::size_t>(0, 18);
    const std::uint32_t type = input.ConsumeBool() ? kTypes[input.ConsumeIntegralInRange(0, 7)]
                                                   : input.ConsumeIntegral<std::uint32_t>();
    registry.values[name] = RegistryValue{type, input.ConsumeRandomLengthString(64)};
  }

  PluginSettings s;
  LoadSettings(registry, s);
  auto on = [&](const char* name) { return Integer(registry.Get(name)) != 0; };
  auto one = [&](const char* name) { return Integer(registry.Get(name)) == 1; };
  auto text = [&](const char* name, const char* fallback = "") {
    const std::string t = Text(registry.Get(name));
    return t.empty() ? std::string(fallback) : t;
  };
  PluginSettings expected;
  expected.mIRCActive = on("mIRC Active");
  expected.mIRCDDEName = text("mIRC DDE Name", "mIRC");
  expected.mIRCDDECommand = text("mIRC DDE Command", "/ame is listening to %artist% - %title%");
  expected.MSNActive = on("MSN Active");
  expected.MSNClear = on("MSN Clear");
  expected.MSNDefaultFormat = on("MSN Default Format");
  expected.MSNFormat = text("MSN Format", "%artist% - %title%");
  expected.IgnoreExts = on("Ignore Exts");
  expected.IgnoreExtList = text("Ignore Ext List", "avi,mpg,mpeg,wmv");
  expected.MySQLActive = one("MySQL Active");
  expected.MySQLServer = text("MySQL Server");
  expected.MySQLUserName = text("MySQL UserName");
  expected.MySQLPassword = text("MySQL Password");
  expected.MySQLCommand = text(
      "MySQL Command", "insert into `tolby`.`winamp_played` (`fulltitle`) values ('%artist% - %title%')");
  expected.MySQLSSH = one("MySQL SSH");
  expected.SSHActive = one("SSH Active");
  expected.SSHServer = text("SSH Server");
  expected.SSHUserName = text("SSH UserName");
  expected.SSHPassword = text("SSH Password");
  if (!(s == expected)) std::abort();

  Key saved;
  SaveSettings(saved, s, [] {});
  PluginSettings again;
  LoadSettings(saved, again);
  if (!(again == s) || saved.writes != 19) std::abort();
  return 0;
}
