// Stand-in for mIRC's DDE server: serves the topic "COMMAND" on a service name and records every
// conversation and poke, one line each.
//
//   mirc_standin.exe SERVICE RECORD_FILE
//   SERVICE.exe COMMAND        (a copy named after the service, as the plug-in's start attempt runs it)
//
// Started the second way, the service is the program's own name, the record file is the one named
// by the environment variable SKORREL_MIRC_RECORD (else SERVICE_record.txt beside the program), and
// the program ends by itself after a minute. With SKORREL_MIRC_SILENT set it serves nothing and ends
// at once, standing for a program that starts but offers no DDE. Lines:
//   started COMMAND                           (started the second way)
//   connect SERVICE
//   poke len=LENGTH fmt=FORMAT text=TEXT      (CR, LF, other control bytes and every byte from 0x80
//                                              shown as \r, \n, \xNN: the code page's bytes exactly)
// Its console shows each poke readably, the text taken in the ANSI code page.
//   disconnect
// A hidden window of class "SkorrelMircStandin" captioned SERVICE ends the program on WM_CLOSE.
#include <windows.h>
// After windows.h, which it needs.
#include <ddeml.h>

#include <cstdio>
#include <string>
#include <vector>

#include "runtime/unicode_win32.h"
#include "standin_win32.h"

namespace {

constexpr UINT_PTR kLifetimeTimer = 1;
constexpr UINT kLifetimeMs = 60000;

DWORD instance = 0;
HSZ topic = nullptr;
std::string service;
RecordFile record;

std::string Visible(const std::string& text) {
  std::string shown;
  char hex[5];
  for (unsigned char c : text) {
    if (c == '\r') {
      shown += "\\r";
    } else if (c == '\n') {
      shown += "\\n";
    } else if (c < 32 || c >= 0x80) {
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      shown += hex;
    } else {
      shown += static_cast<char>(c);
    }
  }
  return shown;
}

void OnPoke(HSZ item, UINT format, HDDEDATA data) {
  const DWORD length = DdeGetData(data, nullptr, 0, 0);
  std::vector<char> bytes(length + 1, '\0');
  DdeGetData(data, reinterpret_cast<BYTE*>(bytes.data()), length, 0);
  char itemName[64] = "";
  DdeQueryStringA(instance, item, itemName, sizeof itemName, CP_WINANSI);
  // The text is what precedes the first zero byte; anything after it would show as a suffix.
  const std::string text(bytes.data());
  std::string line =
      "poke len=" + std::to_string(length) + " fmt=" + std::to_string(format) + " text=" + Visible(text);
  if (text.size() + 1 != length)
    line += " (" + std::to_string(length - text.size()) + " bytes from the first zero)";
  if (lstrcmpiA(itemName, "COMMAND") != 0) line += " item=" + std::string(itemName);
  record.Line(line);
  std::printf("[mIRC %s] %s\n", service.c_str(), FromAnsi(text).c_str());
  std::fflush(stdout);
}

HDDEDATA CALLBACK DdeCallback(UINT type, UINT format, HCONV, HSZ topicOrService, HSZ item, HDDEDATA data,
                              ULONG_PTR, ULONG_PTR) {
  switch (type) {
    case XTYP_CONNECT:
      return reinterpret_cast<HDDEDATA>(
          static_cast<UINT_PTR>(DdeCmpStringHandles(topicOrService, topic) == 0));
    case XTYP_CONNECT_CONFIRM:
      record.Line("connect " + service);
      return nullptr;
    case XTYP_POKE:
      OnPoke(item, format, data);
      return reinterpret_cast<HDDEDATA>(static_cast<UINT_PTR>(DDE_FACK));
    case XTYP_DISCONNECT:
      record.Line("disconnect");
      return nullptr;
  }
  return nullptr;
}

LRESULT CALLBACK WindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_TIMER && wParam == kLifetimeTimer) {
    DestroyWindow(window);
    return 0;
  }
  if (msg == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(window, msg, wParam, lParam);
}

std::string ProgramPath() {
  char path[MAX_PATH] = "";
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  return path;
}

}  // namespace

int main(int argc, char** argv) {
  std::string recordPath;
  const bool startedAsCommand = argc == 2 && lstrcmpiA(argv[1], "COMMAND") == 0;
  if (startedAsCommand) {
    const std::string program = ProgramPath();
    const std::size_t slash = program.find_last_of("\\/");
    const std::size_t dot = program.rfind('.');
    service = program.substr(slash + 1, dot > slash + 1 ? dot - slash - 1 : std::string::npos);
    char fromEnvironment[MAX_PATH] = "";
    if (GetEnvironmentVariableA("SKORREL_MIRC_RECORD", fromEnvironment, MAX_PATH) > 0)
      recordPath = fromEnvironment;
    else
      recordPath = program.substr(0, slash + 1) + service + "_record.txt";
  } else if (argc == 3) {
    service = argv[1];
    recordPath = argv[2];
  } else {
    std::fprintf(stderr, "usage: mirc_standin SERVICE RECORD_FILE | SERVICE.exe COMMAND\n");
    return 2;
  }
  if (!record.Open(recordPath, "mirc_standin")) return 1;

  HWND window = CreateTopLevelWindow("SkorrelMircStandin", service.c_str(), WindowProc);
  if (startedAsCommand) {
    record.Line("started COMMAND");
    std::printf("[mIRC %s] started by the plug-in\n", service.c_str());
    std::fflush(stdout);
    const bool silent = GetEnvironmentVariableA("SKORREL_MIRC_SILENT", nullptr, 0) > 0;
    // Silent: become idle once, so that the starter's wait ends, then go without a service.
    SetTimer(window, kLifetimeTimer, silent ? 50 : kLifetimeMs, nullptr);
    if (silent) {
      RunMessageLoop();
      return 0;
    }
  }

  // The service is registered before the first wait for a message: a program that started this
  // one with WinExec connects as soon as it finds this process idle.
  if (DdeInitializeA(&instance, DdeCallback,
                     APPCLASS_STANDARD | CBF_SKIP_REGISTRATIONS | CBF_SKIP_UNREGISTRATIONS,
                     0) != DMLERR_NO_ERROR) {
    std::fprintf(stderr, "mirc_standin: no DDE\n");
    return 1;
  }
  HSZ serviceName = DdeCreateStringHandleA(instance, service.c_str(), CP_WINANSI);
  topic = DdeCreateStringHandleA(instance, "COMMAND", CP_WINANSI);
  DdeNameService(instance, serviceName, nullptr, DNS_REGISTER);
  std::printf("[mIRC %s] DDE server ready\n", service.c_str());
  std::fflush(stdout);

  RunMessageLoop();
  DdeNameService(instance, serviceName, nullptr, DNS_UNREGISTER);
  DdeFreeStringHandle(instance, serviceName);
  DdeFreeStringHandle(instance, topic);
  DdeUninitialize(instance);
  return 0;
}
