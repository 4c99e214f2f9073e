#include "standin_win32.h"

#include <cstdio>

RecordFile::~RecordFile() {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
}

bool RecordFile::Open(const std::string& path, const char* program) {
  handle_ =
      CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle_ != INVALID_HANDLE_VALUE) return true;
  std::fprintf(stderr, "%s: cannot open %s\n", program, path.c_str());
  return false;
}

void RecordFile::Line(const std::string& line) const {
  if (handle_ == INVALID_HANDLE_VALUE) return;
  const std::string text = line + "\r\n";
  DWORD written = 0;
  WriteFile(handle_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

HWND CreateTopLevelWindow(const char* className, const char* caption, WNDPROC proc) {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = proc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = className;
  RegisterClassA(&windowClass);
  return CreateWindowExA(0, className, caption, WS_OVERLAPPEDWINDOW, 0, 0, 300, 100, nullptr, nullptr,
                         windowClass.hInstance, nullptr);
}

void RunMessageLoop() {
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}
