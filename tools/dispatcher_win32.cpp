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
#include <cstring>
#include <string>

#include "standin_win32.h"

namespace {

constexpr const char* kClass = "TFrmDispatcher";
constexpr const char* kCaption = "CodeSite Dispatcher";

RecordFile record;

std::uint32_t Int(const unsigned char* block, std::size_t offset) {
  return block[offset] | block[offset + 1] << 8 | block[offset + 2] << 16 |
         static_cast<std::uint32_t>(block[offset + 3]) << 24;
}

std::string Slot(const unsigned char* block, std::size_t offset, std::size_t size) {
  const char* text = reinterpret_cast<const char*>(block + offset);
  return std::string(text, strnlen(text, size));
}

std::string Escaped(const unsigned char* text, std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) {
    const char c = static_cast<char>(text[i]);
    if (c == '\\')
      out += "\\\\";
    else if (c == '\r')
      out += "\\r";
    else if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

void Record(const std::string& line) {
  record.Line(line);
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

void OnCopyData(const COPYDATASTRUCT& data) {
  const auto* block = static_cast<const unsigned char*>(data.lpData);
  std::string line =
      "dispatcher: dwData=" + std::to_string(data.dwData) + " cbData=" + std::to_string(data.cbData);
  if (data.cbData < 220 || !block) {
    Record(line + " short");
    return;
  }
  const std::uint32_t n = Int(block, 16), m = Int(block, 20);
  const bool sized = std::uint64_t{n} + m + 220 == data.cbData;
  char color[9];
  std::snprintf(color, sizeof color, "%08lX", static_cast<unsigned long>(Int(block, 172)));
  line = "dispatcher: type=" + std::to_string(static_cast<std::int32_t>(Int(block, 0))) +
         " dwData=" + std::to_string(data.dwData) + " cbData=" + std::to_string(data.cbData) +
         " n=" + std::to_string(n) + " m=" + std::to_string(m) + " size=" + (sized ? "ok" : "bad") +
         " pid=" + std::to_string(Int(block, 24)) + " tid=" + std::to_string(Int(block, 28)) +
         " day=" + std::to_string(Int(block, 8)) + " ms=" + std::to_string(Int(block, 4)) +
         " bias=" + std::to_string(static_cast<std::int32_t>(Int(block, 12))) + " id=" + Slot(block, 32, 42) +
         " computer=" + Slot(block, 74, 16) + " app=" + Slot(block, 90, 41) +
         " category=" + Slot(block, 131, 41) + " color=" + color +
         " text=" + (sized ? Escaped(block + 217, n) : std::string());
  Record(line);
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
