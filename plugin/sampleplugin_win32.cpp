// The plug-in's contact surface with the player: the entry export, the record, the two window
// procedures that watch the player's windows, and the Windows side of the module's seams.
#include <windows.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <system_error>

#include "config/config_form_win32.h"
#include "config/reg_win32.h"
#include "diag/CSIntf_win32.h"
#include "diag/globals.h"
#include "plugin/gen_win32.h"
#include "plugin/module.h"
#include "plugin/player_messages.h"
#include "plugin/wa_ipc_win32.h"
#include "publish/dde_win32.h"
#include "publish/discord_pipe_win32.h"
#include "publish/msn_win32.h"
#include "publish/nowplaying_file_win32.h"
#include "runtime/handles_win32.h"
#include "scrobble/http_win32.h"
#include "track/globals_misc.h"
#include "tunnel/ssh_tunnel.h"

namespace {

int PluginInit();
void PluginConfig();
void PluginQuit();
LRESULT CALLBACK MainWndProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK PlaylistWndProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);

winampGeneralPurposePlugin plugin{0x10,       "[kiv] Skorrel", PluginInit, PluginConfig,
                                  PluginQuit, nullptr,         nullptr};

WNDPROC SetProcedure(HWND window, WNDPROC proc) {
  return reinterpret_cast<WNDPROC>(SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(proc)));
}

HMODULE ThisModule(DWORD flags) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | flags,
                          reinterpret_cast<LPCWSTR>(&PluginInit), &module))
    throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), "GetModuleHandleEx");
  return module;
}

class Win32Platform final : public ModulePlatform {
 public:
  SettingsRegistry& Registry() override { return registry_; }
  PlayerRequests& Player() override { return player_; }
  MessengerLink& Messenger() override { return messenger_; }
  MircLink& Mirc() override { return mirc_; }
  NowPlayingDisk& Disk() override { return disk_; }
  DiscordPipes& Discord() override { return discord_; }
  std::uint32_t TickCount() override { return GetTickCount() * clockRate_; }
  std::shared_ptr<HttpClient> MakeHttpClient() override { return std::make_shared<WinHttpClient>(); }

  void StartLogClient(const std::string& csDebug) override {
    ::StartLogClient(std::make_shared<Win32LogPlatform>(), csDebug, SystemDrive());
  }
  void StopLogClient() override { ::StopLogClient(); }
  std::string StartDde() override { return mirc_.Start(); }
  void StopDde() override { mirc_.Stop(); }

  std::uint32_t Hook(PlayerWindow which, HostWindow window) override {
    Hooked& hook = hooks_[Index(which)];
    hook.window = reinterpret_cast<HWND>(window);
    // 0 is also a valid old value, so only the error tells a failure.
    SetLastError(0);
    hook.previous = SetProcedure(hook.window, Ours(which));
    return hook.previous ? 0 : GetLastError();
  }
  bool IsHookOnTop(PlayerWindow which) override {
    const Hooked& hook = hooks_[Index(which)];
    return reinterpret_cast<WNDPROC>(GetWindowLongPtrA(hook.window, GWLP_WNDPROC)) == Ours(which);
  }
  // The kept procedure stays known: a message already on its way to ours still gets passed on.
  void Unhook(PlayerWindow which) override {
    const Hooked& hook = hooks_[Index(which)];
    SetProcedure(hook.window, hook.previous);
  }
  // The procedure a message to which goes on to.
  WNDPROC Previous(PlayerWindow which) const { return hooks_[Index(which)].previous; }

  void HoldModule() override { held_.reset(ThisModule(0)); }
  void ReleaseModule() override { held_.reset(); }
  void PinModule() override { ThisModule(GET_MODULE_HANDLE_EX_FLAG_PIN); }

  void StartTunnelLibrary() override { tunnel_.StartLibrary(); }
  std::unique_ptr<TunnelListener> StartListener(const TunnelSettings& settings) override {
    tunnel_.StartListener(settings);
    return std::make_unique<Listener>(tunnel_);
  }
  void EndTunnel() override { tunnel_.Stop(); }
  // Until the dialog exists, there is none.
  std::unique_ptr<ConfigDialog> MakeConfigDialog(HostWindow parent, SettingsEditor& editor) override {
    return MakeConfigForm(ThisModule(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT),
                          reinterpret_cast<HWND>(parent), editor);
  }

 private:
  struct Hooked {
    HWND window = nullptr;
    WNDPROC previous = nullptr;
  };
  static int Index(PlayerWindow which) { return which == PlayerWindow::Main ? 0 : 1; }
  static WNDPROC Ours(PlayerWindow which) {
    return which == PlayerWindow::Main ? MainWndProc : PlaylistWndProc;
  }

  // The one listener the tunnel runs.
  struct Listener final : TunnelListener {
    explicit Listener(SSHTunnel& tunnel) : tunnel(tunnel) {}
    void Stop() override { tunnel.StopListener(); }
    SSHTunnel& tunnel;
  };
  // The database client's default port, which the worker connects to through the tunnel. Tests
  // name another, since 3306 may be taken on the machine that runs them.
  // The player's clock as the dispatch and the scrobbling play rule see it. Tests of the play rule
  // run it faster, so that a track counts within a fraction of a second; differences across the
  // counter's wrap stay right, only scaled.
  static std::uint32_t ClockRate() {
    char rate[16];
    const DWORD length = GetEnvironmentVariableA("SKORREL_TEST_CLOCK_RATE", rate, sizeof rate);
    const unsigned long value = length > 0 && length < sizeof rate ? std::strtoul(rate, nullptr, 10) : 1;
    return value > 0 ? static_cast<std::uint32_t>(value) : 1;
  }
  static std::string TunnelPort() {
    char port[16];
    const DWORD length = GetEnvironmentVariableA("SKORREL_TEST_TUNNEL_PORT", port, sizeof port);
    return length > 0 && length < sizeof port ? std::string(port, length) : "3306";
  }

  RegistrySettingsStore registry_;
  WinampRequests player_;
  Win32Messenger messenger_;
  DdeMircLink mirc_;
  Win32NowPlayingDisk disk_;
  Win32DiscordPipes discord_;
  Hooked hooks_[2];
  unique_hmodule held_;
  SSHTunnel tunnel_{TunnelPort()};
  const std::uint32_t clockRate_ = ClockRate();
};

// The module state: touched only on the player's window thread.
struct ModuleState {
  Win32Platform platform;
  Module module{platform};
};

// Made when the module loads, destroyed only when FreeLibrary unloads it (see DllMain): at
// process exit nothing of it is torn down.
union ModuleStorage {
  ModuleState state;
  ModuleStorage() : state() {}
  ~ModuleStorage() {}
} storage;

ModuleState& State() { return storage.state; }

LRESULT CALLBACK PlaylistWndProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (IsTrackNotice(msg, wParam, lParam)) State().module.OnTrackNotice(lParam);
  return CallWindowProcA(State().platform.Previous(PlayerWindow::Playlist), window, msg, wParam, lParam);
}

LRESULT CALLBACK MainWndProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  const LRESULT result =
      CallWindowProcA(State().platform.Previous(PlayerWindow::Main), window, msg, wParam, lParam);
  if (IsWatchedMainMessage(msg, wParam)) State().module.OnMainMessage(msg, wParam);
  return result;
}

// No exception crosses into the player.
int PluginInit() {
  try {
    return State().module.Init(reinterpret_cast<HostWindow>(plugin.hwndParent));
  } catch (...) {
    return 1;
  }
}

void PluginConfig() {
  try {
    State().module.Config();
  } catch (...) {
  }
}

void PluginQuit() {
  try {
    State().module.Quit();
  } catch (...) {
  }
}

}  // namespace

extern "C" __declspec(dllexport) winampGeneralPurposePlugin* winampGetGeneralPurposePlugin() {
  return &plugin;
}

// Runs under the loader lock, so it never waits for a thread or ends another library. Unloaded
// by FreeLibrary, the module only releases its memory: Quit has stopped everything else, and a
// player that skipped Quit cannot get here, as Init holds a reference on the module until Quit.
// At process exit (reserved not null) the other threads were killed mid-call, so nothing at all.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) storage.state.~ModuleState();
  return TRUE;
}
