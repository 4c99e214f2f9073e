#include "wine/wine_support.h"

#include <climits>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

#include "config/secret.h"
#include "runtime/handles_win32.h"
#include "runtime/registry_win32.h"
#include "tunnel/blcksock.h"

namespace wine {

std::string WindowsPath(const std::string& unixPath) {
  std::string path = unixPath;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path.size() > 1 && path[1] == ':' ? path : "Z:" + path;
}

std::string BinDir() { return WindowsPath(SKORREL_BIN_DIR); }

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  for (const std::string& l : lines)
    if (l == line) return true;
  return false;
}

std::vector<std::string> LinesStartingWith(const std::vector<std::string>& lines, const std::string& prefix) {
  std::vector<std::string> found;
  for (const std::string& l : lines)
    if (l.compare(0, prefix.size(), prefix) == 0) found.push_back(l);
  return found;
}

namespace {
void RemoveTree(const std::string& path) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((path + "\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = data.cFileName;
      if (name == "." || name == "..") continue;
      const std::string child = path + "\\" + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(child);
      else
        DeleteFileA(child.c_str());
    } while (FindNextFileA(find, &data));
    FindClose(find);
  }
  RemoveDirectoryA(path.c_str());
}
}  // namespace

TempDir::TempDir() {
  char base[MAX_PATH];
  GetTempPathA(MAX_PATH, base);
  for (unsigned n = GetTickCount() ^ GetCurrentProcessId();; ++n) {
    path_ = std::string(base) + "skorrel-" + std::to_string(n);
    if (CreateDirectoryA(path_.c_str(), nullptr)) break;
  }
}

TempDir::~TempDir() { RemoveTree(path_); }

ChildProcess::ChildProcess(const std::string& commandLine, const std::string& cwd,
                           const std::vector<std::string>& environment) {
  // The child inherits this process's environment plus the given entries.
  std::string block;
  if (!environment.empty()) {
    char* current = GetEnvironmentStringsA();
    for (const char* p = current; *p; p += strlen(p) + 1) block.append(p, strlen(p) + 1);
    FreeEnvironmentStringsA(current);
    for (const std::string& entry : environment) block.append(entry).push_back('\0');
    block.push_back('\0');
  }
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  std::string mutableLine = commandLine;
  if (CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0,
                     block.empty() ? nullptr : block.data(), cwd.empty() ? nullptr : cwd.c_str(), &startup,
                     &info)) {
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    id_ = info.dwProcessId;
  }
}

ChildProcess::~ChildProcess() { Stop(); }

int ChildProcess::Wait(DWORD timeoutMs) {
  if (!process_) return -1;
  if (WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) {
    Stop();
    return -1;
  }
  DWORD code = 0;
  GetExitCodeProcess(process_, &code);
  return static_cast<int>(code);
}

void ChildProcess::Stop() {
  if (!process_) return;
  if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) {
    TerminateProcess(process_, 99);
    WaitForSingleObject(process_, 10000);
  }
  CloseHandle(process_);
  process_ = nullptr;
}

HWND WaitForWindow(const char* className, const char* caption, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (HWND window = FindWindowA(className, caption)) return window;
    if (GetTickCount() - start >= timeoutMs) return nullptr;
    // Polling another process's window list: there is nothing to wait on.
    Sleep(20);
  }
}

std::string FreeLoopbackPort() {
  TTCPBlockSocket probe;
  probe.Bind("127.0.0.1", "0");
  return std::to_string(probe.LocalPort());
}

std::vector<std::string> PluginLog(const std::string& record) {
  std::vector<std::string> texts;
  const std::string marker = " text=[gen_skorrel] ";
  for (const std::string& line : ReadLines(record)) {
    const std::size_t at = line.find(marker);
    if (at != std::string::npos) texts.push_back(line.substr(at + marker.size()));
  }
  return texts;
}

bool WaitForPluginLog(const std::string& record, const std::string& text, DWORD timeoutMs,
                      std::size_t count) {
  const DWORD start = GetTickCount();
  do {
    if (LinesStartingWith(PluginLog(record), text).size() >= count) return true;
    // Another process writes the record: there is nothing to wait on but the file itself.
    Sleep(20);
  } while (GetTickCount() - start < timeoutMs);
  return false;
}

Go::Go() {
  static LONG count = 0;
  name_ = "skorrel-go-" + std::to_string(GetCurrentProcessId()) + "-" +
          std::to_string(InterlockedIncrement(&count));
  event_.reset(CreateEventA(nullptr, TRUE, FALSE, name_.c_str()));
}

namespace {
constexpr const char* kKey = "Software\\Brenwick\\Winamp Plugins\\Skorrel\\Global";

unique_hkey OpenKey() {
  HKEY raw = nullptr;
  RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &raw, nullptr);
  return unique_hkey(raw);
}
}  // namespace

void DeleteSettings() {
  RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
  RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Brenwick\\Winamp Plugins\\Skorrel");
}

void SetDword(const std::string& name, DWORD value) {
  RegSetValueExA(OpenKey().get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
}

void SetString(const std::string& name, const std::string& text, DWORD type) {
  RegSetValueExA(OpenKey().get(), name.c_str(), 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>(text.size() + 1));
}

void SetSecret(const std::string& name, const std::string& text) {
  const std::string blob = ProtectSecret(text).value();
  RegSetValueExA(OpenKey().get(), name.c_str(), 0, REG_BINARY, reinterpret_cast<const BYTE*>(blob.data()),
                 static_cast<DWORD>(blob.size()));
}

StoredValue ReadValue(const std::string& name) {
  StoredValue value;
  HKEY raw = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &raw) != ERROR_SUCCESS) return value;
  if (std::optional<RegistryData> stored = QueryRegistryValue(unique_hkey(raw).get(), name.c_str())) {
    value = {true, stored->type, std::move(stored->bytes)};
  }
  return value;
}

void UseOutboxIn(const TempDir& dir) { SetString("Outbox Path", dir.File("outbox.sqlite3")); }

void UseOnlyTheDatabase(const TempDir& dir) {
  DeleteSettings();
  UseOutboxIn(dir);
  SetDword("mIRC Active", 0);
  SetDword("MSN Active", 0);
  SetDword("MySQL Active", 1);
  SetString("MySQL Server", "127.0.0.1");
  SetString("MySQL UserName", "winamp");
  SetSecret("MySQL Password", "pw");
}

std::vector<std::string> RecordLines(const std::string& path, const std::string& prefix, std::size_t count,
                                     DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    std::vector<std::string> lines = LinesStartingWith(ReadLines(path), prefix);
    if (lines.size() >= count || GetTickCount() - start >= timeoutMs) return lines;
    Sleep(20);
  }
}

std::unique_ptr<ChildProcess> StartDiscord(const std::string& record, const std::string& extra) {
  return std::make_unique<ChildProcess>("\"" + BinDir() + "\\discord_standin.exe\" \"" + record + "\"" +
                                        extra);
}

std::vector<std::pair<int, nlohmann::json>> DiscordFrames(const std::string& record) {
  std::vector<std::pair<int, nlohmann::json>> frames;
  RecordLines(record, "discord: disconnected", 1, 20000);
  for (const std::string& line : LinesStartingWith(ReadLines(record), "discord: op=")) {
    const std::size_t space = line.find(' ', 12);
    frames.emplace_back(std::stoi(line.substr(12, space - 12)),
                        nlohmann::json::parse(line.substr(space + 1)));
  }
  return frames;
}

std::unique_ptr<ChildProcess> StartPlayer(const TempDir& dir, const std::string& playlist,
                                          const std::string& script,
                                          const std::vector<std::string>& environment,
                                          const std::vector<std::string>& arguments) {
  WriteText(dir.File("playlist.txt"), playlist);
  WriteText(dir.File("script.txt"), script);
  std::ostringstream command;
  command << '"' << BinDir() << "\\player.exe\" --plugin \"" << BinDir()
          << "\\gen_skorrel.dll\" --playlist \"" << dir.File("playlist.txt") << "\" --script \""
          << dir.File("script.txt") << "\" --out \"" << dir.File("player.out") << '"';
  for (const std::string& argument : arguments) command << ' ' << argument;
  return std::make_unique<ChildProcess>(command.str(), dir.Path(), environment);
}

long QuitMs(const std::vector<std::string>& playerLines) {
  for (const std::string& line : LinesStartingWith(playerLines, "quit took "))
    return std::strtol(line.c_str() + 10, nullptr, 10);
  return LONG_MAX;
}

PlayerRun RunPlayer(const TempDir& dir, const std::string& playlist, const std::string& script,
                    DWORD timeoutMs, const std::vector<std::string>& environment,
                    const std::vector<std::string>& arguments) {
  PlayerRun run;
  run.exitCode = StartPlayer(dir, playlist, script, environment, arguments)->Wait(timeoutMs);
  run.lines = ReadLines(dir.File("player.out"));
  return run;
}

}  // namespace wine
