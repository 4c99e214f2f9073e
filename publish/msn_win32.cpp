#include "publish/msn_win32.h"

#include <windows.h>

std::u16string Win32Messenger::Widen(std::string_view ansi) const {
  if (ansi.empty()) return {};
  const int size = static_cast<int>(ansi.size());
  const int units = MultiByteToWideChar(CP_ACP, 0, ansi.data(), size, nullptr, 0);
  if (units <= 0) return {};
  std::u16string wide(static_cast<std::size_t>(units), u'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), size, reinterpret_cast<wchar_t*>(wide.data()), units);
  return wide;
}

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
