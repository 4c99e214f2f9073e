#include "plugin/module.h"

#include <stdexcept>

#include "diag/globals.h"
#include "diag/run_logged.h"

namespace {

constexpr PlayerWindow kWindows[] = {PlayerWindow::Playlist, PlayerWindow::Main};

int Index(PlayerWindow which) { return which == PlayerWindow::Main ? 0 : 1; }

}  // namespace

Module::Module(ModulePlatform& platform)
    : platform_(platform),
      publishers_(settings_, platform.Player(), platform.Messenger(), platform.Mirc()),
      dispatch_(settings_, platform.Player(), publishers_, [&platform] { return platform.TickCount(); }) {}

int Module::Init(HostWindow parent) {
  // Before anything is logged; never fails, at worst logging stays off.
  platform_.StartLogClient(ReadSettingString(platform_.Registry(), "CSDebug", kSettingsSection));
  LogDebug("Plugin.Init");
  dispatch_.Reset();
  parent_ = parent;
  platform_.Player().SetParentWindow(parent);
  // A failing step skips the rest; the steps done stay done.
  try {
    LoadSettings(platform_.Registry(), settings_);
    // Made here, not at module load: DDEML ties the instance to the thread that makes it, the
    // player calls Init on its window thread, and module load runs under the loader lock. A
    // failure fails Init, as it would have failed loading the module.
    if (const std::string error = platform_.StartDde(); !error.empty()) throw std::runtime_error(error);
    if (!moduleHeld_) {
      platform_.HoldModule();
      moduleHeld_ = true;
    }
    if (!mysqlUse_) mysqlUse_.emplace();
    platform_.StartTunnelLibrary();
    if (settings_.SSHActive) StartListener();
    running_ = true;
    // A procedure still in a chain from an earlier run only needs to dispatch again.
    if (!hooked_[Index(PlayerWindow::Main)]) {
      platform_.Hook(PlayerWindow::Main, parent);
      hooked_[Index(PlayerWindow::Main)] = true;
    }
    if (!hooked_[Index(PlayerWindow::Playlist)]) {
      platform_.Hook(PlayerWindow::Playlist, platform_.Player().GetPlaylistWindow());
      hooked_[Index(PlayerWindow::Playlist)] = true;
    }
    return 0;
  } catch (...) {
    return 1;
  }
}

void Module::Config() {
  if (const std::unique_ptr<ConfigDialog> dialog = platform_.MakeConfigDialog(parent_, *this))
    dialog->ShowModal();
}

void Module::Quit() {
  running_ = false;
  // Each step runs whatever became of the one before: the hooks must go before the module does.
  const auto step = [](const char* what, auto&& action) { RunLogged("Plugin.Quit", what, action); };
  step("saving settings",
       [&] { SaveSettings(platform_.Registry(), settings_, [&] { publishers_.ClearMsnLine(); }); });
  step("clearing MSN", [&] { publishers_.ClearMsnLine(); });
  step("stopping the listener", [&] { StopListener(); });
  // While the log client still takes their last lines.
  step("ending the tunnel's relays", [&] { platform_.EndTunnel(); });
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
  settings_ = edited;
  SaveSettings(platform_.Registry(), settings_, [&] { publishers_.ClearMsnLine(); });
  LogDebug("Config: Saved settings");
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
  LogDebug("Config: Completed.");
}

void Module::StartListener() {
  // The tunnel's target is the database only when the database goes through the tunnel.
  listener_ = platform_.StartListener({settings_.SSHServer, settings_.SSHUserName, settings_.SSHPassword,
                                       settings_.MySQLSSH ? settings_.MySQLServer : std::string()});
}

void Module::StopListener() {
  if (!listener_) return;
  listener_->Stop();
  listener_.reset();
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
