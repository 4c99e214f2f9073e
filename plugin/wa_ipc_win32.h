#pragma once
#include "plugin/wa_ipc.h"

// Player requests as SendMessage calls to the player's windows.
class WinampRequests final : public PlayerRequests {
 protected:
  LResult Send(HostWindow window, WParam wParam, LParam lParam) override;
};
