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

  void SetMsnLine(const TTrackMetaData& track) override;
  void ClearMsnLine() override;
  void SendMircCommand(const TTrackMetaData& track) override;
  // The worker holds a reference on the module while it runs, so the player's quit never waits for it.
  void StartDatabaseUpdate(const TTrackMetaData& track) override;

 private:
  const PluginSettings& settings_;
  PlayerRequests& player_;
  MessengerLink& messenger_;
  MircLink& mirc_;
};
