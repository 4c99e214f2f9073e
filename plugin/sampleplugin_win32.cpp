// The plug-in's contact surface with the player: the entry export, the record, the three entries
// and the two window procedures that watch the player's windows.
#include <windows.h>

#include <string>
#include <utility>

#include "config/reg_win32.h"
#include "config/settings.h"
#include "diag/CSIntf_win32.h"
#include "diag/globals.h"
#include "diag/guarded.h"
#include "plugin/dispatch.h"
#include "plugin/gen_win32.h"
#include "plugin/shell_publishers.h"
#include "plugin/wa_ipc_win32.h"
#include "publish/dde_win32.h"
#include "publish/msn_win32.h"
#include "track/globals_misc.h"

namespace {

int PluginInit();
void PluginConfig();
void PluginQuit();

winampGeneralPurposePlugin plugin{0x10,       "[kiv] Skorrel", PluginInit, PluginConfig,
                                  PluginQuit, nullptr,         nullptr};

std::uint32_t TickCount() { return GetTickCount(); }

// The shell's module state: touched only on the player's window thread.
struct ModuleState {
  WNDPROC OldMainWndProc = nullptr;
  HWND PlaylistWindow = nullptr;
  WNDPROC OldPlaylistWndProc = nullptr;
  bool ListenerActive = false;
  PluginSettings settings;
  RegistrySettingsStore registry;
  WinampRequests player;
  Win32Messenger messenger;
  DdeMircLink mirc;
  ShellPublishers publishers{settings, player, messenger, mirc};
  TrackDispatch dispatch{settings, player, publishers, &TickCount};

  ~ModuleState();
};

ModuleState state;

LRESULT CALLBACK PlaylistWndProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (IsTrackNotice(msg, wParam, lParam)) {
    try {
      state.dispatch.OnTrackNotice(lParam);
    } catch (...) {
      // The player's playlist window still gets its message.
    }
  }
  return CallWindowProcA(state.OldPlaylistWndProc, window, msg, wParam, lParam);
}

LRESULT CALLBACK MainWndProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  const LRESULT result = CallWindowProcA(state.OldMainWndProc, window, msg, wParam, lParam);
  if (IsWatchedMainMessage(msg, wParam)) {
    try {
      state.dispatch.OnMainMessage(msg, wParam);
    } catch (...) {
    }
  }
  return result;
}

WNDPROC Subclass(HWND window, WNDPROC proc) {
  return reinterpret_cast<WNDPROC>(SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(proc)));
}

// Puts a saved procedure back, only while ours is still the window's.
void Unsubclass(HWND window, WNDPROC ours, WNDPROC& saved) {
  if (!saved) return;
  if (reinterpret_cast<WNDPROC>(GetWindowLongPtrA(window, GWLP_WNDPROC)) == ours) Subclass(window, saved);
  saved = nullptr;
}

void RemoveHooks() {
  Unsubclass(state.PlaylistWindow, PlaylistWndProc, state.OldPlaylistWndProc);
  Unsubclass(plugin.hwndParent, MainWndProc, state.OldMainWndProc);
}

ModuleState::~ModuleState() {
  // A player that unloads the module without calling Quit must not be left with procedures
  // pointing into unmapped code.
  if (OldMainWndProc || OldPlaylistWndProc) RemoveHooks();
}

template <typename F>
void Step(const char* what, F&& step) {
  RunLogged("Plugin.Quit", what, std::forward<F>(step));
}

int PluginInit() {
  try {
    // Before anything is logged; never fails, at worst logging stays off.
    StartLogClient(std::make_shared<Win32LogPlatform>(),
                   ReadSettingString(state.registry, "CSDebug", kSettingsSection), SystemDrive());
    LogDebug("Plugin.Init");
    state.dispatch.Reset();
    state.player.SetParentWindow(reinterpret_cast<HostWindow>(plugin.hwndParent));
    LoadSettings(state.registry, state.settings);
    // The DDE instance is made here, not at module load: DDEML ties it to the creating thread, the
    // player calls Init on its window thread, and module load runs under the loader lock.
    if (const std::string error = state.mirc.Start(); !error.empty()) LogDebug("Plugin.Init: " + error);
    // The tunnel listener is started here once it exists.
    state.ListenerActive = false;
    state.OldMainWndProc = Subclass(plugin.hwndParent, MainWndProc);
    state.PlaylistWindow = reinterpret_cast<HWND>(state.player.GetPlaylistWindow());
    state.OldPlaylistWndProc = Subclass(state.PlaylistWindow, PlaylistWndProc);
    return 0;
  } catch (...) {
    return 1;
  }
}

void PluginConfig() {
  try {
    // The configuration dialog is shown here once it exists.
  } catch (...) {
  }
}

void PluginQuit() {
  // Each step runs whatever became of the one before: the hooks must go before the module does.
  Step("saving settings",
       [] { SaveSettings(state.registry, state.settings, [] { state.publishers.MSNClearNowPlaying(); }); });
  Step("clearing MSN", [] { state.publishers.MSNClearNowPlaying(); });
  Step("stopping the listener", [] { state.ListenerActive = false; });
  Step("destroying the log client", [] { StopLogClient(); });
  Step("removing hooks", [] { RemoveHooks(); });
  // On the thread that made it, and before the player can free the module under its callback.
  Step("ending DDE", [] { state.mirc.Stop(); });
}

}  // namespace

extern "C" __declspec(dllexport) winampGeneralPurposePlugin* winampGetGeneralPurposePlugin() {
  return &plugin;
}
