#pragma once
// The destinations as the shell wires them, each reading the settings afresh on every call.
#include "config/settings.h"
#include "plugin/publishers.h"
#include "plugin/wa_ipc.h"
#include "publish/discord.h"
#include "publish/mirc.h"
#include "publish/msn.h"
#include "publish/nowplaying_file.h"

class ShellPublishers final : public Publishers {
 public:
  ShellPublishers(const PluginSettings& settings, PlayerRequests& player, MessengerLink& messenger,
                  MircLink& mirc, NowPlayingDisk& disk, DiscordPipes& discord)
      : settings_(settings),
        player_(player),
        messenger_(messenger),
        mirc_(mirc),
        file_(disk),
        discord_(discord) {}

  void SetMsnLine(const TTrackMetaData& track) override;
  void ClearMsnLine() override;
  void SendMircCommand(const TTrackMetaData& track) override;
  // The worker holds a reference on the module while it runs, so the player's quit never waits for it.
  void StartDatabaseUpdate(const TTrackMetaData& track) override;
  void ShowTrack(const TTrackMetaData& track) override;
  void HideTrack() override;
  // After a save: empties the file and clears Discord's presence where the save turned them off, as
  // a stop would have, so that nothing shows a track the user no longer publishes.
  void Withdraw(const PluginSettings& before);
  // Ends the file's writer and Discord's worker, after what each has pending.
  void EndWorkers();

 private:
  // Discord's presence of the track now playing, from the player's position and length.
  DiscordActivity Activity(TagSource& tags, const TTrackMetaData& track);

  const PluginSettings& settings_;
  PlayerRequests& player_;
  MessengerLink& messenger_;
  MircLink& mirc_;
  NowPlayingFile file_;
  DiscordPresence discord_;
};
