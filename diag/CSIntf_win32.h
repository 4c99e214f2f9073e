#pragma once
#include "diag/CSIntf.h"

// The log client's view of Windows: clock, identity, window search, WM_COPYDATA and process start.
class Win32LogPlatform final : public LogPlatform {
 public:
  LocalDateTime Now() override;
  std::int32_t TimeZoneBias() override;
  std::optional<Guid> NewGuid() override;
  std::optional<std::string> ComputerName() override;
  std::string ExecutablePath() override;
  std::uint32_t ProcessId() override;
  std::uint32_t ThreadId() override;
  HostWindow FindTopLevelWindow(const std::string& className, const std::string& caption) override;
  LResult SendCopyData(HostWindow window, std::uintptr_t dwData,
                       const std::vector<std::uint8_t>& block) override;
  std::string PacketText(std::string_view utf8) override;
  std::string DispatcherPath() override;
  std::optional<HostWindow> StartAndFindWindow(const std::string& commandLine,
                                               const std::string& caption) override;
};
