// Stand-in for the log dispatcher: a top-level window of class "TFrmDispatcher" captioned
// "CodeSite Dispatcher" that decodes every log packet it receives by WM_COPYDATA and records it,
// one line each, to a file and to standard output. It accepts every packet (result 1).
//
//   dispatcher_standin.exe [RECORD_FILE]
//
// Without an argument the record file is taken from the environment variable
// SKORREL_DISPATCHER_RECORD, so that a copy started by the plug-in under the plain name
// CSDispatcher.exe still records somewhere; with neither it records to standard output only.
// A line:
//   dispatcher: type=41 dwData=41 cbData=258 n=38 m=0 size=ok pid=32 tid=9 day=738946 ms=49530250
//   bias=-60 id={...} computer=BOX app=player category= color=FF000005 text=TCP[Host=...]
// (one line in the record). size tells whether cbData is n + m + 220. The text comes last and
// keeps its blanks; backslash, CR and LF in it are written as \\, \r and \n. Close the window
// (WM_CLOSE) to end the program.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "log_packet_decoder.h"
#include "standin_win32.h"

namespace {

constexpr const char* kClass = "TFrmDispatcher";
constexpr const char* kCaption = "CodeSite Dispatcher";

RecordFile record;

void Record(const std::string& line) {
  record.Line(line);
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

void OnCopyData(const COPYDATASTRUCT& data) {
  Record(LogPacketRecordLine(data.dwData, static_cast<const std::uint8_t*>(data.lpData), data.cbData));
}

LRESULT CALLBACK WindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_COPYDATA:
      OnCopyData(*reinterpret_cast<const COPYDATASTRUCT*>(lParam));
      return 1;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(window, msg, wParam, lParam);
}

}  // namespace

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : std::getenv("SKORREL_DISPATCHER_RECORD");
  if (path && *path && !record.Open(path, "dispatcher_standin")) return 1;

  // Unowned and top-level: the plug-in looks for it among its thread's parentless windows.
  if (!CreateTopLevelWindow(kClass, kCaption, WindowProc)) {
    std::fprintf(stderr, "dispatcher_standin: cannot create its window\n");
    return 1;
  }

  // The first wait for a message makes the process idle for input, which the plug-in waits for.
  RunMessageLoop();
  return 0;
}
