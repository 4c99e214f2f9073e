#include "publish/msn_win32.h"

#include <windows.h>

void Win32Messenger::SendToAll(const MsnBlock& block) {
  COPYDATASTRUCT data{};
  data.dwData = kMsnCopyDataId;
  data.cbData = static_cast<DWORD>(block.size());
  // The receiver only reads the block; the platform copies it into the messenger's process.
  data.lpData = const_cast<std::uint8_t*>(block.data());
  for (HWND window = FindWindowExA(nullptr, nullptr, "MsnMsgrUIManager", nullptr); window;
       window = FindWindowExA(nullptr, window, "MsnMsgrUIManager", nullptr))
    SendMessageA(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
}
