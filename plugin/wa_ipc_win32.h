#pragma once
#include "plugin/wa_ipc.h"

// Player requests as SendMessage calls to the player's windows.
class WinampRequests final : public PlayerRequests {
 protected:
  LResult Send(HostWindow window, WParam wParam, LParam lParam) override;
  std::string AnsiToUtf8(std::string_view ansi) const override;
  std::string Utf8ToAnsi(std::string_view utf8) const override;
};
