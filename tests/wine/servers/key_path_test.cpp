// Paths the ANSI code page cannot name, under Wine against the host's sshd: a key file in a folder
// named in Cyrillic, and the plug-in with its libssh2.dll in such a folder. The player is started
// with its wide command line, since an ANSI one could not name the plug-in either.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "runtime/handles_win32.h"
#include "runtime/unicode_win32.h"
#include "tunnel/blcksock.h"
#include "wine/wine_support.h"

namespace {

using namespace wine;

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// "Плагины" and "Ключи": none of their letters is in the ANSI code page Wine gives the tests.
const std::string kCyrillicPlugins = "\xD0\x9F\xD0\xBB\xD0\xB0\xD0\xB3\xD0\xB8\xD0\xBD\xD1\x8B";
const std::string kCyrillicKeys = "\xD0\x9A\xD0\xBB\xD1\x8E\xD1\x87\xD0\xB8";

bool CopyTo(const std::string& from, const std::string& to) {
  return CopyFileW(Wide(from).c_str(), Wide(to).c_str(), FALSE) != 0;
}

// A setting stored in UTF-16, as the dialog saves it.
void SetWideString(const std::string& name, const std::string& text) {
  HKEY raw = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Brenwick\\Winamp Plugins\\Skorrel\\Global", 0,
                            nullptr, 0, KEY_ALL_ACCESS, nullptr, &raw, nullptr),
            ERROR_SUCCESS);
  const unique_hkey key(raw);
  const std::wstring data = Wide(text);
  ASSERT_EQ(
      RegSetValueExW(key.get(), Wide(name).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                     static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))),
      ERROR_SUCCESS);
}

class PathsOutsideTheCodePage : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(sshPort.empty()) << "run through tests/wine/servers/with_servers.sh, which starts sshd";
    DeleteSettings();
    SetDword("mIRC Active", 0);
    SetDword("MSN Active", 0);
    SetDword("MySQL Active", 0);
    SetDword("SSH Active", 1);
    SetString("SSH Server", "127.0.0.1:" + sshPort);
    SetString("SSH UserName", Environment("SKORREL_SSHD_USER"));
    SetSecret("SSH Password", Environment("SKORREL_SSHD_PASSWORD"));
    SetDword("MySQL SSH", 1);
    // The relay leads back to sshd, whose greeting shows that the session and its channel stand.
    SetString("MySQL Server", "127.0.0.1:" + sshPort);
    SetString("CSDebug", "viewer.example");
    dispatcher =
        std::make_unique<ChildProcess>("\"" + BinDir() + "\\dispatcher_standin.exe\" \"" + record + "\"");
    ASSERT_TRUE(WaitForWindow("TFrmDispatcher", "CodeSite Dispatcher", 10000));
  }

  void TearDown() override {
    if (player) TerminateProcess(player.get(), 1);
    DeleteSettings();
  }

  // The plug-in, its SQLite and libssh2.dll in dir's folder of that name.
  void InstallPluginIn(const std::string& folder) {
    plugin = dir.File(folder) + "\\gen_skorrel.dll";
    ASSERT_TRUE(CreateDirectoryW(Wide(dir.File(folder)).c_str(), nullptr));
    ASSERT_TRUE(CopyTo(BinDir() + "\\gen_skorrel.dll", plugin));
    ASSERT_TRUE(CopyTo(BinDir() + "\\skorrel_sqlite3.dll", dir.File(folder) + "\\skorrel_sqlite3.dll"));
    const std::string built = WindowsPath(SKORREL_WINDOWS_LIBS_DIR) + "\\libssh2.dll";
    ASSERT_TRUE(CopyTo(built, dir.File(folder) + "\\libssh2.dll")) << "no " << built;
  }

  // Starts the player on the plug-in; it quits when quit is set and says whether it unloaded.
  void StartPlayer() {
    WriteText(dir.File("playlist.txt"), "");
    WriteText(dir.File("script.txt"), "waitevent " + quit.Name() + " 120000\nquit\nwaitunload 10000\n");
    const std::string command = "\"" + BinDir() + "\\player.exe\" --plugin \"" + plugin + "\" --playlist \"" +
                                dir.File("playlist.txt") + "\" --script \"" + dir.File("script.txt") +
                                "\" --out \"" + dir.File("player.out") + "\"";
    std::wstring line = Wide(command);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    // Inherited by the player only.
    SetEnvironmentVariableA("SKORREL_TEST_TUNNEL_PORT", listenPort.c_str());
    const BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                        Wide(dir.Path()).c_str(), &startup, &info);
    SetEnvironmentVariableA("SKORREL_TEST_TUNNEL_PORT", nullptr);
    ASSERT_TRUE(started);
    CloseHandle(info.hThread);
    player.reset(info.hProcess);
  }

  bool RelayReachesSshd() {
    if (!WaitForPluginLog(record, "TThreadSSHProxyListener.Execute - listening", 60000)) return false;
    TTCPBlockSocket client;
    client.Connect("127.0.0.1", listenPort);
    if (client.LastErrorCode() != 0 || !client.CanRead(30000)) return false;
    return client.RecvAvailable(1000).substr(0, 8) == "SSH-2.0-";
  }

  void ExpectCleanQuit() {
    quit.Set();
    ASSERT_EQ(WaitForSingleObject(player.get(), 20000), WAIT_OBJECT_0) << "the player hangs";
    const std::vector<std::string> out = ReadLines(dir.File("player.out"));
    EXPECT_TRUE(Contains(out, "unloaded"));
    EXPECT_TRUE(Contains(out, "module unmapped"));
  }

  std::vector<std::string> LoginComplaints() const {
    return LinesStartingWith(PluginLog(record), "TSSLLibSSH2.Connect - cannot log in");
  }

  std::string sshPort = Environment("SKORREL_SSHD_PORT");
  TempDir dir;
  const std::string record = dir.File("log.txt");
  const std::string listenPort = FreeLoopbackPort();
  std::string plugin;
  Go quit;
  std::unique_ptr<ChildProcess> dispatcher;
  unique_kernel_handle player;
};

TEST_F(PathsOutsideTheCodePage, AKeyFileInAFolderNamedInCyrillicLogsIn) {
  InstallPluginIn("Plugins");
  const std::string keys = WindowsPath(Environment("SKORREL_SSHD_KEYS"));
  const std::string folder = dir.File(kCyrillicKeys);
  ASSERT_TRUE(CreateDirectoryW(Wide(folder).c_str(), nullptr));
  for (const char* file : {"ecdsa_pem_locked", "ecdsa_pem_locked.pub"})
    ASSERT_TRUE(CopyTo(keys + "\\" + file, folder + "\\" + file)) << file;
  SetWideString("SSH Key File", folder + "\\ecdsa_pem_locked");
  SetSecret("SSH Password", "key pass");
  StartPlayer();
  EXPECT_TRUE(RelayReachesSshd());
  const std::vector<std::string> said = LoginComplaints();
  EXPECT_TRUE(said.empty()) << said.front();
  ExpectCleanQuit();
}

TEST_F(PathsOutsideTheCodePage, LibSSH2IsFoundBesideAPluginInAFolderNamedInCyrillic) {
  InstallPluginIn(kCyrillicPlugins);
  StartPlayer();
  EXPECT_TRUE(RelayReachesSshd());
  const std::vector<std::string> logged = PluginLog(record);
  EXPECT_TRUE(LinesStartingWith(logged, "TSSLLibSSH2.Connect - host key ").size() == 1u);
  ExpectCleanQuit();
}

}  // namespace
