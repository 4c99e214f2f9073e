#include "plugin/module.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <stdexcept>
#include <utility>

#include "diag/globals.h"
#include "diag/run_logged.h"
#include "runtime/handle.h"
#include "runtime/worker.h"

namespace {

constexpr PlayerWindow kWindows[] = {PlayerWindow::Playlist, PlayerWindow::Main};

int Index(PlayerWindow which) { return which == PlayerWindow::Main ? 0 : 1; }

// How long the quit waits, after the tunnel, for the now-playing file's writer, Discord's worker,
// the database's and the scrobbling services' senders together; they were asked to end before the
// tunnel, so this is spare.
constexpr std::chrono::milliseconds kWorkersQuitWait{250};

}  // namespace

Module::Module(ModulePlatform& platform)
    : platform_(platform),
      publishers_(settings_, platform.Player(), platform.Messenger(), platform.Mirc(), platform.Disk(),
                  platform.Discord(), [&platform] { return platform.MakeHttpClient(); }),
      dispatch_(settings_, platform.Player(), publishers_, [&platform] { return platform.TickCount(); }),
      hostKeys_(std::make_shared<HostKeyStore>(platform.Registry())) {}

int Module::Init(HostWindow parent) {
  // Before anything is logged; never fails, at worst logging stays off.
  platform_.StartLogClient(ReadSettingString(platform_.Registry(), "CSDebug", kSettingsSection));
  LogDebug("Plugin.Init");
  dispatch_.Reset();
  quit_ = false;
  parent_ = parent;
  platform_.Player().SetParentWindow(parent);
  // A failing step skips the rest; the steps done stay done.
  try {
    LoadSettings(platform_.Registry(), settings_);
    // Made here, not at module load: DDEML ties the instance to the thread that makes it, the
    // player calls Init on its window thread, and module load runs under the loader lock. A
    // failure fails Init, as it would have failed loading the module.
    if (const std::string error = platform_.StartDde(); !error.empty()) {
      LogDebug("Plugin.Init: DDE could not be started (" + error + "), so the plug-in did not start");
      throw std::runtime_error(error);
    }
    if (!moduleHeld_) {
      platform_.HoldModule();
      moduleHeld_ = true;
    }
    if (!mysqlUse_) mysqlUse_.emplace();
    platform_.StartTunnelLibrary();
    if (settings_.SSHActive) StartListener();
    // What the last session left in the outbox goes now, not at the first track.
    publishers_.ResumeDatabase();
    publishers_.ResumeScrobbling();
    running_ = true;
    HookWindow(PlayerWindow::Main, parent);
    if (!hooked_[Index(PlayerWindow::Playlist)])
      HookWindow(PlayerWindow::Playlist, platform_.Player().GetPlaylistWindow());
    return 0;
  } catch (...) {
    return 1;
  }
}

void Module::Config() {
  const std::unique_ptr<ConfigDialog> dialog = platform_.MakeConfigDialog(parent_, *this);
  if (!dialog) return;
  ConfigDialog* const outer = std::exchange(openDialog_, dialog.get());
  const scope_exit closed([&] { openDialog_ = outer; });
  // A relay may have pinned a key since Init.
  settings_.SSHHostKey = hostKeys_->Pinned();
  dialog->ShowModal();
}

void Module::Quit() {
  running_ = false;
  quit_ = true;
  // Each step runs whatever became of the one before: the hooks must go before the module does.
  const auto step = [](const char* what, auto&& action) { RunLogged("Plugin.Quit", what, action); };
  // A quit dispatched inside the dialog's modal loop: Config returns into this module after the
  // player has let go of it, so the module must stay mapped.
  if (openDialog_)
    step("closing the settings dialog", [&] {
      openDialog_->Close();
      platform_.PinModule();
      LogDebug(
          "Plugin.Quit: the settings dialog was open; it is closed without saving, and the module stays "
          "loaded");
    });
  step("saving settings",
       [&] { SaveSettings(platform_.Registry(), settings_, [&] { publishers_.ClearMsnLine(); }); });
  step("clearing MSN", [&] { publishers_.ClearMsnLine(); });
  step("clearing the now-playing file and Discord", [&] { publishers_.HideTrack(); });
  // A track played long enough counts, as a stop would count it.
  step("ending the play", [&] { publishers_.EndPlay(platform_.TickCount()); });
  // Asked now, so that they end while the tunnel does; each worker first finishes the clear just
  // handed over, and the sender stores what it was handed.
  step("asking the workers to end", [&] {
    publishers_.EndWorkers({});
    publishers_.EndDatabase({});
    publishers_.EndScrobbling({});
  });
  step("stopping the listener", [&] { StopListener(); });
  // While the log client still takes their last lines. Their end unblocks a statement in flight
  // through the tunnel.
  step("ending the tunnel's relays", [&] { platform_.EndTunnel(); });
  // Here on the player's thread, never at unload under the loader lock, and within one short wait:
  // a worker stuck on a disk, a pipe or a server ends by itself later.
  step("ending the workers", [&] {
    const auto until = std::chrono::steady_clock::now() + kWorkersQuitWait;
    if (!publishers_.EndWorkers(kWorkersQuitWait))
      LogDebug(
          "Plugin.Quit: the now-playing file or Discord did not answer in time; its worker ends by itself "
          "when the disk or the pipe does");
    if (!publishers_.EndDatabase(LeftUntil(until)))
      LogDebug(
          "Plugin.Quit: a statement is still on its way to the database server; it stays in the outbox and "
          "is sent again at the next start");
    if (!publishers_.EndScrobbling(LeftUntil(until)))
      LogDebug(
          "Plugin.Quit: a request to ListenBrainz or Last.fm was still on its way; its plays stay in the "
          "outbox and are sent again at the next start");
  });
  step("checking the hooks", [&] {
    // Said while the log client still exists.
    if (!AnyHookCovered()) return;
    platform_.PinModule();
    LogDebug(
        "Plugin.Quit: a player window was subclassed after us, so our procedure stays in its "
        "chain passing messages on, and the module stays loaded");
  });
  step("destroying the log client", [&] { platform_.StopLogClient(); });
  step("removing hooks", [&] { RemoveHooks(); });
  // On the thread that made it, and before the player can free the module under its callback.
  step("ending DDE", [&] { platform_.StopDde(); });
  // With no worker left this ends the client library here, on the player's window thread;
  // otherwise the last worker does, on its own thread.
  step("letting go of the client library", [&] { mysqlUse_.reset(); });
  step("releasing the module", [&] {
    if (std::exchange(moduleHeld_, false)) platform_.ReleaseModule();
  });
}

void Module::OnTrackNotice(LParam lParam) noexcept {
  if (running_) RunLogged("Dispatch", "track notice", [&] { dispatch_.OnTrackNotice(lParam); });
}

void Module::OnMainMessage(unsigned msg, WParam wParam) noexcept {
  if (running_) RunLogged("Dispatch", "player command", [&] { dispatch_.OnMainMessage(msg, wParam); });
}

void Module::SaveEdited(const PluginSettings& edited) {
  // The tunnel is down and the module about to go: a save now would start a listener in it.
  if (quit_) return;
  // Forget was pressed, or the pin belongs to another server.
  const bool forgetPin =
      edited.SSHServer != settings_.SSHServer || (edited.SSHHostKey.empty() && !settings_.SSHHostKey.empty());
  // An emptied text with a default means the default now, in the registry and after the next start.
  PluginSettings applied = edited;
  ApplyDefaults(applied);
  const PluginSettings before = std::exchange(settings_, applied);
  SaveSettings(platform_.Registry(), settings_, [&] { publishers_.ClearMsnLine(); });
  LogDebug("Config: Saved settings");
  publishers_.Withdraw(before);
  if (forgetPin && !hostKeys_->Pinned().empty()) {
    hostKeys_->Forget();
    LogDebug("Config: Forgot the pinned SSH host key; the next connection pins the key it meets");
  }
  settings_.SSHHostKey = hostKeys_->Pinned();
  if (settings_.SSHActive) {
    LogDebug("Config: SSH is set to active...");
    if (ListenerActive()) {
      LogDebug("Config: Listener was already active, terminating & restarting thread...");
      StopListener();
      LogDebug("Config: Starting new listener thread...");
    } else {
      LogDebug("Config: SSH set to active but was previously inactive - starting listener thread...");
    }
    StartListener();
  } else if (ListenerActive()) {
    LogDebug("Config: SSH set to inactive but was previously active - terminating listener thread...");
    StopListener();
  }
  // A corrected password or server is tried at once, through the listener just started; a
  // corrected token or key ends a service's halt.
  publishers_.ResumeDatabase();
  publishers_.ResumeScrobbling();
  LogDebug("Config: Completed.");
}

std::optional<TTrackMetaData> Module::PlayingTrack() {
  const TTrackMetaData& track = dispatch_.CurrentTrack();
  // A pause leaves the track where it was; only a stop ends it.
  if (track.FileName.empty() || !(dispatch_.Paused() || platform_.Player().IsPlaying())) return std::nullopt;
  return track;
}

std::string Module::HostKeyRefusal() {
  const std::optional<HostKeyStore::Refusal> refusal = hostKeys_->LastRefusal();
  if (!refusal) return "";
  const std::time_t when = std::chrono::system_clock::to_time_t(refusal->when);
  char time[32] = "";
  // The dialog's window thread is the only caller, so the shared result of localtime is safe here.
  if (const std::tm* local = std::localtime(&when))
    std::strftime(time, sizeof time, "%Y-%m-%d %H:%M:%S", local);
  return std::string("Refused at ") + time + ": " + refusal->offered;
}

void Module::StartListener() {
  // The tunnel's target is the database only when the database goes through the tunnel.
  TunnelSettings tunnel{settings_.SSHServer, settings_.SSHUserName, settings_.SSHPassword,
                        settings_.MySQLSSH ? settings_.MySQLServer : std::string()};
  tunnel.sshKeyFile = settings_.SSHKeyFile;
  // Relays of this listener may pin only while no Forget comes after this.
  tunnel.hostKeys = hostKeys_->View();
  listener_ = platform_.StartListener(tunnel);
}

void Module::StopListener() {
  if (!listener_) return;
  listener_->Stop();
  listener_.reset();
}

// A procedure still in a chain from an earlier run only needs to dispatch again.
void Module::HookWindow(PlayerWindow which, HostWindow window) {
  if (hooked_[Index(which)]) return;
  if (const std::uint32_t error = platform_.Hook(which, window)) {
    LogDebug(which == PlayerWindow::Main
                 ? "Plugin.Init: the player's main window could not be hooked (error " +
                       std::to_string(error) + "), so Pause, Stop and the end of a track are not seen"
                 : "Plugin.Init: the player's playlist window could not be hooked (error " +
                       std::to_string(error) + "), so track changes are not seen");
    return;
  }
  hooked_[Index(which)] = true;
}

bool Module::AnyHookCovered() {
  for (PlayerWindow which : kWindows)
    if (hooked_[Index(which)] && !platform_.IsHookOnTop(which)) return true;
  return false;
}

void Module::RemoveHooks() {
  // A window whose procedure another program replaced after ours keeps ours in its chain.
  for (PlayerWindow which : kWindows) {
    if (!hooked_[Index(which)] || !platform_.IsHookOnTop(which)) continue;
    platform_.Unhook(which);
    hooked_[Index(which)] = false;
  }
}
