// The configuration dialog of the real DLL, opened by the stand-in player and driven from here
// with window messages while the plug-in's modal loop runs: texts set and typed, boxes ticked,
// the button pressed or the close box used. What the save did is read back from the registry,
// the log dispatcher, the messenger and the tunnel listener.
#include <gtest/gtest.h>
// Before windows.h, which would bring the old Winsock.
#include <winsock2.h>
// After it, which it needs.
#include <sddl.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "config/config_form.h"
#include "config/secret.h"
#include "runtime/handles_win32.h"
#include "runtime/unicode_win32.h"
#include "wine/wine_support.h"

namespace {

using namespace wine;

constexpr const char* kSettingsKey = "Software\\Brenwick\\Winamp Plugins\\Skorrel\\Global";
const char* kPlaylist = "C:\\Music\\Artist - Song.mp3\n  artist=Artist\n  title=Song\n";

struct Winsock {
  Winsock() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  }
  ~Winsock() { WSACleanup(); }
};

// A listening loopback socket on a port of the system's choosing.
class Listener {
 public:
  Listener() {
    socket_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(socket_, 4);
    int size = sizeof address;
    getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
  }
  ~Listener() { closesocket(socket_); }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }
  int Port() const { return port_; }
  // Whether a connection arrived within ms; it is closed at once.
  bool Accepts(DWORD ms) {
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(socket_, &ready);
    timeval wait{static_cast<long>(ms / 1000), static_cast<long>(ms % 1000) * 1000};
    if (select(0, &ready, nullptr, nullptr, &wait) != 1) return false;
    closesocket(accept(socket_, nullptr, nullptr));
    return true;
  }

 private:
  SOCKET socket_ = INVALID_SOCKET;
  int port_ = 0;
};

// Opens a connection to the plug-in's tunnel listener and keeps it while the test runs.
class TunnelClient {
 public:
  explicit TunnelClient(int port) : socket_(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<u_short>(port));
    connected_ = connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~TunnelClient() { closesocket(socket_); }
  TunnelClient(const TunnelClient&) = delete;
  TunnelClient& operator=(const TunnelClient&) = delete;
  bool Connected() const { return connected_; }

 private:
  SOCKET socket_;
  bool connected_ = false;
};

// Every value of the settings key, by name.
std::map<std::string, std::string> StoredSettings() {
  std::map<std::string, std::string> values;
  HKEY raw = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &raw) != ERROR_SUCCESS) return values;
  unique_hkey key(raw);
  char name[256];
  for (DWORD i = 0;; ++i) {
    DWORD length = sizeof name;
    if (RegEnumValueA(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    const StoredValue value = ReadValue(name);
    values[name] = std::to_string(value.type) + ":" + value.data;
  }
  return values;
}

// Sets the settings key's access list from an SDDL text.
bool SetKeyAccess(const char* sddl) {
  HKEY raw = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, WRITE_DAC, &raw) != ERROR_SUCCESS) return false;
  unique_hkey key(raw);
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor, nullptr))
    return false;
  const bool set = RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, descriptor) == ERROR_SUCCESS;
  LocalFree(descriptor);
  return set;
}

struct ControlSearch {
  int id;
  HWND found;
};

BOOL CALLBACK MatchControl(HWND child, LPARAM data) {
  auto* search = reinterpret_cast<ControlSearch*>(data);
  if (GetDlgCtrlID(child) != search->id) return TRUE;
  search->found = child;
  return FALSE;
}

// The pages are windows of their own, so a control is looked for among all descendants.
HWND ControlOf(HWND dialog, int id) {
  ControlSearch search{id, nullptr};
  EnumChildWindows(dialog, MatchControl, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Control texts go as UTF-16 both ways, so that any script arrives whole.
std::string TextOf(HWND window) {
  wchar_t text[1024] = {};
  SendMessageW(window, WM_GETTEXT, std::size(text), reinterpret_cast<LPARAM>(text));
  return Utf8(text);
}

// The dialog once it is shown: it exists before its controls are made and loaded.
HWND WaitForDialog() {
  const HWND dialog = WaitForWindow("#32770", kConfigFormCaption, 30000);
  const DWORD start = GetTickCount();
  while (dialog && !IsWindowVisible(dialog)) {
    if (GetTickCount() - start >= 30000) return nullptr;
    Sleep(20);  // another process's window: nothing to wait on
  }
  return dialog;
}

// Waits until window is gone; false when it is still there after ms.
bool WaitUntilGone(HWND window, DWORD ms) {
  const DWORD start = GetTickCount();
  while (IsWindow(window)) {
    if (GetTickCount() - start >= ms) return false;
    Sleep(20);  // another process's window: nothing to wait on
  }
  return true;
}

class SettingsDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteSettings();
    // No track is played, and nothing of this run may reach a real destination.
    SetDword("mIRC Active", 0);
    SetString("CSDebug", "viewer.example");
    dispatcher_ = std::make_unique<ChildProcess>("\"" + BinDir() + "\\dispatcher_standin.exe\" \"" +
                                                 dir.File("log.txt") + "\"");
    ASSERT_TRUE(WaitForWindow("TFrmDispatcher", "CodeSite Dispatcher", 10000));
  }
  void TearDown() override {
    SetKeyAccess("D:(A;;KA;;;WD)");
    player_.reset();
    dispatcher_.reset();
    DeleteSettings();
  }

  // Starts the player on script and waits for the dialog to open.
  HWND Open(const std::string& script) {
    player_ =
        StartPlayer(dir, kPlaylist, script, {"SKORREL_TEST_TUNNEL_PORT=" + std::to_string(tunnelPort_)});
    return dialog_ = WaitForDialog();
  }
  HWND Reopened() { return dialog_ = WaitForDialog(); }

  HWND Control(int id) const { return ControlOf(dialog_, id); }
  void SetText(FormControl id, const std::string& text) {
    SendMessageW(Control(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Wide(text).c_str()));
  }
  // Keys posted to the focused control pass through the dialog's own message loop, as typing does.
  // Enter's character is made by the loop's TranslateMessage and queued behind keys posted
  // already, so the rest is typed only once the line break shows.
  void Type(FormControl id, const std::string& keys) {
    SendMessageA(Control(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
    for (char c : keys) {
      if (c != '\n') {
        PostMessageA(Control(id), WM_CHAR, static_cast<unsigned char>(c), 1);
        continue;
      }
      const std::string before = TextOf(Control(id));
      const auto breaks = std::count(before.begin(), before.end(), '\n');
      PostMessageA(Control(id), WM_KEYDOWN, VK_RETURN, 0x001C0001);
      for (const DWORD start = GetTickCount(); GetTickCount() - start < 10000;) {
        const std::string text = TextOf(Control(id));
        if (std::count(text.begin(), text.end(), '\n') > breaks) break;
        Sleep(10);
      }
    }
  }
  void Click(FormControl id) { SendMessageA(Control(id), BM_CLICK, 0, 0); }
  // Chosen as a user does: the list's selection, then its change told to the dialog.
  void Choose(FormControl id, int item) {
    SendMessageA(Control(id), CB_SETCURSEL, static_cast<WPARAM>(item), 0);
    SendMessageA(GetParent(Control(id)), WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(Control(id)));
  }
  bool Checked(FormControl id) const { return SendMessageA(Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
  // Posted: a save that fails shows a box, which a sent click would wait for.
  void Save() { PostMessageA(Control(btnSave), BM_CLICK, 0, 0); }
  void CloseWithCloseBox() { PostMessageA(dialog_, WM_SYSCOMMAND, SC_CLOSE, 0); }

  // The dialog's own log lines so far.
  std::vector<std::string> ConfigLog() const {
    const std::string mark = "Config: ";
    std::vector<std::string> lines;
    for (const std::string& line : LinesStartingWith(PluginLog(dir.File("log.txt")), mark))
      lines.push_back(line.substr(mark.size()));
    return lines;
  }
  int PlayerExit() { return player_->Wait(60000); }

  Winsock winsock_;
  TempDir dir;
  const int tunnelPort_ = std::stoi(FreeLoopbackPort());
  std::unique_ptr<ChildProcess> dispatcher_;
  std::unique_ptr<ChildProcess> player_;
  HWND dialog_ = nullptr;
};

TEST_F(SettingsDialog, TheCloseBoxDiscardsTheEditsAndLeavesTheListenerAsItWas) {
  Listener sshServer;
  // A relay refuses an empty target before it reaches out: the database goes through the tunnel.
  SetDword("MySQL SSH", 1);
  SetString("MySQL Server", "db.example");
  SetDword("SSH Active", 1);
  SetString("SSH Server", sshServer.Address());
  SetDword("MSN Default Format", 1);
  Go go;
  ASSERT_TRUE(Open("config\nwaitevent " + go.Name() + " 60000\nquit\n"));
  const auto before = StoredSettings();

  // The default format greys the format field from the start; unticking enables it at once.
  EXPECT_FALSE(IsWindowEnabled(Control(txtMSNFormat)));
  Click(chkMSNDefaultFormat);
  EXPECT_TRUE(IsWindowEnabled(Control(txtMSNFormat)));
  EXPECT_EQ(TextOf(Control(txtMSNFormat)), "%artist% - %title%");
  SetText(txtSSHServer, "127.0.0.1:1");
  Click(chkSSHActive);
  CloseWithCloseBox();
  ASSERT_TRUE(WaitUntilGone(dialog_, 10000));
  EXPECT_EQ(StoredSettings(), before);

  // The listener started at Init still runs, with the stored server.
  TunnelClient client(tunnelPort_);
  EXPECT_TRUE(client.Connected());
  EXPECT_TRUE(sshServer.Accepts(10000));
  go.Set();
  ASSERT_EQ(PlayerExit(), 0);
  // Quit saves the settings the plug-in holds: the edits never reached them.
  EXPECT_EQ(ReadValue("SSH Server").data, sshServer.Address() + '\0');
  EXPECT_EQ(ReadValue("SSH Active").data, std::string("\1\0\0\0", 4));
  EXPECT_EQ(ReadValue("MSN Default Format").data, std::string("\1\0\0\0", 4));
  EXPECT_TRUE(ConfigLog().empty());
}

TEST_F(SettingsDialog, EverySettingWrittenIntoTheControlsIsStoredAsWrittenAndShownAgain) {
  const std::string record = dir.File("messenger.txt");
  ChildProcess messenger("\"" + BinDir() + "\\messenger_standin.exe\" \"" + record + "\" Main");
  ASSERT_TRUE(WaitForWindow("MsnMsgrUIManager", "Main", 10000));
  // Not in the dialog, so the save keeps it as loaded. The save turns the database on, and its
  // outbox is this test's own.
  UseOutboxIn(dir);
  ASSERT_TRUE(Open("config\nconfig\nquit\n"));

  const std::map<FormControl, std::string> texts = {
      {txtmIRCDDE, ""},
      {txtMSNFormat, "%title% — 坂本龍一 🎵"},
      {memExt, "ogg,flac"},
      {txtMySQLServer, "db.example:3307"},
      {txtMySQLUserName, "o'brien"},
      {txtMySQLPassword, "p\"w d"},
      {memMySQLCmd, "insert into t values ('%title% Привет 90°')"},
      {txtSSHServer, "ssh.example:2222"},
      {txtSSHUserName, "tunnel"},
      {txtSSHPassword, "s e c"},
      {txtFilePath, "D:\\Обзор\\np.txt"},
      {txtFileFormat, "%title%"},
      {txtDiscordApplicationID, "123"},
      {txtListenBrainzToken, "lb t\u00f6ken"},
      {txtListenBrainzAPI, ""},
      {txtLastFmAPIKey, "fm key"},
      {txtLastFmAPISecret, "fm s\u00e9cret"},
  };
  for (const auto& [id, text] : texts) SetText(id, text);
  // Typed with Enter: a new line in the command, not a save (which would store only "one", as the
  // keys are posted and handled in order before the save posted below).
  Type(memmIRCCmd, "one\ntwo");
  // Every box the other way round from how it was loaded; SSH stays off.
  const std::vector<FormControl> flipped = {
      chkmIRCActive,    chkMSNActive,          chkMSNClear,    chkMSNDefaultFormat, chkIgnore,
      chkMySQLActive,   chkMySQLSSH,           chkFileActive,  chkFileClear,        chkDiscordActive,
      chkDiscordCovers, chkListenBrainzActive, chkLastFmActive};
  for (FormControl id : flipped) Click(id);
  Choose(cboDiscordShows, 2);
  Save();
  ASSERT_TRUE(WaitUntilGone(dialog_, 10000));
  ASSERT_TRUE(Reopened());

  const std::string nul(1, '\0');
  const std::map<std::string, std::string> expected = {
      {"mIRC Active", "4:" + std::string("\1\0\0\0", 4)},
      // Emptied, a text is saved as its default.
      {"mIRC DDE Name", "1:mIRC" + nul},
      {"mIRC DDE Command", "1:one\r\ntwo" + nul},
      {"MSN Active", "4:" + std::string("\0\0\0\0", 4)},
      {"MSN Clear", "4:" + std::string("\0\0\0\0", 4)},
      {"MSN Default Format", "4:" + std::string("\0\0\0\0", 4)},
      {"MSN Format", "1:%title% — 坂本龍一 🎵" + nul},
      {"Ignore Exts", "4:" + std::string("\0\0\0\0", 4)},
      {"Ignore Ext List", "1:ogg,flac" + nul},
      {"MySQL Active", "4:" + std::string("\1\0\0\0", 4)},
      {"MySQL Server", "1:db.example:3307" + nul},
      {"MySQL UserName", "1:o'brien" + nul},
      {"MySQL Command", "1:insert into t values ('%title% Привет 90°')" + nul},
      {"MySQL SSH", "4:" + std::string("\1\0\0\0", 4)},
      {"SSH Active", "4:" + std::string("\0\0\0\0", 4)},
      {"SSH Server", "1:ssh.example:2222" + nul},
      {"SSH UserName", "1:tunnel" + nul},
      {"SSH Key File", "1:" + nul},
      {"File Active", "4:" + std::string("\1\0\0\0", 4)},
      {"File Path", "1:D:\\Обзор\\np.txt" + nul},
      {"File Format", "1:%title%" + nul},
      {"File Clear", "4:" + std::string("\0\0\0\0", 4)},
      {"Discord Active", "4:" + std::string("\1\0\0\0", 4)},
      {"Discord Application ID", "1:123" + nul},
      {"Discord Covers", "4:" + std::string("\0\0\0\0", 4)},
      {"Discord Shows", "1:title" + nul},
      // Not in the dialog: saved as loaded, the defaults.
      {"iTunes Search API", "1:https://itunes.apple.com" + nul},
      {"Cover Art Archive API", "1:https://coverartarchive.org" + nul},
      {"Outbox Path", "1:" + dir.File("outbox.sqlite3") + nul},
      {"ListenBrainz Active", "4:" + std::string("\1\0\0\0", 4)},
      {"ListenBrainz API", "1:https://api.listenbrainz.org" + nul},
      {"Last.fm Active", "4:" + std::string("\1\0\0\0", 4)},
      {"Last.fm API Key", "1:fm key" + nul},
      // Written by the sign-in alone; saved as it was, empty.
      {"Last.fm Session Key", "3:"},
      {"Last.fm API", "1:https://ws.audioscrobbler.com/2.0/" + nul},
  };
  auto stored = StoredSettings();
  stored.erase("CSDebug");
  // Each secret is kept protected and opens to what was typed, which no value holds.
  for (const auto& [name, typed] : {std::pair{"MySQL Password", "p\"w d"}, std::pair{"SSH Password", "s e c"},
                                    std::pair{"ListenBrainz Token", "lb t\u00f6ken"},
                                    std::pair{"Last.fm API Secret", "fm s\u00e9cret"}}) {
    for (const auto& [other, data] : stored) EXPECT_EQ(data.find(typed), std::string::npos) << other;
    EXPECT_EQ(stored[name].substr(0, 2), "3:") << name;
    EXPECT_EQ(UnprotectSecret(stored[name].substr(2)), typed) << name;
    stored.erase(name);
  }
  EXPECT_EQ(stored, expected);
  // MSN switched off: the messenger's line was cleared by the save.
  EXPECT_EQ(
      RecordLines(record, "Main:", 1),
      std::vector<std::string>{"Main: dwData=1351 cbData=256 text=\\0Music\\00\\0{0}\\0\\0\\0\\0WMContentID "
                               "rest=zero"});
  EXPECT_EQ(ConfigLog(), (std::vector<std::string>{"Saved settings", "Completed."}));

  // The reopened dialog shows every value again.
  for (const auto& [id, text] : texts)
    EXPECT_EQ(TextOf(Control(id)), id == txtmIRCDDE           ? std::string("mIRC")
                                   : id == txtListenBrainzAPI ? std::string("https://api.listenbrainz.org")
                                                              : text)
        << id;
  EXPECT_EQ(TextOf(Control(memmIRCCmd)), "one\r\ntwo");
  EXPECT_EQ(TextOf(Control(cboDiscordShows)), "title");
  for (FormControl id : flipped)
    EXPECT_EQ(Checked(id), id == chkmIRCActive || id == chkMySQLActive || id == chkMySQLSSH ||
                               id == chkFileActive || id == chkDiscordActive || id == chkListenBrainzActive ||
                               id == chkLastFmActive)
        << id;
  EXPECT_FALSE(Checked(chkSSHActive));
  CloseWithCloseBox();
  ASSERT_EQ(PlayerExit(), 0);
}

TEST_F(SettingsDialog, ThePlayerQuittingWhileItIsOpenClosesItUnsavedAndReturnsIntoAMappedModule) {
  ASSERT_TRUE(Open("config\n"));
  SetText(txtSSHServer, "edited.example");
  Click(chkSSHActive);
  // The player frees the plug-in right after its Quit, while Config is still on the stack.
  PostMessageA(WaitForWindow("Winamp v1.x", "Winamp", 10000), WM_CLOSE, 0, 0);
  ASSERT_TRUE(WaitUntilGone(dialog_, 10000));
  ASSERT_EQ(PlayerExit(), 0);
  const auto lines = ReadLines(dir.File("player.out"));
  EXPECT_LT(std::find(lines.begin(), lines.end(), "unloaded"),
            std::find(lines.begin(), lines.end(), "config closed"));
  EXPECT_EQ(ReadValue("SSH Server").data, std::string(1, '\0'));
  EXPECT_EQ(ReadValue("SSH Active").data, std::string(4, '\0'));
  EXPECT_TRUE(WaitForPluginLog(dir.File("log.txt"), "Plugin.Quit: the settings dialog was open", 10000));
  EXPECT_TRUE(ConfigLog().empty());
}

TEST_F(SettingsDialog, SavingWithSshOnRestartsTheListenerWithTheNewSettings) {
  Listener oldServer, newServer;
  // A relay refuses an empty target before it reaches out: the database goes through the tunnel.
  SetDword("MySQL SSH", 1);
  SetString("MySQL Server", "db.example");
  SetDword("SSH Active", 1);
  SetString("SSH Server", oldServer.Address());
  Go go;
  ASSERT_TRUE(Open("config\nwaitevent " + go.Name() + " 60000\nquit\n"));
  SetText(txtSSHServer, newServer.Address());
  // Enter in a one-line edit presses the default button.
  PostMessageA(Control(txtSSHServer), WM_KEYDOWN, VK_RETURN, 0x001C0001);
  ASSERT_TRUE(WaitUntilGone(dialog_, 10000));

  EXPECT_EQ(ConfigLog(),
            (std::vector<std::string>{"Saved settings", "SSH is set to active...",
                                      "Listener was already active, terminating & restarting thread...",
                                      "Starting new listener thread...", "Completed."}));
  TunnelClient client(tunnelPort_);
  EXPECT_TRUE(client.Connected());
  EXPECT_TRUE(newServer.Accepts(10000));
  EXPECT_FALSE(oldServer.Accepts(0));
  go.Set();
  ASSERT_EQ(PlayerExit(), 0);
}

TEST_F(SettingsDialog, AFailedWriteIsShownInABoxAndTheDialogStaysOpen) {
  ASSERT_TRUE(Open("config\nquit\n"));
  // Everyone may do anything to the key but write to it.
  ASSERT_TRUE(SetKeyAccess("D:(D;;KW;;;WD)(A;;KA;;;WD)"));
  Save();
  const HWND box = WaitForWindow("#32770", "gen_skorrel", 10000);
  ASSERT_TRUE(box);
  EXPECT_EQ(TextOf(GetDlgItem(box, 0xFFFF)), "Failed to set data for 'mIRC Active'");
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(WaitUntilGone(box, 10000));
  EXPECT_TRUE(IsWindowVisible(dialog_));
  EXPECT_TRUE(ConfigLog().empty());

  ASSERT_TRUE(SetKeyAccess("D:(A;;KA;;;WD)"));
  CloseWithCloseBox();
  ASSERT_EQ(PlayerExit(), 0);
}

// Saves a picture of each tab beside the build's programs, for the README, and checks that each
// shows something of its own.
TEST_F(SettingsDialog, APictureOfEachTab) {
  const std::string folder = BinDir() + "\\..\\dialog-pictures";
  CreateDirectoryA(folder.c_str(), nullptr);
  player_ = StartPlayer(dir, kPlaylist, "config " + folder + "\\tab\nquit\n");
  ASSERT_EQ(PlayerExit(), 0);
  std::vector<std::string> pictures;
  for (int tab = 1; tab <= 7; ++tab) {
    std::ifstream file(folder + "\\tab" + std::to_string(tab) + ".bmp", std::ios::binary);
    pictures.emplace_back(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    ASSERT_GT(pictures.back().size(), 54u) << tab;
    const auto& header = pictures.back();
    EXPECT_EQ(*reinterpret_cast<const LONG*>(&header[18]), 353) << tab;
    EXPECT_EQ(*reinterpret_cast<const LONG*>(&header[22]), 399) << tab;
    for (int other = 1; other < tab; ++other) EXPECT_NE(pictures[other - 1], pictures.back()) << other << tab;
  }
}

}  // namespace
