// The MSN line and the mIRC command as the stand-in messenger and mIRC receive them from the real
// DLL inside the stand-in player.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "runtime/unicode_win32.h"
#include "wine/wine_support.h"

namespace {

using namespace wine;

const char* kPlaylist =
    "C:\\Music\\Artist - Song.mp3\n"
    "  artist=Artist\n"
    "  title=Song\n"
    "  album=Album\n"
    "C:\\Music\\Untagged.mp3\n"
    "C:\\Video\\clip.avi\n";

const std::string kSongLine =
    "messenger: dwData=1351 cbData=256 text=\\0Music\\01\\0{1} - {0}\\0Song\\0Artist\\0Album\\0WMContentID "
    "rest=zero";
const std::string kClearLine =
    "messenger: dwData=1351 cbData=256 text=\\0Music\\00\\0{0}\\0\\0\\0\\0WMContentID rest=zero";

// Ends a program this test did not start itself (one the plug-in started), through its window.
void CloseProgramOf(HWND window) {
  DWORD id = 0;
  GetWindowThreadProcessId(window, &id);
  HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, id);
  PostMessageA(window, WM_CLOSE, 0, 0);
  if (!process) return;
  if (WaitForSingleObject(process, 5000) != WAIT_OBJECT_0) TerminateProcess(process, 99);
  CloseHandle(process);
}

class Messenger {
 public:
  Messenger(const std::string& record, const std::string& name)
      : process_("\"" + BinDir() + "\\messenger_standin.exe\" \"" + record + "\" " + name) {
    window_ = WaitForWindow("MsnMsgrUIManager", name.c_str(), 10000);
  }
  HWND Window() const { return window_; }

 private:
  ChildProcess process_;
  HWND window_ = nullptr;
};

class Msn : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteSettings();
    SetDword("mIRC Active", 0);
    ASSERT_TRUE(messenger.Window());
  }
  // The lines the messenger recorded once the player has run script.
  std::vector<std::string> Received(const std::string& script, std::size_t expected) {
    const PlayerRun run = RunPlayer(dir, kPlaylist, script);
    EXPECT_EQ(run.exitCode, 0);
    return RecordLines(record, "messenger:", expected);
  }

  TempDir dir;
  std::string record = dir.File("messenger.txt");
  Messenger messenger{record, "messenger"};
};

TEST_F(Msn, ATrackIsShownAndQuitClearsIt) {
  EXPECT_EQ(Received("play 0\nquit\n", 2), (std::vector<std::string>{kSongLine, kClearLine}));
}

TEST_F(Msn, PauseClearsResumeShowsTheSameTrackAgainAndStopClears) {
  EXPECT_EQ(Received("play 0\npause\npause\nstop\nquit\n", 5),
            (std::vector<std::string>{kSongLine, kClearLine, kSongLine, kClearLine, kClearLine}));
}

TEST_F(Msn, EndOfFileClearsOnlyWithMsnClear) {
  SetDword("MSN Clear", 1);
  EXPECT_EQ(Received("play 0\neof\nquit\n", 3),
            (std::vector<std::string>{kSongLine, kClearLine, kClearLine}));
}

TEST_F(Msn, EndOfFileLeavesTheLineWithoutMsnClear) {
  SetDword("MSN Clear", 0);
  EXPECT_EQ(Received("play 0\neof\nquit\n", 2), (std::vector<std::string>{kSongLine, kClearLine}));
}

TEST_F(Msn, AnIgnoredFileOnlyClearsTheLine) {
  EXPECT_EQ(Received("play 0\nplay 2\nquit\n", 3),
            (std::vector<std::string>{kSongLine, kClearLine, kClearLine}));
}

TEST_F(Msn, WithMsnActiveOffATrackClearsTheLine) {
  SetDword("MSN Active", 0);
  // The save at quit clears once more, right after writing "MSN Active" as off.
  EXPECT_EQ(Received("play 0\nquit\n", 3), (std::vector<std::string>{kClearLine, kClearLine, kClearLine}));
}

TEST_F(Msn, ACustomFormatIsExpandedAndAFileWithoutTagsFallsBackToItsName) {
  SetDword("MSN Default Format", 0);
  SetString("MSN Format", "%title% by %artist%");
  EXPECT_EQ(Received("play 0\nplay 1\nquit\n", 3),
            (std::vector<std::string>{"messenger: dwData=1351 cbData=256 text=\\0Music\\01\\0{0}\\0Song by "
                                      "Artist\\0\\0\\0WMContentID rest=zero",
                                      "messenger: dwData=1351 cbData=256 "
                                      "text=\\0Music\\01\\0{0}\\0Untagged\\0\\0\\0WMContentID rest=zero",
                                      kClearLine}));
}

TEST_F(Msn, EveryMessengerWindowReceivesTheLineInTheOrderTheSearchFindsThem) {
  Messenger second{record, "second"};
  ASSERT_TRUE(second.Window());
  std::vector<std::string> order;
  for (HWND w = FindWindowExA(nullptr, nullptr, "MsnMsgrUIManager", nullptr); w;
       w = FindWindowExA(nullptr, w, "MsnMsgrUIManager", nullptr))
    order.push_back(w == second.Window() ? "second" : "messenger");
  ASSERT_EQ(order.size(), 2u);

  const PlayerRun run = RunPlayer(dir, kPlaylist, "play 0\n");
  ASSERT_EQ(run.exitCode, 0);
  const std::vector<std::string> lines = RecordLines(record, "", 4);
  ASSERT_EQ(lines.size(), 4u);
  const std::string song = kSongLine.substr(kSongLine.find(':'));
  const std::string clear = kClearLine.substr(kClearLine.find(':'));
  // Each message is sent synchronously, so the shared record shows the delivery order.
  EXPECT_EQ(lines,
            (std::vector<std::string>{order[0] + song, order[1] + song, order[0] + clear, order[1] + clear}));
}

class Mirc : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteSettings();
    SetDword("MSN Active", 0);
    SetDword("mIRC Active", 1);
  }
  std::string StandIn() const { return BinDir() + "\\mirc_standin.exe"; }

  TempDir dir;
  std::string record = dir.File("mirc.txt");
};

TEST_F(Mirc, EachPublishedTrackIsOnePokeOfTheCommandAndItsZeroByte) {
  SetString("mIRC DDE Command", "/me is listening to %artist% - %title%\r\n/me (%album%)");
  ChildProcess mirc("\"" + StandIn() + "\" mIRC \"" + record + "\"");
  ASSERT_TRUE(WaitForWindow("SkorrelMircStandin", "mIRC", 10000));

  const PlayerRun run = RunPlayer(dir, kPlaylist, "play 0\nplay 2\nplay 1\n");
  ASSERT_EQ(run.exitCode, 0);
  const std::string first = "/me is listening to Artist - Song\r\n/me (Album)";
  ASSERT_EQ(RecordLines(record, "poke", 2).size(), 2u);
  Sleep(200);  // a third, wrong poke would show by now
  EXPECT_EQ(ReadLines(record), (std::vector<std::string>{
                                   "connect mIRC",
                                   "poke len=" + std::to_string(first.size() + 1) +
                                       " fmt=1 text=/me is listening to Artist - Song\\r\\n/me (Album)",
                                   "disconnect",
                                   "connect mIRC",
                                   // No tag of this file is known: its name stands in for the template.
                                   "poke len=9 fmt=1 text=Untagged",
                                   "disconnect",
                               }));
}

TEST_F(Mirc, AnotherServiceNameIsUsedForTheConversation) {
  SetString("mIRC DDE Name", "OtherIrc");
  SetString("mIRC DDE Command", "/me %title%");
  ChildProcess mirc("\"" + StandIn() + "\" OtherIrc \"" + record + "\"");
  ASSERT_TRUE(WaitForWindow("SkorrelMircStandin", "OtherIrc", 10000));
  ASSERT_EQ(RunPlayer(dir, kPlaylist, "play 0\n").exitCode, 0);
  EXPECT_EQ(RecordLines(record, "poke", 1), (std::vector<std::string>{"poke len=9 fmt=1 text=/me Song"}));
}

TEST_F(Mirc, ControlCharactersInATagCannotAddACommandLine) {
  SetString("mIRC DDE Command", "/me %title%");
  ChildProcess mirc("\"" + StandIn() + "\" mIRC \"" + record + "\"");
  ASSERT_TRUE(WaitForWindow("SkorrelMircStandin", "mIRC", 10000));
  // A crafted title: CR LF, a command of its own, a tab.
  const PlayerRun run = RunPlayer(dir, "C:\\a.mp3\n  title=x\\x0d\\x0a/quit\tnow\n", "play 0\n");
  ASSERT_EQ(run.exitCode, 0);
  EXPECT_EQ(RecordLines(record, "poke", 1),
            (std::vector<std::string>{"poke len=17 fmt=1 text=/me x  /quit now"}));
}

// Puts a folder first on this process's search path, which the player and what it starts inherit.
class SearchPathFirst {
 public:
  explicit SearchPathFirst(const std::string& folder) {
    char old[32767] = "";
    GetEnvironmentVariableA("PATH", old, sizeof old);
    old_ = old;
    SetEnvironmentVariableA("PATH", (folder + ";" + old_).c_str());
  }
  ~SearchPathFirst() { SetEnvironmentVariableA("PATH", old_.c_str()); }

 private:
  std::string old_;
};

TEST_F(Mirc, WithNoServerOneStartAttemptIsMadePerTrackAndNothingIsSent) {
  const std::string bin = dir.File("bin");
  CreateDirectoryA(bin.c_str(), nullptr);
  ASSERT_TRUE(CopyFileA(StandIn().c_str(), (bin + "\\mIRC.exe").c_str(), FALSE));
  SearchPathFirst path(bin);
  // The program starts but never serves: the one retry finds no one either.
  const PlayerRun run = RunPlayer(dir, kPlaylist, "play 0\nplay 1\n", 60000,
                                  {"SKORREL_MIRC_RECORD=" + record, "SKORREL_MIRC_SILENT=1"});
  ASSERT_EQ(run.exitCode, 0);
  EXPECT_TRUE(Contains(run.lines, "quit restored main=1 playlist=1"));
  Sleep(300);
  EXPECT_EQ(ReadLines(record), (std::vector<std::string>{"started COMMAND", "started COMMAND"}));
}

TEST_F(Mirc, WithNoProgramOfThatNameThePlayerGoesOn) {
  SetString("mIRC DDE Name", "SkorrelNoSuchProgram");
  const DWORD start = GetTickCount();
  const PlayerRun run = RunPlayer(dir, kPlaylist, "play 0\nplay 1\n");
  ASSERT_EQ(run.exitCode, 0);
  EXPECT_TRUE(Contains(run.lines, "request 214 1 -> C:\\Music\\Untagged.mp3"));
  EXPECT_TRUE(Contains(run.lines, "quit restored main=1 playlist=1"));
  EXPECT_LT(GetTickCount() - start, 20000u);
}

TEST_F(Mirc, AServerStartedByTheAttemptGetsTheRetrysPoke) {
  SetString("mIRC DDE Command", "/me %title%");
  const std::string bin = dir.File("bin");
  CreateDirectoryA(bin.c_str(), nullptr);
  ASSERT_TRUE(CopyFileA(StandIn().c_str(), (bin + "\\mIRC.exe").c_str(), FALSE));
  SearchPathFirst path(bin);
  const PlayerRun run =
      RunPlayer(dir, kPlaylist, "play 0\nplay 1\n", 60000, {"SKORREL_MIRC_RECORD=" + record});
  HWND started = FindWindowA("SkorrelMircStandin", "mIRC");
  ASSERT_EQ(run.exitCode, 0);
  const std::vector<std::string> pokes = RecordLines(record, "poke", 2);
  if (started) CloseProgramOf(started);
  ASSERT_TRUE(started);
  EXPECT_EQ(LinesStartingWith(ReadLines(record), "started"), std::vector<std::string>{"started COMMAND"});
  EXPECT_EQ(pokes,
            (std::vector<std::string>{"poke len=9 fmt=1 text=/me Song", "poke len=9 fmt=1 text=Untagged"}));
}

}  // namespace

namespace {

const char* kTestTitlePlaylist = "C:\\Music\\test title.mp3\n  artist=坂本龍一\n  title=Привет 🎵 90°\n";

// The text in the ANSI code page as Windows converts it for an ANSI program by default, shown as
// the mIRC stand-in records it: every byte from 0x80 as \xNN.
std::string AnsiAsRecorded(const std::wstring& text) {
  std::string ansi(text.size() * 2, '\0');
  ansi.resize(static_cast<std::size_t>(WideCharToMultiByte(CP_ACP, 0, text.data(),
                                                           static_cast<int>(text.size()), ansi.data(),
                                                           static_cast<int>(ansi.size()), nullptr, nullptr)));
  std::string shown;
  for (unsigned char c : ansi) {
    char hex[5];
    std::snprintf(hex, sizeof hex, "\\x%02x", c);
    shown += c >= 0x80 ? std::string(hex) : std::string(1, static_cast<char>(c));
  }
  return shown;
}

// The same track from a player that answers the wide requests and from an older one: the messenger
// gets the exact text from the first and the code page's from the second; mIRC gets the code
// page's bytes from both, the degree sign as 0xB0.
TEST(TestTitle, ReachesTheMessengerAndMircEachInItsOwnEncoding) {
  const std::wstring title = L"\u041f\u0440\u0438\u0432\u0435\u0442 \U0001F3B5 90\u00b0";
  const std::wstring artist = L"\u5742\u672c\u9f8d\u4e00";
  const std::string command = AnsiAsRecorded(L"/me " + artist + L" - " + title);
  ASSERT_NE(command.find("90\\xb0"), std::string::npos);
  for (const char* version : {"5013", "2095"}) {
    DeleteSettings();
    SetString("mIRC DDE Command", "/me %artist% - %title%");
    TempDir dir;
    const std::string messengerRecord = dir.File("messenger.txt"), mircRecord = dir.File("mirc.txt");
    Messenger messenger{messengerRecord, "messenger"};
    ChildProcess mirc("\"" + BinDir() + "\\mirc_standin.exe\" mIRC \"" + mircRecord + "\"");
    ASSERT_TRUE(WaitForWindow("SkorrelMircStandin", "mIRC", 10000));
    const PlayerRun run = RunPlayer(dir, kTestTitlePlaylist, "play 0\n", 60000, {}, {"--version", version});
    ASSERT_EQ(run.exitCode, 0);

    const bool wide = std::string(version) == "5013";
    const std::string shownTitle = wide ? "Привет 🎵 90°" : FromAnsi(ToAnsi("Привет 🎵 90°"));
    const std::string shownArtist = wide ? "坂本龍一" : FromAnsi(ToAnsi("坂本龍一"));
    EXPECT_EQ(RecordLines(messengerRecord, "messenger:", 1).at(0),
              "messenger: dwData=1351 cbData=256 text=\\0Music\\01\\0{1} - {0}\\0" + shownTitle + "\\0" +
                  shownArtist + "\\0\\0WMContentID rest=zero")
        << version;
    const std::vector<std::string> pokes = RecordLines(mircRecord, "poke", 1);
    ASSERT_EQ(pokes.size(), 1u);
    EXPECT_EQ(pokes[0].substr(pokes[0].find(" text=")), " text=" + command) << version;
  }
}

}  // namespace
