#pragma once
// What the stand-in programs share: an append-only record file and a plain top-level window.
#include <windows.h>

#include <string>

// A record that several stand-ins may append to at once: one WriteFile per line on a handle
// opened for appending, so lines are never split or mixed.
class RecordFile {
 public:
  RecordFile() = default;
  RecordFile(const RecordFile&) = delete;
  RecordFile& operator=(const RecordFile&) = delete;
  ~RecordFile();

  // False, with a message on standard error, when the file cannot be opened.
  bool Open(const std::string& path, const char* program);
  // Writes line and CR LF; nothing when no file is open.
  void Line(const std::string& line) const;

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// Registers the class and makes a top-level window that is never shown (the plug-in's window
// searches do not see message-only windows); null when that fails.
HWND CreateTopLevelWindow(const char* className, const char* caption, WNDPROC proc);

// Dispatches messages until WM_QUIT. The first wait makes the process idle for input.
void RunMessageLoop();
