#include "dialog_pictures_win32.h"

#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <cstdio>
#include <vector>

namespace {

// A step per timer tick, so that each tab is painted, and reaches the screen, before its picture.
constexpr UINT kTickMs = 250;
constexpr int kTabs = 7;

std::string picturePrefix;
void (*reportLine)(const std::string&) = nullptr;
int step = 0;

BOOL CALLBACK FindDialog(HWND window, LPARAM result) {
  char name[16];
  if (!IsWindowVisible(window) || !GetClassNameA(window, name, sizeof name) || lstrcmpA(name, "#32770") != 0)
    return TRUE;
  *reinterpret_cast<HWND*>(result) = window;
  return FALSE;
}

HWND DialogOfThisThread() {
  HWND found = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), FindDialog, reinterpret_cast<LPARAM>(&found));
  return found;
}

// The screen under the window's client area as a 24-bit bottom-up BMP file. Without a window
// manager on the display, the title bar is not drawn at all, so only the client area is kept.
bool SaveScreenUnder(HWND window, const std::string& path) {
  RECT area;
  GetClientRect(window, &area);
  MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&area), 2);
  const int width = area.right - area.left, height = area.bottom - area.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
  SelectObject(memory, old);

  BITMAPINFOHEADER info{};
  info.biSize = sizeof info;
  info.biWidth = width;
  info.biHeight = height;
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
  std::vector<unsigned char> pixels(stride * static_cast<DWORD>(height));
  const int lines = GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(),
                              reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  if (lines != height) return false;

  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
  FILE* out = fopen(path.c_str(), "wb");
  if (!out) return false;
  const bool written = fwrite(&file, sizeof file, 1, out) == 1 && fwrite(&info, sizeof info, 1, out) == 1 &&
                       fwrite(pixels.data(), pixels.size(), 1, out) == 1;
  return fclose(out) == 0 && written;
}

void CALLBACK Tick(HWND, UINT, UINT_PTR timer, DWORD) {
  const HWND dialog = DialogOfThisThread();
  if (!dialog) return;
  const HWND tabs = FindWindowExA(dialog, nullptr, WC_TABCONTROLA, nullptr);
  const int tab = step / 2;
  if (step % 2 == 0) {
    // Selecting by focus notifies the dialog, as a click on the tab would.
    SendMessageA(tabs, TCM_SETCURFOCUS, static_cast<WPARAM>(tab), 0);
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  } else {
    const std::string path = picturePrefix + std::to_string(tab + 1) + ".bmp";
    reportLine("picture " + path + (SaveScreenUnder(dialog, path) ? " saved" : " failed"));
  }
  if (++step == 2 * kTabs) {
    KillTimer(nullptr, timer);
    PostMessageA(dialog, WM_CLOSE, 0, 0);
  }
}

}  // namespace

void PictureDialogTabs(const std::string& prefix, void (*report)(const std::string& line)) {
  picturePrefix = prefix;
  reportLine = report;
  step = 0;
  SetTimer(nullptr, 0, kTickMs, Tick);
}
