#pragma once
// The destinations as the shell wires them, each reading the settings afresh on every call.
#include <chrono>

#include "config/settings.h"
#include "database/thread_mysql_updater.h"
#include "plugin/publishers.h"
#include "plugin/wa_ipc.h"
#include "publish/discord.h"
#include "publish/mirc.h"
#include "publish/msn.h"
#include "publish/nowplaying_file.h"
#include "scrobble/scrobbler.h"

class ShellPublishers final : public Publishers {
 public:
  ShellPublishers(const PluginSettings& settings, PlayerRequests& player, MessengerLink& messenger,
                  MircLink& mirc, NowPlayingDisk& disk, DiscordPipes& discord,
                  const Scrobbler::MakeHttp& http)
      : settings_(settings),
        player_(player),
        messenger_(messenger),
        mirc_(mirc),
        file_(disk),
        discord_(discord, http()),
        scrobbler_(http, LoggedSenders()) {}

  void SetMsnLine(const TTrackMetaData& track) override;
  void ClearMsnLine() override;
  void SendMircCommand(const TTrackMetaData& track) override;
  // Hands the statement to the database's sender and returns at once.
  void StartDatabaseUpdate(const TTrackMetaData& track) override;
  // At start-up and after a save, while the database is on: what waits in the outbox is sent.
  void ResumeDatabase();
  MySQLPublisher& Database() { return database_; }
  void ShowTrack(const TTrackMetaData& track) override;
  void HideTrack() override;
  // After a save: empties the file and clears Discord's presence where the save turned them off, as
  // a stop would have, so that nothing shows a track the user no longer publishes.
  void Withdraw(const PluginSettings& before);
  // Ends the file's writer and Discord's worker, after what each has pending, waiting at most limit
  // for both; one stuck on a disk or a pipe is left to end by itself. False then.
  bool EndWorkers(std::chrono::milliseconds limit);
  // Ends the database's sender, waiting at most limit: one stuck on the network is left to end
  // by itself, with its statement still in the outbox. False then.
  bool EndDatabase(std::chrono::milliseconds limit) { return database_.Stop(limit); }

  // Reads the length with request 105 only while a service is on.
  void StartPlay(const TTrackMetaData& track, std::uint32_t now) override;
  void PausePlay(std::uint32_t now) override { scrobbler_.Pause(now); }
  void ResumePlay(std::uint32_t now) override { scrobbler_.Resume(now); }
  void EndPlay(std::uint32_t now) override { scrobbler_.End(now, ScrobbleTargetsNow()); }
  // At start-up and after a save: a refused token is tried again and what waits is sent.
  void ResumeScrobbling() { scrobbler_.Apply(ScrobbleTargetsNow()); }
  Scrobbler& Scrobbling() { return scrobbler_; }
  // Both services' senders, as EndDatabase: a request in flight is abandoned, its plays stay queued.
  bool EndScrobbling(std::chrono::milliseconds limit) { return scrobbler_.Stop(limit); }

 private:
  MySQLTarget DatabaseTarget() const;
  ScrobbleTargets ScrobbleTargetsNow() const;
  static HistorySenderOptions LoggedSenders();
  // Discord's presence of the track now playing, from the player's position and length.
  DiscordActivity Activity(TagSource& tags, const TTrackMetaData& track);

  const PluginSettings& settings_;
  PlayerRequests& player_;
  MessengerLink& messenger_;
  MircLink& mirc_;
  NowPlayingFile file_;
  DiscordPresence discord_;
  MySQLPublisher database_;
  Scrobbler scrobbler_;
};
