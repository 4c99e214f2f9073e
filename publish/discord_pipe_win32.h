#pragma once
// Discord's local RPC pipes on Windows, opened for overlapped I/O so that a wait on the pipe ends
// at a wake as well.
#include <windows.h>

#include "publish/discord.h"
#include "runtime/handles_win32.h"

class Win32DiscordPipes final : public DiscordPipes {
 public:
  Win32DiscordPipes();
  std::unique_ptr<DiscordConnection> Open() override;
  void Wake() override { SetEvent(wake_.get()); }
  std::uint32_t ProcessId() override { return GetCurrentProcessId(); }

 private:
  unique_kernel_handle wake_;  // auto-reset
};
