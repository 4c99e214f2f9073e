#pragma once
// The messenger's now-playing line delivered to every running messenger window.
#include "publish/msn.h"

class Win32Messenger final : public MessengerLink {
 public:
  // WM_COPYDATA, synchronously, to each top-level window of class "MsnMsgrUIManager".
  void SendToAll(const MsnBlock& block) override;
};
