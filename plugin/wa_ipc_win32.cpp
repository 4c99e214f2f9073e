#include "plugin/wa_ipc_win32.h"

#include <windows.h>

LResult WinampRequests::Send(HostWindow window, WParam wParam, LParam lParam) {
  return SendMessageA(reinterpret_cast<HWND>(window), WM_USER, wParam, lParam);
}
