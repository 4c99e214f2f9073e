// The plug-in's life with every seam written into one journal, so the order of the steps shows.
#include "plugin/module.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "diag/globals.h"
#include "fake_player.h"
#include "fake_registry.h"
#include "log_platform_double.h"

namespace {

using Calls = std::vector<std::string>;

class JournalPlatform final : public ModulePlatform {
 public:
  JournalPlatform() {
    player.playlist = {"C:\\Music\\a.mp3"};
    player.tags[{"C:\\Music\\a.mp3", "title"}] = "A";
  }

  // The journal, with each run of reads or writes of the settings shown as one step.
  Calls Steps() const {
    Calls steps;
    for (const std::string& call : journal)
      if (steps.empty() || call.rfind("registry", 0) != 0 || steps.back() != call) steps.push_back(call);
    return steps;
  }
  // The log lines sent since the log client started.
  Calls Logged() const {
    Calls lines;
    for (const SentPacket& packet : log->Sent())
      if (packet.Type() == 0) lines.push_back(packet.Text().substr(std::string("[gen_skorrel] ").size()));
    return lines;
  }

  SettingsRegistry& Registry() override { return registry; }
  PlayerRequests& Player() override { return player; }
  MessengerLink& Messenger() override { return messenger; }
  MircLink& Mirc() override { return mirc; }
  NowPlayingDisk& Disk() override { return disk; }
  DiscordPipes& Discord() override { return discord; }
  std::uint32_t TickCount() override { return 1000; }
  std::shared_ptr<HttpClient> MakeHttpClient() override { return std::make_shared<NoHttpClient>(); }

  void StartLogClient(const std::string& csDebug) override {
    journal.push_back("log client '" + csDebug + "'");
    ::StartLogClient(log, csDebug, "C:");
  }
  void StopLogClient() override {
    journal.push_back("log client gone");
    ::StopLogClient();
  }
  std::string StartDde() override {
    journal.push_back("DDE start");
    return ddeError;
  }
  void StopDde() override { journal.push_back("DDE end"); }
  std::uint32_t Hook(PlayerWindow which, HostWindow window) override {
    journal.push_back("hook " + Name(which) + " " + std::to_string(window));
    return which == hookFails ? 1400 : 0;
  }
  bool IsHookOnTop(PlayerWindow which) override { return which != covered; }
  void Unhook(PlayerWindow which) override { journal.push_back("unhook " + Name(which)); }
  void HoldModule() override { journal.push_back("hold module"); }
  void ReleaseModule() override { journal.push_back("release module"); }
  void PinModule() override { journal.push_back("pin module"); }

  void StartTunnelLibrary() override { journal.push_back("tunnel library"); }
  void EndTunnel() override { journal.push_back("tunnel end"); }
  std::unique_ptr<TunnelListener> StartListener(const TunnelSettings& t) override {
    const std::string texts = t.sshServer + "|" + t.sshUserName + "|" + t.sshPassword + "|" + t.tunnelTarget;
    journal.push_back("listener start " + texts);
    if (listenerFails) throw std::runtime_error("no thread");
    return std::make_unique<Listener>(journal, texts);
  }
  std::unique_ptr<ConfigDialog> MakeConfigDialog(HostWindow, SettingsEditor&) override {
    return std::make_unique<Dialog>(*this);
  }

  // Runs whileOpen as a message dispatched inside the modal loop would.
  struct Dialog final : ConfigDialog {
    explicit Dialog(JournalPlatform& platform) : platform(platform) {}
    void ShowModal() override {
      platform.journal.push_back("dialog shown");
      if (platform.whileOpen) platform.whileOpen();
      platform.journal.push_back("dialog gone");
    }
    void Close() override { platform.journal.push_back("dialog close"); }
    JournalPlatform& platform;
  };

  struct Listener final : TunnelListener {
    Listener(Calls& journal, std::string texts) : journal(journal), texts(std::move(texts)) {}
    void Stop() override { journal.push_back("listener stop " + texts); }
    Calls& journal;
    std::string texts;
  };

  struct JournalRegistry final : FakeRegistry {
    explicit JournalRegistry(Calls& journal) : journal(journal) {}
    std::optional<RegistryValue> Read(const std::string& section, const std::string& name) override {
      journal.push_back(name == "CSDebug" ? "registry read CSDebug" : "registry load");
      return FakeRegistry::Read(section, name);
    }
    bool Write(const std::string& section, const std::string& name, const RegistryValue& value) override {
      journal.push_back("registry save");
      return FakeRegistry::Write(section, name, value);
    }
    Calls& journal;
  };

  struct JournalPlayer final : FakePlayer {
    explicit JournalPlayer(Calls& journal) : journal(journal) {}
    LResult Send(HostWindow window, WParam wParam, LParam lParam) override {
      journal.push_back("request " + std::to_string(lParam));
      return FakePlayer::Send(window, wParam, lParam);
    }
    Calls& journal;
  };

  struct JournalMessenger final : MessengerLink {
    explicit JournalMessenger(Calls& journal) : journal(journal) {}
    // The first field of the line tells a set ("1") from a clear ("0").
    void SendToAll(const MsnBlock& block) override {
      journal.push_back(block[0] == '1' ? "msn set" : "msn clear");
    }
    Calls& journal;
  };

  struct JournalMirc final : MircLink {
    explicit JournalMirc(Calls& journal) : journal(journal) {}
    std::unique_ptr<MircConversation> Connect(const std::string&) override {
      journal.push_back("mirc connect");
      return nullptr;
    }
    Calls& journal;
  };

  static std::string Name(PlayerWindow which) { return which == PlayerWindow::Main ? "main" : "playlist"; }

  Calls journal;
  JournalRegistry registry{journal};
  JournalPlayer player{journal};
  JournalMessenger messenger{journal};
  JournalMirc mirc{journal};
  // The texts written, in order; only the writer thread writes, and only until quit has ended it.
  struct : NowPlayingDisk {
    std::string Replace(const std::string& path, const std::string& text) override {
      texts.push_back(text);
      paths.push_back(path);
      return {};
    }
    std::vector<std::string> texts, paths;
  } disk;
  // Discord is never running here.
  struct : DiscordPipes {
    std::unique_ptr<DiscordConnection> Open() override { return nullptr; }
    void Wake() override {}
    std::uint32_t ProcessId() override { return 1; }
  } discord;
  std::shared_ptr<RecordingLogPlatform> log = std::make_shared<RecordingLogPlatform>();
  std::string ddeError;
  bool listenerFails = false;
  std::optional<PlayerWindow> covered;
  std::optional<PlayerWindow> hookFails;
  std::function<void()> whileOpen;
};

constexpr HostWindow kParent = 0x100;

class ModuleLife : public ::testing::Test {
 protected:
  ~ModuleLife() override { StopLogClient(); }

  Calls InitSteps() {
    platform.journal.clear();
    result = module.Init(kParent);
    return platform.Steps();
  }
  Calls QuitSteps() {
    platform.journal.clear();
    module.Quit();
    return platform.Steps();
  }

  JournalPlatform platform;
  Module module{platform};
  int result = -1;
};

// What Quit does after the settings are saved, whatever became of the save.
const Calls kQuitAfterSave = {"msn clear",   "tunnel end", "log client gone", "unhook playlist",
                              "unhook main", "DDE end",    "release module"};

TEST_F(ModuleLife, InitAndQuitRunTheirStepsInOrder) {
  EXPECT_EQ(InitSteps(),
            (Calls{"registry read CSDebug", "log client ''", "registry load", "DDE start", "hold module",
                   "tunnel library", "hook main 256", "request 260", "hook playlist 20816"}));
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(module.ListenerActive());

  Calls quit = {"registry save"};
  quit.insert(quit.end(), kQuitAfterSave.begin(), kQuitAfterSave.end());
  EXPECT_EQ(QuitSteps(), quit);
  EXPECT_EQ(platform.registry.writes.size(), std::size(kSettingRows) - 1);  // all but the pin
}

TEST_F(ModuleLife, AFailingStepFailsInitAndKeepsTheStepsBeforeIt) {
  platform.registry.SetString("CSDebug", "viewer");
  platform.ddeError = "An error returned from DDE  ($04009)";
  EXPECT_EQ(InitSteps(),
            (Calls{"registry read CSDebug", "log client 'viewer'", "registry load", "DDE start"}));
  EXPECT_EQ(result, 1);
  EXPECT_EQ(
      platform.Logged().back(),
      "Plugin.Init: DDE could not be started (An error returned from DDE  ($04009)), so the plug-in did "
      "not start");

  JournalPlatform other;
  other.registry.SetDword("SSH Active", 1);
  other.listenerFails = true;
  Module second(other);
  EXPECT_EQ(second.Init(kParent), 1);
  EXPECT_EQ(other.Steps().back(), "listener start |||");
  EXPECT_EQ(other.Steps()[other.Steps().size() - 2], "tunnel library");
}

TEST_F(ModuleLife, QuitRunsEveryLaterStepWhenTheSaveFails) {
  platform.registry.refuse = "MSN Format";
  InitSteps();
  Calls quit = {"registry save"};
  quit.insert(quit.end(), kQuitAfterSave.begin(), kQuitAfterSave.end());
  EXPECT_EQ(QuitSteps(), quit);
  EXPECT_EQ(platform.registry.writes.size(), 6u);  // the values before the refused one
}

TEST_F(ModuleLife, TheListenerStartsWithFourTextsAndStopsBeforeTheLogClientGoes) {
  platform.registry.SetDword("SSH Active", 1);
  platform.registry.SetString("SSH Server", "ssh.example:22");
  platform.registry.SetString("SSH UserName", "me");
  platform.registry.SetString("SSH Password", "pw");
  platform.registry.SetString("MySQL Server", "db.internal");
  const Calls init = InitSteps();
  EXPECT_EQ(init[init.size() - 4], "listener start ssh.example:22|me|pw|");  // "MySQL SSH" is off
  EXPECT_TRUE(module.ListenerActive());

  const Calls quit = QuitSteps();
  ASSERT_GE(quit.size(), 4u);
  EXPECT_EQ(quit[2], "listener stop ssh.example:22|me|pw|");
  EXPECT_EQ(quit[3], "tunnel end");
  EXPECT_EQ(quit[4], "log client gone");
  EXPECT_FALSE(module.ListenerActive());
}

TEST_F(ModuleLife, AHookCoveredByAnotherProgramStaysAsAPassThroughAndPinsTheModule) {
  platform.registry.SetString("CSDebug", "viewer");
  InitSteps();
  platform.covered = PlayerWindow::Main;
  const Calls quit = QuitSteps();
  EXPECT_EQ(quit, (Calls{"registry save", "msn clear", "tunnel end", "pin module", "log client gone",
                         "unhook playlist", "DDE end", "release module"}));
  EXPECT_EQ(platform.Logged().back(),
            "Plugin.Quit: a player window was subclassed after us, so our procedure stays in its chain "
            "passing messages on, and the module stays loaded");

  // Whatever still reaches the procedure left in the chain is only passed on.
  platform.journal.clear();
  module.OnTrackNotice(kTrackNoticeFlag);
  module.OnMainMessage(kWmCommand, kStopCommand);
  EXPECT_EQ(platform.journal, Calls{});
}

TEST_F(ModuleLife, AFailedHookIsLoggedAndNotTakenAtQuitForAnotherProgramsHook) {
  platform.registry.SetString("CSDebug", "viewer");
  platform.hookFails = platform.covered = PlayerWindow::Playlist;  // the window keeps its own procedure
  InitSteps();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(
      platform.Logged().back(),
      "Plugin.Init: the player's playlist window could not be hooked (error 1400), so track changes are "
      "not seen");
  EXPECT_EQ(QuitSteps(), (Calls{"registry save", "msn clear", "tunnel end", "log client gone", "unhook main",
                                "DDE end", "release module"}));
}

TEST_F(ModuleLife, AQuitInsideTheDialogClosesItAndPinsTheModuleAndALaterSaveDoesNothing) {
  platform.registry.SetString("CSDebug", "viewer");
  InitSteps();
  platform.journal.clear();
  module.Config();
  // The dialog shows the pin as it stands now.
  EXPECT_EQ(platform.Steps(), (Calls{"registry load", "dialog shown", "dialog gone"}));

  PluginSettings edited = module.Settings();
  edited.SSHActive = true;
  platform.whileOpen = [&] {
    module.Quit();
    module.SaveEdited(edited);
  };
  platform.journal.clear();
  module.Config();
  Calls steps = {"registry load", "dialog shown", "dialog close", "pin module", "registry save"};
  steps.insert(steps.end(), kQuitAfterSave.begin(), kQuitAfterSave.end());
  steps.push_back("dialog gone");
  EXPECT_EQ(platform.Steps(), steps);
  EXPECT_FALSE(module.Settings().SSHActive);
  EXPECT_EQ(
      platform.Logged().back(),
      "Plugin.Quit: the settings dialog was open; it is closed without saving, and the module stays loaded");
}

TEST_F(ModuleLife, TheDialogsSaveWritesFirstThenStartsRestartsOrStopsTheListener) {
  platform.registry.SetString("CSDebug", "viewer");
  InitSteps();
  PluginSettings edited = module.Settings();
  edited.SSHActive = true;
  edited.SSHServer = "one";
  edited.MySQLSSH = true;
  edited.MySQLServer = "db";
  platform.journal.clear();
  module.SaveEdited(edited);
  edited.SSHServer = "two";
  module.SaveEdited(edited);
  edited.SSHActive = false;
  module.SaveEdited(edited);
  EXPECT_EQ(platform.Steps(),
            (Calls{"registry save", "registry load", "listener start one|||db", "registry save",
                   "registry load", "listener stop one|||db", "listener start two|||db", "registry save",
                   "registry load", "listener stop two|||db"}));
  EXPECT_FALSE(module.ListenerActive());

  // A refused write stops the save before the listener is touched.
  edited.SSHActive = true;
  platform.registry.refuse = "SSH Active";
  platform.journal.clear();
  EXPECT_THROW(module.SaveEdited(edited), ERegistryException);
  EXPECT_EQ(platform.Steps(), Calls{"registry save"});
  EXPECT_TRUE(module.Settings().SSHActive);
  EXPECT_FALSE(module.ListenerActive());
}

// The pin has one owner, the store: the settings' save never writes it, so a pin a relay stored
// while the player ran survives quit; Forget and a new SSH Server empty it, on save only.
TEST_F(ModuleLife, ThePinnedHostKeyIsForgottenOnlyBySavingAForgetOrAnotherServer) {
  platform.registry.SetString("SSH Server", "one");
  platform.registry.SetString("SSH Host Key", "ECDSA SHA256:old");
  InitSteps();
  const auto pinned = [&] { return platform.registry.Get("SSH Host Key")->data; };
  // A relay pins a new key after Init; quit's save and an unrelated dialog save leave it.
  platform.registry.SetString("SSH Host Key", "ECDSA SHA256:new");
  PluginSettings edited = module.Settings();
  edited.SSHHostKey = "ECDSA SHA256:new";  // what the dialog showed
  edited.MSNClear = false;
  module.SaveEdited(edited);
  EXPECT_EQ(pinned(), std::string("ECDSA SHA256:new") + '\0');

  edited = module.Settings();
  edited.SSHHostKey.clear();  // Forget
  module.SaveEdited(edited);
  EXPECT_EQ(pinned(), std::string(1, '\0'));

  platform.registry.SetString("SSH Host Key", "ECDSA SHA256:again");
  edited = module.Settings();
  edited.SSHHostKey = "ECDSA SHA256:again";
  edited.SSHServer = "two";
  module.SaveEdited(edited);
  EXPECT_EQ(pinned(), std::string(1, '\0'));

  platform.registry.SetString("SSH Host Key", "ECDSA SHA256:kept");
  module.Quit();
  EXPECT_EQ(pinned(), std::string("ECDSA SHA256:kept") + '\0');
}

// A save that turns the file off empties it, as a stop would: an overlay must not go on showing a
// track the user no longer publishes.
TEST_F(ModuleLife, ASaveThatTurnsTheFileOffOrMovesItEmptiesTheOldFile) {
  const struct {
    bool fileClear, turnOff;
    bool emptied;
  } cases[] = {{true, true, true}, {false, true, true}, {true, false, true}, {false, false, false}};
  for (const auto& c : cases) {
    JournalPlatform each;
    Module life{each};
    each.registry.SetDword("File Active", 1);
    each.registry.SetDword("File Clear", c.fileClear ? 1 : 0);
    life.Init(kParent);
    life.OnTrackNotice(kTrackNoticeFlag);
    const std::string old = life.Settings().FilePath;
    PluginSettings edited = life.Settings();
    if (c.turnOff)
      edited.FileActive = false;
    else
      edited.FilePath = "D:\\elsewhere.txt";
    life.SaveEdited(edited);
    life.Quit();
    const auto& disk = each.disk;
    bool emptied = false;
    for (std::size_t i = 0; i < disk.texts.size(); ++i)
      emptied |= disk.paths[i] == old && disk.texts[i].empty();
    EXPECT_EQ(emptied, c.emptied) << c.fileClear << c.turnOff;
  }
}

TEST_F(ModuleLife, AnEmptiedPathOrFormatIsSavedAndUsedAsItsDefault) {
  InitSteps();
  const PluginSettings defaults = module.Settings();
  PluginSettings edited = defaults;
  edited.FilePath = edited.FileFormat = "";
  module.SaveEdited(edited);
  EXPECT_EQ(module.Settings().FilePath, defaults.FilePath);
  EXPECT_EQ(module.Settings().FileFormat, defaults.FileFormat);
  EXPECT_EQ(platform.registry.Get("File Path")->data, defaults.FilePath + '\0');
  module.Quit();
}

}  // namespace
