#pragma once
// The messenger's now-playing line delivered to every running messenger window.
#include "publish/msn.h"

class Win32Messenger final : public MessengerLink {
 public:
  // Converted with the system's ANSI code page.
  std::u16string Widen(std::string_view ansi) const override;
  // WM_COPYDATA, synchronously, to each top-level window of class "MsnMsgrUIManager".
  void SendToAll(const MsnBlock& block) override;
};
