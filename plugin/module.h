#pragma once
// The plug-in's life: what the player's Init, Config and Quit do, step by step, and the module state
// they share. Windows is reached only through ModulePlatform, so every step can be watched natively.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "config/dialog.h"
#include "config/host_key_store.h"
#include "config/settings.h"
#include "database/mysql.h"
#include "plugin/dispatch.h"
#include "plugin/shell_publishers.h"
#include "plugin/wa_ipc.h"
#include "publish/mirc.h"
#include "publish/msn.h"
#include "scrobble/http.h"
#include "tunnel/ssh_tunnel.h"

// A started tunnel listener, owned by the module.
class TunnelListener {
 public:
  virtual ~TunnelListener() = default;
  // Asks the listener to end and waits until it has.
  virtual void Stop() = 0;
};

enum class PlayerWindow { Main, Playlist };

// What the module needs of Windows, of the player and of the destinations.
class ModulePlatform {
 public:
  virtual ~ModulePlatform() = default;

  virtual SettingsRegistry& Registry() = 0;
  virtual PlayerRequests& Player() = 0;
  virtual MessengerLink& Messenger() = 0;
  virtual MircLink& Mirc() = 0;
  virtual NowPlayingDisk& Disk() = 0;
  virtual DiscordPipes& Discord() = 0;
  virtual std::uint32_t TickCount() = 0;
  // One scrobbling service's HTTP client, made as the module loads and first used on its sender's
  // thread.
  virtual std::shared_ptr<HttpClient> MakeHttpClient() = 0;

  // Creates the log client, configured from the CSDebug value; empty leaves logging off.
  virtual void StartLogClient(const std::string& csDebug) = 0;
  virtual void StopLogClient() = 0;
  // The process's DDE instance for the mIRC conversations. Empty, or why it could not be made.
  virtual std::string StartDde() = 0;
  virtual void StopDde() = 0;

  // Replaces window's procedure with the plug-in's one for which, keeping the old one to pass
  // every message on to. 0, or the system's error when the procedure could not be replaced.
  virtual std::uint32_t Hook(PlayerWindow which, HostWindow window) = 0;
  // Whether the window's procedure is still the plug-in's, so the kept one can be put back.
  virtual bool IsHookOnTop(PlayerWindow which) = 0;
  virtual void Unhook(PlayerWindow which) = 0;

  // A reference on the plug-in's own module from Init to Quit: a player that unloads it without
  // Quit leaves no hook and no thread in unmapped code.
  virtual void HoldModule() = 0;
  virtual void ReleaseModule() = 0;
  // Keeps the module mapped until the process ends.
  virtual void PinModule() = 0;

  // Loads and starts the SSH library, before any listener or relay exists. Without it the tunnel
  // still listens, but no relay can start its session.
  virtual void StartTunnelLibrary() = 0;
  // Creates and starts a listener with copies of the settings; throws when it cannot.
  virtual std::unique_ptr<TunnelListener> StartListener(const TunnelSettings& settings) = 0;
  // Ends every relay the listeners started and waits for each, then ends the SSH library: no
  // relay outlives the plug-in.
  virtual void EndTunnel() = 0;
  // The configuration dialog over parent, editing through editor. Null while the build has none.
  virtual std::unique_ptr<ConfigDialog> MakeConfigDialog(HostWindow parent, SettingsEditor& editor) = 0;
};

class Module final : public SettingsEditor {
 public:
  explicit Module(ModulePlatform& platform);

  // The player's three entries.
  int Init(HostWindow parent);
  void Config();
  void Quit();

  // From the window procedures, for the messages the filters of player_messages.h let through.
  // They dispatch only between Init and Quit, and never throw.
  void OnTrackNotice(LParam lParam) noexcept;
  void OnMainMessage(unsigned msg, WParam wParam) noexcept;

  const PluginSettings& Settings() const override { return settings_; }
  void SaveEdited(const PluginSettings& edited) override;
  std::string HostKeyRefusal() override;
  HistoryStatus DatabaseOutbox() override { return publishers_.Database().Status(); }
  void SendFailedStatementsAgain() override { publishers_.Database().SendFailedAgain(); }
  void DiscardFailedStatements() override { publishers_.Database().DiscardFailed(); }
  HistoryStatus ScrobbleOutbox(ScrobbleQueue queue) override { return Plays(queue).Status(); }
  void SendFailedPlaysAgain(ScrobbleQueue queue) override { Plays(queue).SendFailedAgain(); }
  void DiscardFailedPlays(ScrobbleQueue queue) override { Plays(queue).DiscardFailed(); }
  std::shared_ptr<HttpClient> MakeHttpClient() override { return platform_.MakeHttpClient(); }
  std::optional<TTrackMetaData> PlayingTrack() override;
  TagSource& PlayerTags() override { return platform_.Player(); }

  bool ListenerActive() const { return listener_ != nullptr; }
  const TrackDispatch& Dispatch() const { return dispatch_; }

 private:
  void StartListener();
  void StopListener();
  HistorySender& Plays(ScrobbleQueue queue) {
    return queue == ScrobbleQueue::LastFm ? publishers_.Scrobbling().LastFm()
                                          : publishers_.Scrobbling().ListenBrainz();
  }
  void HookWindow(PlayerWindow which, HostWindow window);
  bool AnyHookCovered();
  void RemoveHooks();

  ModulePlatform& platform_;
  HostWindow parent_ = 0;
  PluginSettings settings_;
  ShellPublishers publishers_;
  TrackDispatch dispatch_;
  // False before Init and from Quit on: a procedure left in a window's chain then only passes on.
  bool running_ = false;
  // From Quit until the next Init: a save from a dialog still open then does nothing.
  bool quit_ = false;
  bool hooked_[2] = {false, false};
  // The dialog Config shows, while its modal loop runs.
  ConfigDialog* openDialog_ = nullptr;
  std::unique_ptr<TunnelListener> listener_;
  // Shared with every relay, which may outlive the listener that started it.
  std::shared_ptr<HostKeyStore> hostKeys_;
  std::optional<MySQLLibraryUse> mysqlUse_;
  bool moduleHeld_ = false;
};
