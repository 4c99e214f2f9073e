#include "config/settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "config/host_key_store.h"
#include "config/secret.h"
#include "diag/globals.h"
#include "fake_registry.h"
#include "log_platform_double.h"

namespace {

PluginSettings Load(FakeRegistry& registry) {
  PluginSettings settings;
  // Start from the opposite of every default, so that a value the load forgets shows.
  settings.mIRCActive = settings.MSNActive = settings.MSNClear = settings.MSNDefaultFormat = false;
  settings.IgnoreExts = false;
  settings.MySQLActive = settings.MySQLSSH = settings.SSHActive = true;
  settings.MySQLServer = "stale";
  LoadSettings(registry, settings);
  return settings;
}

TEST(LoadSettings, AnEmptyKeyGivesTheDefaults) {
  FakeRegistry registry;
  const PluginSettings s = Load(registry);
  EXPECT_TRUE(s.mIRCActive);
  EXPECT_TRUE(s.MSNActive);
  EXPECT_TRUE(s.MSNClear);
  EXPECT_TRUE(s.MSNDefaultFormat);
  EXPECT_TRUE(s.IgnoreExts);
  EXPECT_FALSE(s.MySQLActive);
  EXPECT_FALSE(s.MySQLSSH);
  EXPECT_FALSE(s.SSHActive);
  // The newer destinations stay off for a user who never saw them.
  EXPECT_FALSE(s.FileActive);
  EXPECT_TRUE(s.FileClear);
  EXPECT_FALSE(s.DiscordActive);
  EXPECT_EQ(s.FilePath, "%APPDATA%\\Skorrel\\nowplaying.txt");
  EXPECT_EQ(s.FileFormat, "%artist% - %title%");
  EXPECT_EQ(s.mIRCDDEName, "mIRC");
  EXPECT_EQ(s.mIRCDDECommand, "/ame is listening to %artist% - %title%");
  EXPECT_EQ(s.MSNFormat, "%artist% - %title%");
  EXPECT_EQ(s.IgnoreExtList, "avi,mpg,mpeg,wmv");
  EXPECT_EQ(s.MySQLCommand,
            "insert into `tolby`.`winamp_played` (`fulltitle`) values ('%artist% - %title%')");
  EXPECT_EQ(s.MySQLServer, "");
  EXPECT_EQ(s.SSHServer, "");
}

TEST(LoadSettings, NonZeroRuleAgainstExactlyOneRule) {
  FakeRegistry registry;
  registry.SetDword("MSN Active", 2);
  registry.SetDword("MSN Clear", -1);
  registry.SetDword("mIRC Active", 0);
  registry.SetDword("MySQL Active", 2);
  registry.SetDword("MySQL SSH", -1);
  registry.SetDword("SSH Active", 1);
  const PluginSettings s = Load(registry);
  EXPECT_TRUE(s.MSNActive);
  EXPECT_TRUE(s.MSNClear);
  EXPECT_FALSE(s.mIRCActive);
  EXPECT_FALSE(s.MySQLActive);
  EXPECT_FALSE(s.MySQLSSH);
  EXPECT_TRUE(s.SSHActive);
}

TEST(LoadSettings, ValuesOfTheWrongTypeReadAsMissing) {
  FakeRegistry registry;
  registry.SetString("SSH Active", "1");   // a string where a number belongs: off
  registry.SetString("Ignore Exts", "0");  // likewise, but missing means on
  registry.SetDword("MSN Format", 7);      // a number where a text belongs: the default
  registry.values["Global\\MySQL Server"] = {kRegBinary, "host"};
  registry.values["Global\\MySQL Active"] = {kRegDword, "\x01"};  // too short to be a DWORD
  const PluginSettings s = Load(registry);
  EXPECT_FALSE(s.SSHActive);
  EXPECT_TRUE(s.IgnoreExts);
  EXPECT_EQ(s.MSNFormat, "%artist% - %title%");
  EXPECT_EQ(s.MySQLServer, "");
  EXPECT_FALSE(s.MySQLActive);
}

TEST(LoadSettings, EmptyTextsTakeTheDefaultOnlyWhereThereIsOne) {
  FakeRegistry registry;
  registry.SetString("MSN Format", "");
  registry.SetString("MySQL Server", "");
  registry.SetString("mIRC DDE Name", "Other");
  const PluginSettings s = Load(registry);
  EXPECT_EQ(s.MSNFormat, "%artist% - %title%");
  EXPECT_EQ(s.MySQLServer, "");
  EXPECT_EQ(s.mIRCDDEName, "Other");
}

TEST(LoadSettings, ExpandableStringsAreReadUnexpandedAndCutAtTheirFirstNul) {
  FakeRegistry registry;
  registry.SetString("SSH Server", "%HOST%:22", kRegExpandSz);
  registry.values["Global\\MySQL Server"] = {kRegSz, std::string("db\0junk\0", 8)};
  registry.values["Global\\MySQL UserName"] = {kRegSz, "no terminator"};
  const PluginSettings s = Load(registry);
  EXPECT_EQ(s.SSHServer, "%HOST%:22");
  EXPECT_EQ(s.MySQLServer, "db");
  EXPECT_EQ(s.MySQLUserName, "no terminator");
}

// As an older version, this one, another account or something else left it.
TEST(LoadSettings, ASecretLoadsFromPlainTextOrItsBlobAndAnUnreadableBlobAsEmptyWithALine) {
  const std::pair<RegistryValue, const char*> cases[] = {
      {{kRegSz, std::string("pw\0", 3)}, "pw"},
      {{kRegBinary, *ProtectSecret("pw")}, "pw"},
      {{kRegBinary, ""}, ""},
      {{kRegBinary, *ProtectSecret("pw", "other")}, nullptr},
      {{kRegBinary, "pw"}, nullptr}};
  for (const auto& [stored, loaded] : cases) {
    const auto log = std::make_shared<RecordingLogPlatform>();
    StartLogClient(log, "viewer", "C:");
    FakeRegistry registry;
    registry.values["Global\\SSH Password"] = stored;
    EXPECT_EQ(Load(registry).SSHPassword, loaded ? loaded : "") << stored.data;
    StopLogClient();
    const auto lines = log->Sent();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const SentPacket& p) {
                              return p.Text() == "[gen_skorrel] " + UnreadableSecretLine("SSH Password");
                            }),
              loaded ? 0 : 1);
  }
}

TEST(SaveSettings, WritesEveryValueItOwnsInOrderWithTheirTypes) {
  FakeRegistry registry;
  PluginSettings settings;
  LoadSettings(registry, settings);
  settings.MySQLServer = "";
  SaveSettings(registry, settings, [] {});
  const std::vector<std::string> order{"mIRC Active",        "mIRC DDE Name",
                                       "mIRC DDE Command",   "MSN Active",
                                       "MSN Clear",          "MSN Default Format",
                                       "MSN Format",         "Ignore Exts",
                                       "Ignore Ext List",    "MySQL Active",
                                       "MySQL Server",       "MySQL UserName",
                                       "MySQL Password",     "MySQL Command",
                                       "MySQL SSH",          "SSH Active",
                                       "SSH Server",         "SSH UserName",
                                       "SSH Password",       "SSH Key File",
                                       "File Active",        "File Path",
                                       "File Format",        "File Clear",
                                       "Discord Active",     "Discord Application ID",
                                       "Discord Covers",     "Discord Shows",
                                       "iTunes Search API",  "Cover Art Archive API",
                                       "Outbox Path",        "ListenBrainz Active",
                                       "ListenBrainz Token", "ListenBrainz API",
                                       "Last.fm Active",     "Last.fm API Key",
                                       "Last.fm API Secret", "Last.fm Session Key",
                                       "Last.fm API"};
  EXPECT_EQ(registry.writes, order);
  EXPECT_EQ(registry.Get("mIRC Active")->type, kRegDword);
  EXPECT_EQ(registry.Get("mIRC Active")->data, std::string("\x01\0\0\0", 4));
  EXPECT_EQ(registry.Get("MySQL Active")->data, std::string(4, '\0'));
  EXPECT_EQ(registry.Get("MySQL Server")->type, kRegSz);
  EXPECT_EQ(registry.Get("MySQL Server")->data, std::string(1, '\0'));
  EXPECT_EQ(registry.Get("mIRC DDE Name")->data, std::string("mIRC\0", 5));
}

TEST(SaveSettings, ClearsTheMessengerRightAfterWritingMsnOff) {
  FakeRegistry registry;
  PluginSettings settings;
  std::vector<std::string> seenAtClear;
  int clears = 0;
  auto clear = [&] {
    ++clears;
    seenAtClear = registry.writes;
  };
  SaveSettings(registry, settings, clear);
  EXPECT_EQ(clears, 0);
  settings.MSNActive = false;
  registry.writes.clear();
  SaveSettings(registry, settings, clear);
  EXPECT_EQ(clears, 1);
  EXPECT_EQ(seenAtClear.back(), "MSN Active");
}

TEST(SaveSettings, StopsAtTheFirstRefusedValue) {
  FakeRegistry registry;
  registry.refuse = "MSN Format";
  PluginSettings settings;
  try {
    SaveSettings(registry, settings, [] {});
    FAIL() << "a refused write must raise";
  } catch (const ERegistryException& e) {
    EXPECT_STREQ(e.what(), "Failed to set data for 'MSN Format'");
  }
  EXPECT_EQ(registry.writes.back(), "MSN Default Format");
  EXPECT_EQ(registry.Get("Ignore Exts"), nullptr);
}

TEST(ApplyDefaults, GivesAnEmptiedTextItsDefaultAsTheNextLoadWouldAndLeavesTheRest) {
  FakeRegistry empty;
  PluginSettings loaded;
  LoadSettings(empty, loaded);
  PluginSettings emptied = loaded;
  emptied.FilePath = emptied.FileFormat = emptied.MySQLCommand = emptied.MSNFormat = "";
  emptied.MySQLServer = "";  // a text without a default stays empty
  ApplyDefaults(emptied);
  EXPECT_EQ(emptied.FilePath, loaded.FilePath);
  EXPECT_EQ(emptied.FileFormat, loaded.FileFormat);
  EXPECT_EQ(emptied.MySQLCommand, loaded.MySQLCommand);
  EXPECT_EQ(emptied.MSNFormat, loaded.MSNFormat);
  EXPECT_EQ(emptied.MySQLServer, "");
}

TEST(HostKeyStore, AViewMadeBeforeAForgetComparesWithALaterPinButNeverSetsOne) {
  FakeRegistry registry;
  const auto store = std::make_shared<HostKeyStore>(registry);
  const auto old = store->View();
  EXPECT_EQ(old->Check("ECDSA SHA256:old").verdict, HostKeyTrust::Verdict::Pinned);
  store->Forget();
  // A relay to the server the user moved away from finishes its handshake after the save.
  EXPECT_EQ(old->Check("ECDSA SHA256:old").verdict, HostKeyTrust::Verdict::Forgotten);
  EXPECT_EQ(store->Pinned(), "");
  const auto fresh = store->View();
  EXPECT_EQ(fresh->Check("ED25519 SHA256:new").verdict, HostKeyTrust::Verdict::Pinned);
  EXPECT_EQ(old->Check("ED25519 SHA256:new").verdict, HostKeyTrust::Verdict::Matches);
  EXPECT_EQ(old->Check("ECDSA SHA256:old").verdict, HostKeyTrust::Verdict::Mismatch);
  EXPECT_EQ(store->Pinned(), "ED25519 SHA256:new");
}

}  // namespace
