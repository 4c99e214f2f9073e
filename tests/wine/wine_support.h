#pragma once
// What the Wine tests share: paths, temporary folders, child processes that are always stopped,
// the plug-in's registry key, and runs of the stand-in player.
#include <windows.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "runtime/handles_win32.h"

namespace wine {

// The folder with gen_skorrel.dll and the stand-in programs, as a Windows path.
std::string BinDir();
// A Unix path (as CMake writes it) as a Windows path on Wine's Z: drive.
std::string WindowsPath(const std::string& unixPath);

std::vector<std::string> ReadLines(const std::string& path);
void WriteText(const std::string& path, const std::string& text);
bool Contains(const std::vector<std::string>& lines, const std::string& line);
// The lines that start with prefix, in order.
std::vector<std::string> LinesStartingWith(const std::vector<std::string>& lines, const std::string& prefix);

// Reads a record file until it holds count lines starting with prefix, or the time is up: the
// stand-ins write what they receive on their own time.
std::vector<std::string> RecordLines(const std::string& path, const std::string& prefix, std::size_t count,
                                     DWORD timeoutMs = 5000);

// A fresh folder under the temporary directory, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "\\" + name; }

 private:
  std::string path_;
};

// A process started by a test; terminated when the test lets go of it, whatever happened.
class ChildProcess {
 public:
  // Starts commandLine in folder cwd (the current one when empty) with extra environment entries.
  ChildProcess(const std::string& commandLine, const std::string& cwd = {},
               const std::vector<std::string>& environment = {});
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return process_ != nullptr; }
  bool Ended() const { return !process_ || WaitForSingleObject(process_, 0) == WAIT_OBJECT_0; }
  // The exit code, or -1 when it did not end within timeoutMs (it is then terminated).
  int Wait(DWORD timeoutMs);
  void Stop();
  DWORD Id() const { return id_; }

 private:
  HANDLE process_ = nullptr;
  DWORD id_ = 0;
};

// Waits until a top-level window of the class (and caption, when given) exists.
HWND WaitForWindow(const char* className, const char* caption, DWORD timeoutMs);

// A port on 127.0.0.1 that nothing listened on a moment ago.
std::string FreeLoopbackPort();

// The plug-in's log lines that the stand-in dispatcher recorded in record, without the
// "[gen_skorrel] " prefix.
std::vector<std::string> PluginLog(const std::string& record);
// Waits until a line starting with text is among them.
// Waits until count lines starting with text have been logged.
bool WaitForPluginLog(const std::string& record, const std::string& text, DWORD timeoutMs = 60000,
                      std::size_t count = 1);

// A named event that a player's script waits for ("waitevent NAME MS"); the test sets it when the
// player may go on.
class Go {
 public:
  Go();
  const std::string& Name() const { return name_; }
  void Set() { SetEvent(event_.get()); }
  // For another run of the player.
  void Reset() { ResetEvent(event_.get()); }

 private:
  std::string name_;
  unique_kernel_handle event_;
};

// The plug-in's settings key: HKCU\Software\Brenwick\Winamp Plugins\Skorrel\Global.
void DeleteSettings();
void SetDword(const std::string& name, DWORD value);
void SetString(const std::string& name, const std::string& text, DWORD type = REG_SZ);
// A password as the plug-in saves it: protected for this user. SetString stores one as older
// versions did.
void SetSecret(const std::string& name, const std::string& text);
struct StoredValue {
  bool exists = false;
  DWORD type = 0;
  std::string data;
};
StoredValue ReadValue(const std::string& name);
// Points the database's outbox at a file in dir, so that no test sends what another left behind.
void UseOutboxIn(const TempDir& dir);
// Fresh settings with only the database publisher on, as user "winamp" (password "pw", protected) at
// 127.0.0.1, its outbox in dir: nothing of a run reaches another destination by accident.
void UseOnlyTheDatabase(const TempDir& dir);

// One run of the stand-in player with the real DLL: the playlist and script texts, and the lines
// the player wrote. The player is stopped if it has not finished within timeoutMs.
struct PlayerRun {
  int exitCode = -1;
  std::vector<std::string> lines;
};
// Starts the player on the playlist and script texts; it writes its lines to dir's player.out.
// arguments go to the player after the usual ones (such as --version).
std::unique_ptr<ChildProcess> StartPlayer(const TempDir& dir, const std::string& playlist,
                                          const std::string& script,
                                          const std::vector<std::string>& environment = {},
                                          const std::vector<std::string>& arguments = {});
// The stand-in Discord, recording every frame it decodes in record; and those frames, as opcode
// and JSON, once the client has gone.
std::unique_ptr<ChildProcess> StartDiscord(const std::string& record, const std::string& extra = "");
std::vector<std::pair<int, nlohmann::json>> DiscordFrames(const std::string& record);
// How long the plug-in's quit took, from the player's lines; for ever (LONG_MAX) when it never quit.
long QuitMs(const std::vector<std::string>& playerLines);
PlayerRun RunPlayer(const TempDir& dir, const std::string& playlist, const std::string& script,
                    DWORD timeoutMs = 60000, const std::vector<std::string>& environment = {},
                    const std::vector<std::string>& arguments = {});

}  // namespace wine
