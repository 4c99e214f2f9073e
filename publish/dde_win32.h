#pragma once
// The mIRC conversation over DDEML.
#include <memory>
#include <string>

#include "publish/mirc.h"
#include "runtime/handles_win32.h"

class DdeMircLink final : public MircLink {
 public:
  // Creates the process's DDEML instance. DDEML ties it to the calling thread, so this must run on
  // the player's window thread, as every later call does. Returns empty, or the error's message.
  std::string Start();
  // Releases the instance; conversations are not possible afterwards.
  void Stop() { instance_.reset(); }

  std::unique_ptr<MircConversation> Connect(const std::string& service) override;

 private:
  unique_dde_instance instance_;
};
