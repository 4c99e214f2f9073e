// The debug log end to end: the real DLL in the stand-in player, and the stand-in dispatcher as a
// separate process, started by the test or by the plug-in itself.
#include <gtest/gtest.h>

#include "runtime/handles_win32.h"
#include "wine/wine_support.h"

namespace {

using namespace wine;

constexpr const char* kDispatcherClass = "TFrmDispatcher";
constexpr const char* kDispatcherCaption = "CodeSite Dispatcher";
constexpr const char* kDispatcherKey = "Software\\Raize\\CodeSite\\2.0";

const char* kPlaylist =
    "C:\\Music\\Artist - Song.mp3\n"
    "  artist=Artist\n"
    "  title=Song\n";

void SetDispatcherPath(const std::string& commandLine) {
  HKEY raw = nullptr;
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, kDispatcherKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &raw, nullptr);
  unique_hkey key(raw);
  RegSetValueExA(key.get(), "DispatcherPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(commandLine.c_str()),
                 static_cast<DWORD>(commandLine.size() + 1));
}

void ClearDispatcherPath() {
  HKEY raw = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDispatcherKey, 0, KEY_ALL_ACCESS, &raw) != ERROR_SUCCESS) return;
  unique_hkey key(raw);
  RegDeleteValueA(key.get(), "DispatcherPath");
}

// Ends every dispatcher window's process, whoever started it, and reports how many there were.
int StopDispatchers() {
  int stopped = 0;
  while (HWND window = FindWindowA(kDispatcherClass, kDispatcherCaption)) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    unique_kernel_handle process(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid));
    PostMessageA(window, WM_CLOSE, 0, 0);
    if (process && WaitForSingleObject(process.get(), 5000) != WAIT_OBJECT_0) {
      TerminateProcess(process.get(), 99);
      WaitForSingleObject(process.get(), 5000);
    }
    if (++stopped > 10) break;
  }
  return stopped;
}

// One recorded packet: the value after " key=", up to the next blank; text is the rest of the line.
std::string Field(const std::string& line, const std::string& key) {
  const std::size_t at = line.find(" " + key + "=");
  if (at == std::string::npos) return "<none>";
  const std::size_t from = at + key.size() + 2;
  if (key == "text") return line.substr(from);
  return line.substr(from, line.find(' ', from) - from);
}

class DebugLog : public ::testing::Test {
 protected:
  void SetUp() override {
    StopDispatchers();
    DeleteSettings();
    ClearDispatcherPath();
    // Nothing of this run may reach another destination.
    SetDword("mIRC Active", 0);
    SetDword("MSN Active", 0);
    ASSERT_TRUE(CopyFileA((BinDir() + "\\dispatcher_standin.exe").c_str(),
                          dir.File("CSDispatcher.exe").c_str(), FALSE));
  }
  void TearDown() override {
    StopDispatchers();
    ClearDispatcherPath();
    DeleteSettings();
  }

  // The command line that starts the copy in the test's folder, recording to record.
  std::string Command(const std::string& record) const {
    return "\"" + dir.File("CSDispatcher.exe") + "\" \"" + record + "\"";
  }

  TempDir dir;
};

TEST_F(DebugLog, WithoutCSDebugNoDispatcherIsStartedAndNoPacketSent) {
  ChildProcess running(Command(dir.File("running.log")));
  ASSERT_TRUE(WaitForWindow(kDispatcherClass, kDispatcherCaption, 10000));
  SetDispatcherPath(Command(dir.File("started.log")));
  SetString("CSDebug", "");

  const PlayerRun run = RunPlayer(dir, kPlaylist, "play 0\nquit\n");
  ASSERT_EQ(run.exitCode, 0);
  EXPECT_TRUE(Contains(run.lines, "init 0"));
  EXPECT_TRUE(ReadLines(dir.File("running.log")).empty());
  EXPECT_EQ(GetFileAttributesA(dir.File("started.log").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(StopDispatchers(), 1);
}

TEST_F(DebugLog, WithCSDebugThePluginStartsTheDispatcherAndOpensLogsAndCloses) {
  const std::string record = dir.File("started.log");
  SetDispatcherPath(Command(record));
  SetString("CSDebug", "viewer.example");

  const PlayerRun run = RunPlayer(dir, kPlaylist, "play 0\nquit\n");
  ASSERT_EQ(run.exitCode, 0);
  // Started by the plug-in, the dispatcher outlives the player.
  ASSERT_TRUE(FindWindowA(kDispatcherClass, kDispatcherCaption));
  const auto lines = ReadLines(record);
  ASSERT_GE(lines.size(), 3u);

  const std::string open = lines.front(), close = lines.back();
  EXPECT_EQ(Field(open, "type"), "41");
  EXPECT_EQ(Field(open, "text"),
            "TCP[Host=viewer.example;RemoteDestinationDetails=Viewer,File[Path=C:\\\\gen_skorrel.csl]]");
  EXPECT_EQ(Field(lines[1], "type"), "0");
  EXPECT_EQ(Field(lines[1], "text"), "[gen_skorrel] Plugin.Init");
  EXPECT_EQ(Field(close, "type"), "42");
  EXPECT_EQ(Field(close, "n"), "0");

  const std::string id = Field(open, "id");
  EXPECT_EQ(id.size(), 38u);
  char computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof computer;
  GetComputerNameA(computer, &size);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    SCOPED_TRACE(lines[i]);
    EXPECT_EQ(Field(lines[i], "size"), "ok");
    EXPECT_EQ(Field(lines[i], "dwData"), Field(lines[i], "type"));
    EXPECT_EQ(Field(lines[i], "id"), id);
    EXPECT_EQ(Field(lines[i], "color"), "FF000005");
    if (i > 0) {
      EXPECT_EQ(Field(lines[i], "app"), "player");
      EXPECT_EQ(Field(lines[i], "computer"), computer);
    }
    if (i > 0 && i + 1 < lines.size()) {
      EXPECT_EQ(Field(lines[i], "type"), "0");
    }
  }
}

TEST_F(DebugLog, WithoutARegisteredPathTheDispatcherIsStartedByItsNameOnTheSearchPath) {
  // The player runs in the test's folder, which holds CSDispatcher.exe.
  const std::string record = dir.File("by-name.log");
  SetString("CSDebug", "viewer.example");

  const PlayerRun run = RunPlayer(dir, kPlaylist, "quit\n", 60000, {"SKORREL_DISPATCHER_RECORD=" + record});
  ASSERT_EQ(run.exitCode, 0);
  const auto lines = ReadLines(record);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(Field(lines.front(), "type"), "41");
  EXPECT_EQ(Field(lines[1], "text"), "[gen_skorrel] Plugin.Init");
  EXPECT_EQ(Field(lines.back(), "type"), "42");
  EXPECT_EQ(StopDispatchers(), 1);
}

TEST_F(DebugLog, ARunningDispatcherIsUsedAndNoOtherStarted) {
  const std::string running = dir.File("running.log");
  ChildProcess dispatcher(Command(running));
  ASSERT_TRUE(WaitForWindow(kDispatcherClass, kDispatcherCaption, 10000));
  SetDispatcherPath(Command(dir.File("started.log")));
  SetString("CSDebug", "viewer.example");

  const PlayerRun run = RunPlayer(dir, kPlaylist, "play 0\nquit\n");
  ASSERT_EQ(run.exitCode, 0);
  const auto lines = ReadLines(running);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(Field(lines.front(), "type"), "41");
  EXPECT_EQ(Field(lines.back(), "type"), "42");
  EXPECT_EQ(GetFileAttributesA(dir.File("started.log").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(StopDispatchers(), 1);
}

}  // namespace
