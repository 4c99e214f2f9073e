// Stand-in for MSN Messenger: a top-level window of class "MsnMsgrUIManager" that records every
// WM_COPYDATA it receives, one line each, and shows the now-playing line it would display.
//
//   messenger_standin.exe RECORD_FILE [NAME]
//
// NAME (default "messenger") is the window's caption and starts every line, so several instances
// can share one record file: their lines then stand in the order the messages arrived. A line:
//   NAME: dwData=1351 cbData=256 text=\0Music\01\0{0}\0T\0\0\0WMContentID rest=zero
// text is the UTF-16 text up to its first zero unit, as UTF-8; rest tells whether every byte after
// that unit is zero (else it gives them in hex). Close the window (WM_CLOSE) to end the program.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "standin_win32.h"

namespace {

RecordFile record;
std::string name = "messenger";

std::string Utf8(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                       nullptr, nullptr);
  std::string text(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), size, nullptr,
                      nullptr);
  return text;
}

std::string Hex(const unsigned char* bytes, std::size_t count) {
  std::string hex;
  char two[3];
  for (std::size_t i = 0; i < count; ++i) {
    std::snprintf(two, sizeof two, "%02x", bytes[i]);
    hex += two;
  }
  return hex;
}

// What the messenger would show: the format with {0}, {1} and {2} filled from the fields after it.
std::string Shown(const std::string& text) {
  std::vector<std::string> fields;
  std::size_t from = 0;
  for (std::size_t sep; (sep = text.find("\\0", from)) != std::string::npos; from = sep + 2)
    fields.push_back(text.substr(from, sep - from));
  fields.push_back(text.substr(from));
  if (fields.size() != 8 || fields[1] != "Music") return "unreadable line: " + text;
  if (fields[2] == "0") return "now-playing line off";
  std::string shown = fields[3];
  for (int i = 0; i < 3; ++i) {
    const std::string slot = "{" + std::to_string(i) + "}";
    for (std::size_t at; (at = shown.find(slot)) != std::string::npos;) shown.replace(at, 3, fields[4 + i]);
  }
  return "now playing: " + shown;
}

void OnCopyData(const COPYDATASTRUCT& data) {
  const auto* bytes = static_cast<const unsigned char*>(data.lpData);
  std::wstring wide;
  std::size_t i = 0;
  for (; i + 1 < data.cbData; i += 2) {
    const wchar_t unit = static_cast<wchar_t>(bytes[i] | bytes[i + 1] << 8);
    if (unit == 0) break;
    wide += unit;
  }
  const std::size_t restStart = i + 2 < data.cbData ? i + 2 : data.cbData;
  bool restZero = true;
  for (std::size_t j = restStart; j < data.cbData; ++j) restZero = restZero && bytes[j] == 0;

  const std::string text = Utf8(wide);
  record.Line(name + ": dwData=" + std::to_string(data.dwData) + " cbData=" + std::to_string(data.cbData) +
              " text=" + text +
              " rest=" + (restZero ? "zero" : Hex(bytes + restStart, data.cbData - restStart)));
  std::printf("[%s] %s\n", name.c_str(), Shown(text).c_str());
  std::fflush(stdout);
}

LRESULT CALLBACK WindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_COPYDATA:
      OnCopyData(*reinterpret_cast<const COPYDATASTRUCT*>(lParam));
      return TRUE;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(window, msg, wParam, lParam);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: messenger_standin RECORD_FILE [NAME]\n");
    return 2;
  }
  if (argc > 2) name = argv[2];
  if (!record.Open(argv[1], "messenger_standin")) return 1;

  if (!CreateTopLevelWindow("MsnMsgrUIManager", name.c_str(), WindowProc)) {
    std::fprintf(stderr, "messenger_standin: no window\n");
    return 1;
  }
  std::printf("[%s] messenger ready\n", name.c_str());
  std::fflush(stdout);

  RunMessageLoop();
  return 0;
}
