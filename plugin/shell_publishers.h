#pragma once
// The destinations as the shell wires them, each reading the settings afresh on every call.
#include "config/settings.h"
#include "plugin/publishers.h"
#include "plugin/wa_ipc.h"
#include "publish/mirc.h"
#include "publish/msn.h"

class ShellPublishers final : public Publishers {
 public:
  ShellPublishers(const PluginSettings& settings, PlayerRequests& player, MessengerLink& messenger,
                  MircLink& mirc)
      : settings_(settings), player_(player), messenger_(messenger), mirc_(mirc) {}

  void MSNSetNowPlaying(const TTrackMetaData& track) override;
  void MSNClearNowPlaying() override;
  void mIRCSendCommand(const TTrackMetaData& track) override;
  void StartMySQLUpdate(const TTrackMetaData& track) override;

 private:
  [[maybe_unused]] const PluginSettings& settings_;
  [[maybe_unused]] PlayerRequests& player_;
  MessengerLink& messenger_;
  MircLink& mirc_;
};
