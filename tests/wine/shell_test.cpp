// The real DLL inside the stand-in player, against the registry of the private Wine prefix.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "wine/wine_support.h"

namespace {

using namespace wine;

const char* kPlaylist =
    "C:\\Music\\Artist - Song.mp3\n"
    "  artist=Artist\n"
    "  title=Song\n"
    "C:\\Music\\Other.mp3\n"
    "C:\\Video\\clip.avi\n";

class Shell : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteSettings();
    // Nothing of this run may reach a real destination by accident.
    SetDword("mIRC Active", 0);
  }
  TempDir dir;
};

// Read as raw memory, the way the player reads it, not through the shared declaration.
TEST(PluginRecord, HasThePlayersLayoutForThisArchitecture) {
  const HMODULE dll = LoadLibraryA((std::string(SKORREL_BIN_DIR) + "/gen_skorrel.dll").c_str());
  ASSERT_NE(dll, nullptr);
  using Entry = const unsigned char* (*)();
  const auto entry = reinterpret_cast<Entry>(
      reinterpret_cast<void (*)()>(GetProcAddress(dll, "winampGetGeneralPurposePlugin")));
  ASSERT_NE(entry, nullptr);
  const unsigned char* record = entry();
  constexpr std::size_t field = sizeof(void*) == 4 ? 4 : 8;  // 28 bytes on i686, 56 on x86_64
  const auto pointerAt = [&](std::size_t index) {
    void* p;
    std::memcpy(&p, record + index * field, sizeof p);
    return p;
  };
  std::int32_t version;
  std::memcpy(&version, record, sizeof version);
  EXPECT_EQ(version, 16);
  EXPECT_STREQ(static_cast<const char*>(pointerAt(1)), "[kiv] Skorrel");
  for (std::size_t entryField = 2; entryField <= 4; ++entryField) EXPECT_NE(pointerAt(entryField), nullptr);
  EXPECT_EQ(pointerAt(5), nullptr);  // the player's window and the DLL's instance, written by the player
  EXPECT_EQ(pointerAt(6), nullptr);
  FreeLibrary(dll);
}

TEST_F(Shell, FirstStartWithNoKeyHooksBothWindowsAndPutsThemBackAtQuit) {
  DeleteSettings();
  const PlayerRun run = RunPlayer(dir, kPlaylist, "quit\n");
  ASSERT_EQ(run.exitCode, 0);
  EXPECT_TRUE(Contains(run.lines, "plugin [kiv] Skorrel version 16"));
  EXPECT_TRUE(Contains(run.lines, "init 0"));
  EXPECT_TRUE(Contains(run.lines, "request 260 1"));
  EXPECT_TRUE(Contains(run.lines, "hooked main=1 playlist=1"));
  EXPECT_TRUE(Contains(run.lines, "quit restored main=1 playlist=1"));
  EXPECT_TRUE(Contains(run.lines, "unloaded"));
}

TEST_F(Shell, QuitWritesEveryValueWithItsType) {
  DeleteSettings();
  ASSERT_EQ(RunPlayer(dir, kPlaylist, "quit\n").exitCode, 0);
  const char* flags[] = {"mIRC Active", "MSN Active",   "MSN Clear", "MSN Default Format",
                         "Ignore Exts", "MySQL Active", "MySQL SSH", "SSH Active"};
  const char* texts[] = {"mIRC DDE Name",   "mIRC DDE Command", "MSN Format",
                         "Ignore Ext List", "MySQL Server",     "MySQL UserName",
                         "MySQL Command",   "SSH Server",       "SSH UserName"};
  for (const char* name : flags) {
    const StoredValue v = ReadValue(name);
    EXPECT_TRUE(v.exists && v.type == REG_DWORD && v.data.size() == 4) << name;
  }
  for (const char* name : texts) {
    const StoredValue v = ReadValue(name);
    EXPECT_TRUE(v.exists && v.type == REG_SZ) << name;
  }
  EXPECT_EQ(ReadValue("MSN Active").data, std::string("\1\0\0\0", 4));
  EXPECT_EQ(ReadValue("MySQL Active").data, std::string(4, '\0'));
  EXPECT_EQ(ReadValue("mIRC DDE Name").data, std::string("mIRC\0", 5));
  EXPECT_EQ(ReadValue("MySQL Server").data, std::string(1, '\0'));
}

TEST_F(Shell, StoredOddTypesReadByTheLoadRules) {
  SetString("SSH Active", "1");
  SetString("Ignore Exts", "0");
  SetDword("MySQL Active", 2);
  SetDword("MSN Clear", 0xFFFFFFFF);
  SetString("MSN Format", "");
  SetString("SSH Server", "%HOST%:22", REG_EXPAND_SZ);
  ASSERT_EQ(RunPlayer(dir, kPlaylist, "quit\n").exitCode, 0);
  // What the plug-in loaded is what it saved back at quit.
  EXPECT_EQ(ReadValue("SSH Active").data, std::string(4, '\0'));
  EXPECT_EQ(ReadValue("SSH Active").type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(ReadValue("Ignore Exts").data, std::string("\1\0\0\0", 4));
  EXPECT_EQ(ReadValue("MySQL Active").data, std::string(4, '\0'));
  EXPECT_EQ(ReadValue("MSN Clear").data, std::string("\1\0\0\0", 4));
  EXPECT_EQ(ReadValue("MSN Format").data, std::string("%artist% - %title%\0", 19));
  EXPECT_EQ(ReadValue("SSH Server").type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(ReadValue("SSH Server").data, std::string("%HOST%:22\0", 10));
}

TEST_F(Shell, ANoticeForEntryIMakesExactlyOneFileRequestBeforeThePlaylistSeesIt) {
  const PlayerRun run = RunPlayer(dir, kPlaylist, "play 1\n");
  ASSERT_EQ(run.exitCode, 0);
  const auto requests = LinesStartingWith(run.lines, "request 214");
  ASSERT_EQ(requests, std::vector<std::string>{"request 214 1 -> C:\\Music\\Other.mp3"});
  auto position = [&](const std::string& line) {
    for (size_t i = 0; i < run.lines.size(); ++i)
      if (run.lines[i] == line) return i;
    return run.lines.size();
  };
  EXPECT_LT(position(requests[0]), position("playlist notice 1"));
}

TEST_F(Shell, RepeatedNoticesForOneTrackAskOncePerNotice) {
  const PlayerRun run = RunPlayer(dir, kPlaylist, "play 0 3 10\n");
  ASSERT_EQ(run.exitCode, 0);
  EXPECT_EQ(LinesStartingWith(run.lines, "request 214 0").size(), 3u);
  EXPECT_EQ(LinesStartingWith(run.lines, "playlist notice 0").size(), 3u);
}

// Each message is answered by the player's procedure (it records it and returns 4242), the watched
// ones included, and the answer comes back to the sender.
TEST_F(Shell, EveryMainWindowMessageReachesThePlayersProcedureWithItsResult) {
  const char* messages[] = {"32770 123 -5", "273 106542 0" /* 40046 with a notification code */,
                            "273 40046 0",  "273 40046 0",
                            "273 40047 0",  "1026 0 0"};
  std::string script = "play 0\n";
  for (const char* m : messages) script += std::string("send ") + m + "\n";
  const PlayerRun run = RunPlayer(dir, kPlaylist, script);
  ASSERT_EQ(run.exitCode, 0);
  std::vector<std::string> expected;
  for (const char* m : messages) {
    expected.push_back(std::string("wndproc main ") + m);
    expected.push_back(std::string("sent ") + m + " -> 4242");
  }
  // The plug-in's own requests (WM_USER, 1024) made while it handles the resume are not ours.
  std::vector<std::string> seen;
  for (const std::string& line : run.lines)
    if ((line.rfind("wndproc main", 0) == 0 && line.rfind("wndproc main 1024 ", 0) != 0) ||
        line.rfind("sent ", 0) == 0)
      seen.push_back(line);
  EXPECT_EQ(seen, expected);
}

// Another program subclasses the player's windows after the plug-in: at quit the plug-in's procedure
// must stay in the chain, passing everything on and publishing nothing, in a module still mapped.
TEST_F(Shell, AfterQuitAProcedureCoveredByAnotherSubclassOnlyPassesMessagesOn) {
  const PlayerRun run = RunPlayer(dir, kPlaylist,
                                  "subclass\n"
                                  "quit\n"
                                  "send 32770 7 8\n"
                                  "send 273 40047 0\n"
                                  "play 1\n");
  ASSERT_EQ(run.exitCode, 0);
  const auto unloaded = std::find(run.lines.begin(), run.lines.end(), "unloaded");
  ASSERT_NE(unloaded, run.lines.end());
  const std::vector<std::string> after(unloaded + 1, run.lines.end());
  EXPECT_TRUE(Contains(after, "sent 32770 7 8 -> 4242"));
  EXPECT_TRUE(Contains(after, "wndproc main 273 40047 0"));
  EXPECT_TRUE(Contains(after, "sent 273 40047 0 -> 4242"));
  EXPECT_TRUE(Contains(after, "playlist notice 1"));
  EXPECT_TRUE(LinesStartingWith(after, "request").empty());
}
TEST_F(Shell, TheDialogOpenedAndClosedTwiceLeavesThePlayerWorking) {
  // With a picture prefix the player closes each dialog itself, after picturing its tabs.
  const std::string config = "config " + dir.File("tab") + "\n";
  const PlayerRun run = RunPlayer(dir, kPlaylist, config + config + "play 0\nquit\n");
  ASSERT_EQ(run.exitCode, 0);
  EXPECT_EQ(LinesStartingWith(run.lines, "config closed").size(), 2u);
  EXPECT_TRUE(Contains(run.lines, "request 214 0 -> C:\\Music\\Artist - Song.mp3"));
  EXPECT_TRUE(Contains(run.lines, "quit restored main=1 playlist=1"));
}

}  // namespace
