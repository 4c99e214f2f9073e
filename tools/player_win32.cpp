// Stand-in for the Winamp player: a main window and a playlist window that answer requests 0, 211,
// 214, 260, 290 and 3026 from a UTF-8 playlist file, a plug-in DLL loaded by path, and a script of
// player actions. Everything it observes is written as UTF-8 lines to standard output and to the
// --out file.
//
//   player.exe --plugin DLL --playlist FILE --script FILE [--out FILE] [--version HEX] [--timing]
//
// --version is the answer to request 0 (default 5013, for 5.13). Below 5013 the player plays an
// older one: it answers the wide requests 214 and 3026 with 1, as a player does a request it does
// not know, and only the ANSI requests 211 and 290, in the ANSI code page.
// With --timing it also reports how long its window thread spent in the track notices, and does
// not write out the requests it answers.
//
// Playlist: one file name per line; indented "name=value" lines below it are its tags. In a value,
// \xHH stands for the byte HH, so that a tag can hold line breaks.
// Script, one action per line: play INDEX [TIMES [INTERVAL_MS]], wait MS, pause, stop, eof,
// config [PREFIX], send MSG WPARAM LPARAM, quit, and for the unload tests:
//   subclass              subclasses both windows again over the plug-in, as another program might
//   waitevent NAME MS     waits until the named event is set (a test sets it)
//   waitunload MS         waits until the plug-in's module is unmapped, after quit
// The quit writes how long the plug-in's quit took: "quit took MS ms".
// With PREFIX, config saves a picture of each tab of the plug-in's dialog as PREFIX1.bmp to
// PREFIX7.bmp and closes it.
// Quit (the plug-in's Quit, then FreeLibrary) is implied at the end of the script; actions after
// it still run. WM_CLOSE to the main window quits too, as closing the real player does, whatever
// runs at the time: a test posts it while the plug-in's dialog is open.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "dialog_pictures_win32.h"
#include "plugin/gen_win32.h"
#include "plugin/player_messages.h"
#include "plugin/wa_ipc.h"
#include "runtime/unicode.h"
#include "runtime/unicode_win32.h"
#include "standin_win32.h"

namespace {

using PluginRecord = winampGeneralPurposePlugin;
using ExtendedFileInfo = extendedFileInfoStruct;

struct Entry {
  std::string file;
  std::vector<std::pair<std::string, std::string>> tags;
  // The answers of requests 211 and 214 point into these.
  std::string ansiFile;
  std::u16string wideFile;
};

std::vector<Entry> playlist;
// The entry "play" last announced; request 105 answers for it.
long current = -1;
// What request 104 answers, as the player's own: 1 playing, 3 paused, 0 stopped.
LRESULT playState = 0;
LRESULT version = kFirstWideVersion;
FILE* outFile = nullptr;
HWND mainWindow = nullptr;
HWND playlistWindow = nullptr;
bool recordMainMessages = false;
// The procedures of the second subclass, and the ones they pass on to.
WNDPROC outerMainNext = nullptr;
WNDPROC outerPlaylistNext = nullptr;
// Set by the loader once it has unmapped the plug-in, whoever let go of it last.
HANDLE pluginUnmapped = nullptr;
void* pluginBase = nullptr;
// What WM_CLOSE to the main window does: the session's quit.
void (*onClose)() = nullptr;

// With --timing the answers to the plug-in's requests are not written out: writing a line costs
// more under Wine than a real player's answer, and the timing is of the plug-in's own work.
bool quietRequests = false;

void WriteLine(const char* format, va_list args) {
  char line[8192];
  vsnprintf(line, sizeof line, format, args);
  fprintf(stdout, "%s\n", line);
  fflush(stdout);
  if (outFile) {
    fprintf(outFile, "%s\n", line);
    fflush(outFile);
  }
}

__attribute__((format(printf, 1, 2))) void Out(const char* format, ...) {
  va_list args;
  va_start(args, format);
  WriteLine(format, args);
  va_end(args);
}

// A request and its answer.
__attribute__((format(printf, 1, 2))) void Answered(const char* format, ...) {
  if (quietRequests) return;
  va_list args;
  va_start(args, format);
  WriteLine(format, args);
  va_end(args);
}

std::string Unescape(const std::string& value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value.compare(i, 2, "\\x") == 0 && i + 3 < value.size() &&
        isxdigit(static_cast<unsigned char>(value[i + 2])) &&
        isxdigit(static_cast<unsigned char>(value[i + 3]))) {
      out.push_back(static_cast<char>(std::stoi(value.substr(i + 2, 2), nullptr, 16)));
      i += 3;
    } else {
      out.push_back(value[i]);
    }
  }
  return out;
}

// Tag names are ASCII; their letter case does not matter.
bool SameName(const std::string& a, const std::string& b) {
  const auto fold = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return fold(x) == fold(y); });
}

// The threads of this process, so a test sees whether the plug-in left one running.
int ThreadCount() {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  int count = 0;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
  CloseHandle(snapshot);
  return count;
}
int threadsBeforeLoad = 0;

// The value of a tag of the file (UTF-8), or nothing.
const std::string* FindTag(const std::string& file, const std::string& name) {
  for (const Entry& e : playlist)
    if (e.file == file)
      for (const auto& [tag, value] : e.tags)
        if (SameName(tag, name)) return &value;
  return nullptr;
}

LRESULT AnswerRequest(WPARAM wParam, LPARAM lParam) {
  const bool wide = version >= kFirstWideVersion;
  if (!wide && (lParam == kIpcGetPlaylistFileW || lParam == kIpcGetExtendedFileInfoW)) {
    Answered("request %ld unknown", static_cast<long>(lParam));
    return 1;
  }
  switch (lParam) {
    case kIpcGetVersion:
      Answered("request 0 -> %lx", static_cast<unsigned long>(version));
      return version;
    case kIpcGetPlaylistFile:
    case kIpcGetPlaylistFileW: {
      const size_t index = wParam;
      if (index >= playlist.size()) {
        Answered("request %ld %u -> (none)", static_cast<long>(lParam), static_cast<unsigned>(index));
        return 0;
      }
      Answered("request %ld %u -> %s", static_cast<long>(lParam), static_cast<unsigned>(index),
               playlist[index].file.c_str());
      return lParam == kIpcGetPlaylistFile ? reinterpret_cast<LRESULT>(playlist[index].ansiFile.c_str())
                                           : reinterpret_cast<LRESULT>(playlist[index].wideFile.c_str());
    }
    case kIpcGetExtendedFileInfoW: {
      auto* info = reinterpret_cast<extendedFileInfoStructW*>(wParam);
      const std::string file = Utf16ToUtf8(info->filename), name = Utf16ToUtf8(info->metadata);
      if (const std::string* value = FindTag(file, name)) {
        const std::u16string wideValue = Utf8ToUtf16(*value);
        const size_t units = std::min(wideValue.size(), info->retlen - 1);
        std::copy_n(wideValue.begin(), units, info->ret);
        info->ret[units] = 0;
        Answered("request 3026 %s|%s -> %s", file.c_str(), name.c_str(), value->c_str());
        return 1;
      }
      Answered("request 3026 %s|%s -> (unknown)", file.c_str(), name.c_str());
      return 0;
    }
    case kIpcGetOutputTime: {
      // A track always plays 1.5 s in; its length is its "length" tag in seconds, else unknown.
      const std::string* length = current >= 0 && current < static_cast<long>(playlist.size())
                                      ? FindTag(playlist[current].file, "length")
                                      : nullptr;
      const LRESULT answer = wParam == 0 ? 1500 : length ? std::atol(length->c_str()) : -1;
      Answered("request 105 %u -> %ld", static_cast<unsigned>(wParam), static_cast<long>(answer));
      return answer;
    }
    case kIpcIsPlaying:
      Answered("request 104 -> %ld", static_cast<long>(playState));
      return playState;
    case 260:
      Answered("request 260 %u", static_cast<unsigned>(wParam));
      return wParam == 1 ? reinterpret_cast<LRESULT>(playlistWindow) : 0;
    case kIpcGetExtendedFileInfo: {
      auto* info = reinterpret_cast<ExtendedFileInfo*>(wParam);
      const std::string file = FromAnsi(info->filename), name = FromAnsi(info->metadata);
      if (const std::string* value = FindTag(file, name)) {
        lstrcpynA(info->ret, ToAnsi(*value).c_str(), static_cast<int>(info->retlen));
        Answered("request 290 %s|%s -> %s", file.c_str(), name.c_str(), FromAnsi(info->ret).c_str());
        return 1;
      }
      Answered("request 290 %s|%s -> (unknown)", file.c_str(), name.c_str());
      return 0;
    }
    default:
      return 0;
  }
}

LRESULT CALLBACK MainProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (recordMainMessages) {
    Out("wndproc main %u %u %ld", msg, static_cast<unsigned>(wParam), static_cast<long>(lParam));
    return 4242;
  }
  if (msg == WM_USER) return AnswerRequest(wParam, lParam);
  if (msg == WM_CLOSE && onClose) {
    onClose();
    return 0;
  }
  return DefWindowProcA(window, msg, wParam, lParam);
}

LRESULT CALLBACK PlaylistProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_USER && wParam == kTrackNoticeWParam)
    Out("playlist notice %ld", static_cast<long>(lParam & kPlaylistIndexMask));
  return DefWindowProcA(window, msg, wParam, lParam);
}

LRESULT CALLBACK OuterMainProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  return CallWindowProcA(outerMainNext, window, msg, wParam, lParam);
}
LRESULT CALLBACK OuterPlaylistProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  return CallWindowProcA(outerPlaylistNext, window, msg, wParam, lParam);
}

// The loader's record of an unmapped module (LDR_DLL_UNLOADED_NOTIFICATION_DATA), up to its base.
struct UnloadedModule {
  ULONG flags;
  const void* fullName;
  const void* baseName;
  void* base;
};
constexpr ULONG kModuleUnloaded = 2;

void CALLBACK OnModuleNotice(ULONG reason, const void* data, void*) {
  if (reason == kModuleUnloaded && static_cast<const UnloadedModule*>(data)->base == pluginBase)
    SetEvent(pluginUnmapped);
}

// Asks the loader to say when the plug-in is unmapped; false where it cannot.
bool WatchForUnmap(HMODULE plugin) {
  using Callback = void(CALLBACK*)(ULONG, const void*, void*);
  using Register = LONG(NTAPI*)(ULONG, Callback, void*, void**);
  const auto reg = reinterpret_cast<Register>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "LdrRegisterDllNotification")));
  void* cookie = nullptr;
  pluginBase = plugin;
  pluginUnmapped = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  return reg && reg(0, OnModuleNotice, nullptr, &cookie) == 0;
}

// Lets DDE, WM_COPYDATA senders and timers of other processes get through while the player waits:
// pumps messages until event is set (none: only the time counts); false when ms pass first.
bool PumpUntil(HANDLE event, DWORD ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    if (event && WaitForSingleObject(event, 0) == WAIT_OBJECT_0) return true;
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= ms) return false;
    MsgWaitForMultipleObjects(event ? 1 : 0, &event, FALSE, ms - elapsed, QS_ALLINPUT);
  }
}

void Pump(DWORD ms) { PumpUntil(nullptr, ms); }

std::vector<Entry> ReadPlaylist(const char* path) {
  std::vector<Entry> entries;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == ' ' || line[0] == '\t') {
      const size_t start = line.find_first_not_of(" \t");
      const size_t eq = line.find('=', start);
      if (entries.empty() || eq == std::string::npos) continue;
      entries.back().tags.emplace_back(line.substr(start, eq - start), Unescape(line.substr(eq + 1)));
    } else {
      entries.push_back({line, {}, ToAnsi(line), Utf8ToUtf16(line)});
    }
  }
  return entries;
}

WNDPROC CurrentProc(HWND window) {
  return reinterpret_cast<WNDPROC>(GetWindowLongPtrA(window, GWLP_WNDPROC));
}

class Session {
 public:
  Session(HMODULE module, PluginRecord* record)
      : module_(module), record_(record), watching_(WatchForUnmap(module)) {
    current_ = this;
    onClose = [] { current_->Quit(); };
  }
  ~Session() { onClose = nullptr; }

  void Run(std::istream& script) {
    std::string line;
    while (std::getline(script, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.empty() || line[0] == '#') continue;
      Out("action %s", line.c_str());
      Do(line);
      Pump(0);
    }
    if (!quit_) Quit();
  }

 private:
  void Do(const std::string& line) {
    std::istringstream words(line);
    std::string verb;
    words >> verb;
    if (verb == "play") {
      long index = 0, times = 1, interval = 0;
      words >> index >> times >> interval;
      current = index;
      playState = 1;
      for (long i = 0; i < times; ++i) {
        if (i > 0) Pump(static_cast<DWORD>(interval));
        LARGE_INTEGER before, after;
        QueryPerformanceCounter(&before);
        SendMessageA(playlistWindow, WM_USER, kTrackNoticeWParam, kTrackNoticeFlag | index);
        QueryPerformanceCounter(&after);
        noticeTicks_ += after.QuadPart - before.QuadPart;
        maxNoticeTicks_ = std::max(maxNoticeTicks_, after.QuadPart - before.QuadPart);
        ++notices_;
      }
    } else if (verb == "wait") {
      long ms = 0;
      words >> ms;
      Pump(static_cast<DWORD>(ms));
    } else if (verb == "pause") {
      // Pause toggles while a track is loaded and does nothing while stopped.
      playState = playState == 1 ? 3 : playState == 3 ? 1 : 0;
      SendMessageA(mainWindow, WM_COMMAND, 40046, 0);
    } else if (verb == "stop") {
      playState = 0;
      SendMessageA(mainWindow, WM_COMMAND, 40047, 0);
    } else if (verb == "eof") {
      playState = 0;
      SendMessageA(mainWindow, WM_USER + 2, 0, 0);
    } else if (verb == "config") {
      std::string prefix;
      if (words >> prefix)
        PictureDialogTabs(prefix, [](const std::string& text) { Out("%s", text.c_str()); });
      record_->config();
      Out("config closed");
    } else if (verb == "send") {
      unsigned long msg = 0, wParam = 0;
      long lParam = 0;
      words >> msg >> wParam >> lParam;
      recordMainMessages = true;
      const LRESULT result = SendMessageA(mainWindow, msg, wParam, lParam);
      recordMainMessages = false;
      Out("sent %lu %lu %ld -> %ld", msg, wParam, lParam, static_cast<long>(result));
    } else if (verb == "quit") {
      Quit();
    } else if (verb == "subclass") {
      outerMainNext = reinterpret_cast<WNDPROC>(
          SetWindowLongPtrA(mainWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(OuterMainProc)));
      outerPlaylistNext = reinterpret_cast<WNDPROC>(
          SetWindowLongPtrA(playlistWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(OuterPlaylistProc)));
      Out("subclassed");
    } else if (verb == "waitevent") {
      std::string name;
      long ms = 0;
      words >> name >> ms;
      HANDLE event = CreateEventA(nullptr, TRUE, FALSE, name.c_str());
      Out(PumpUntil(event, static_cast<DWORD>(ms)) ? "event %s" : "event %s timed out", name.c_str());
      CloseHandle(event);
    } else if (verb == "waitunload") {
      long ms = 0;
      words >> ms;
      Out(watching_ && PumpUntil(pluginUnmapped, static_cast<DWORD>(ms)) ? "module unmapped"
                                                                         : "module still mapped");
    } else {
      Out("unknown action %s", verb.c_str());
    }
  }

  void Quit() {
    if (quit_) return;
    const DWORD start = GetTickCount();
    record_->quit();
    // The player's window is frozen for as long as the plug-in's quit takes.
    Out("quit took %lu ms", GetTickCount() - start);
    Out("quit restored main=%d playlist=%d", CurrentProc(mainWindow) == MainProc,
        CurrentProc(playlistWindow) == PlaylistProc);
    FreeLibrary(module_);
    Out("unloaded");
    Out("threads %d, %d before loading the plug-in", ThreadCount(), threadsBeforeLoad);
    quit_ = true;
  }

  static inline Session* current_ = nullptr;
  HMODULE module_;
  PluginRecord* record_;
  bool watching_;
  bool quit_ = false;
  long long noticeTicks_ = 0;
  long long maxNoticeTicks_ = 0;
  long notices_ = 0;

 public:
  void ReportTiming() const {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    const double us = 1e6 / static_cast<double>(frequency.QuadPart);
    Out("timing notices=%ld mean_us=%.1f max_us=%.1f", notices_,
        notices_ ? noticeTicks_ * us / notices_ : 0.0, maxNoticeTicks_ * us);
  }
};

const char* Argument(int argc, char** argv, const char* name) {
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], name) == 0) return argv[i + 1];
  return nullptr;
}

// The plug-in's path from the wide command line: argv holds it in the ANSI code page, which cannot
// name every folder a player is installed in.
std::wstring WidePluginPath() {
  int count = 0;
  const std::unique_ptr<LPWSTR, decltype(&LocalFree)> args(CommandLineToArgvW(GetCommandLineW(), &count),
                                                           &LocalFree);
  for (int i = 1; args && i + 1 < count; ++i)
    if (std::wcscmp(args.get()[i], L"--plugin") == 0) return args.get()[i + 1];
  return L"";
}

}  // namespace

int main(int argc, char** argv) {
  const char* pluginPath = Argument(argc, argv, "--plugin");
  const char* playlistPath = Argument(argc, argv, "--playlist");
  const char* scriptPath = Argument(argc, argv, "--script");
  const char* outPath = Argument(argc, argv, "--out");
  if (!pluginPath || !playlistPath || !scriptPath) {
    fprintf(stderr, "usage: player --plugin DLL --playlist FILE --script FILE [--out FILE]\n");
    return 2;
  }
  if (outPath) outFile = fopen(outPath, "w");
  for (int i = 1; i < argc; ++i) quietRequests = quietRequests || std::strcmp(argv[i], "--timing") == 0;
  if (const char* text = Argument(argc, argv, "--version")) version = std::strtol(text, nullptr, 16);
  playlist = ReadPlaylist(playlistPath);

  mainWindow = CreateTopLevelWindow("Winamp v1.x", "Winamp", MainProc);
  playlistWindow = CreateTopLevelWindow("Winamp PE", "Winamp Playlist Editor", PlaylistProc);

  threadsBeforeLoad = ThreadCount();
  HMODULE module = LoadLibraryW(WidePluginPath().c_str());
  if (!module) {
    Out("load failed %lu", GetLastError());
    return 3;
  }
  using GetPlugin = PluginRecord* (*)();
  auto get = reinterpret_cast<GetPlugin>(
      reinterpret_cast<void*>(GetProcAddress(module, "winampGetGeneralPurposePlugin")));
  if (!get) {
    Out("no entry winampGetGeneralPurposePlugin");
    FreeLibrary(module);
    return 3;
  }
  PluginRecord* record = get();
  Out("plugin %s version %d", record->description, record->version);
  record->hwndParent = mainWindow;
  record->hDllInstance = module;
  Out("init %d", record->init());
  Out("hooked main=%d playlist=%d", CurrentProc(mainWindow) != MainProc,
      CurrentProc(playlistWindow) != PlaylistProc);

  std::ifstream script(scriptPath);
  Session session(module, record);
  session.Run(script);
  if (quietRequests) session.ReportTiming();

  DestroyWindow(playlistWindow);
  DestroyWindow(mainWindow);
  if (outFile) fclose(outFile);
  return 0;
}
