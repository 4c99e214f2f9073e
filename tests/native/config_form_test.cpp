// The settings from the registry into the dialog's controls and back, without a window.
#include "config/config_form.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "config/secret.h"
#include "fake_registry.h"

namespace {

using S = PluginSettings;

// The intended wiring, written out apart from the settings' own table, so that two of its rows
// that swap a value name, a field or a control show.
struct Wire {
  const char* name;
  FormControl control;
  bool S::*flag;
  std::string S::*text;
  bool secret = false;
};
const Wire kWires[] = {
    {"mIRC Active", chkmIRCActive, &S::mIRCActive, nullptr},
    {"mIRC DDE Name", txtmIRCDDE, nullptr, &S::mIRCDDEName},
    {"mIRC DDE Command", memmIRCCmd, nullptr, &S::mIRCDDECommand},
    {"MSN Active", chkMSNActive, &S::MSNActive, nullptr},
    {"MSN Clear", chkMSNClear, &S::MSNClear, nullptr},
    {"MSN Default Format", chkMSNDefaultFormat, &S::MSNDefaultFormat, nullptr},
    {"MSN Format", txtMSNFormat, nullptr, &S::MSNFormat},
    {"Ignore Exts", chkIgnore, &S::IgnoreExts, nullptr},
    {"Ignore Ext List", memExt, nullptr, &S::IgnoreExtList},
    {"MySQL Active", chkMySQLActive, &S::MySQLActive, nullptr},
    {"MySQL Server", txtMySQLServer, nullptr, &S::MySQLServer},
    {"MySQL UserName", txtMySQLUserName, nullptr, &S::MySQLUserName},
    {"MySQL Password", txtMySQLPassword, nullptr, &S::MySQLPassword, true},
    {"MySQL Command", memMySQLCmd, nullptr, &S::MySQLCommand},
    {"MySQL SSH", chkMySQLSSH, &S::MySQLSSH, nullptr},
    {"SSH Active", chkSSHActive, &S::SSHActive, nullptr},
    {"SSH Server", txtSSHServer, nullptr, &S::SSHServer},
    {"SSH UserName", txtSSHUserName, nullptr, &S::SSHUserName},
    {"SSH Password", txtSSHPassword, nullptr, &S::SSHPassword, true},
    {"SSH Key File", txtSSHKeyFile, nullptr, &S::SSHKeyFile},
    {"ListenBrainz Active", chkListenBrainzActive, &S::ListenBrainzActive, nullptr},
    {"ListenBrainz Token", txtListenBrainzToken, nullptr, &S::ListenBrainzToken, true},
    {"ListenBrainz API", txtListenBrainzAPI, nullptr, &S::ListenBrainzAPI},
    {"Last.fm Active", chkLastFmActive, &S::LastFmActive, nullptr},
    {"Last.fm API Key", txtLastFmAPIKey, nullptr, &S::LastFmAPIKey},
    {"Last.fm API Secret", txtLastFmAPISecret, nullptr, &S::LastFmAPISecret, true},
    {"Last.fm Session Key", txtLastFmSessionKey, nullptr, &S::LastFmSessionKey, true},
};

struct Controls final : FormControls {
  bool Checked(FormControl id) override { return checked.at(id); }
  void SetChecked(FormControl id, bool on) override { checked[id] = on; }
  std::string Text(FormControl id) override { return text.at(id); }
  void SetText(FormControl id, const std::string& t) override { text[id] = t; }
  void SetEnabled(FormControl id, bool on) override { enabled[id] = on; }
  void OpenUrl(const std::string& url) override { opened.push_back(url); }
  // A mutex and condition variable, not std::counting_semaphore: MinGW's GCC 12 semaphore can
  // miss a release and sleep for ever.
  void WakeForSignIn() override {
    const std::lock_guard<std::mutex> hold(wakeLock);
    ++wakes;
    woken.notify_all();
  }
  void AwaitWake() {
    std::unique_lock<std::mutex> hold(wakeLock);
    woken.wait(hold, [&] { return wakes > 0; });
    --wakes;
  }
  std::vector<std::string> opened;
  std::mutex wakeLock;
  std::condition_variable woken;
  int wakes = 0;
  std::map<FormControl, bool> checked, enabled;
  std::map<FormControl, std::string> text;
};

// The shell's save without the listener.
struct Editor final : SettingsEditor {
  const PluginSettings& Settings() const override { return settings; }
  void SaveEdited(const PluginSettings& edited) override { SaveSettings(registry, settings = edited, {}); }
  std::string HostKeyRefusal() override { return ""; }
  HistoryStatus DatabaseOutbox() override { return outbox; }
  void SendFailedStatementsAgain() override { ++sentAgain; }
  void DiscardFailedStatements() override {}
  HistoryStatus ScrobbleOutbox(ScrobbleQueue queue) override {
    return queue == ScrobbleQueue::LastFm ? lastFmOutbox : HistoryStatus{};
  }
  void SendFailedPlaysAgain(ScrobbleQueue) override {}
  void DiscardFailedPlays(ScrobbleQueue) override {}
  std::shared_ptr<HttpClient> MakeHttpClient() override { return http; }
  std::optional<TTrackMetaData> PlayingTrack() override { return playing; }
  TagSource& PlayerTags() override { return player; }
  std::optional<TTrackMetaData> playing;
  // Counts what the previews ask of the player.
  struct CountingTags final : TagSource {
    std::string Tag(const std::string& file, const std::string& name) override {
      ++asked[name];
      const auto value = values.find(file + "|" + name);
      return value == values.end() ? "" : value->second;
    }
    std::map<std::string, std::string> values;
    std::map<std::string, int> asked;
  } player;
  HistoryStatus lastFmOutbox;
  std::shared_ptr<HttpClient> http = std::make_shared<NoHttpClient>();
  HistoryStatus outbox;
  int sentAgain = 0;
  PluginSettings settings;
  FakeRegistry registry;
};

// Each value, as a field, a control and a stored value, is the one of its own row; a secret is
// protected once saved.
void ExpectEverywhere(const Wire& w, bool on, const std::string& text, const PluginSettings& settings,
                      Controls& controls, FakeRegistry& registry, bool saved) {
  const RegistryValue* stored = registry.Get(w.name);
  ASSERT_NE(stored, nullptr) << w.name;
  if (w.flag) {
    EXPECT_EQ(settings.*w.flag, on) << w.name;
    EXPECT_EQ(controls.checked.at(w.control), on) << w.name;
    EXPECT_EQ(stored->data, std::string(on ? "\1\0\0\0" : "\0\0\0\0", 4)) << w.name;
  } else {
    EXPECT_EQ(settings.*w.text, text) << w.name;
    EXPECT_EQ(controls.text.at(w.control), text) << w.name;
    if (w.secret && saved) {
      EXPECT_EQ(stored->type, kRegBinary) << w.name;
      EXPECT_EQ(UnprotectSecret(stored->data), text) << w.name;
    } else {
      EXPECT_EQ(stored->data, text + '\0') << w.name;
    }
  }
}

// Every text differs from every other; each boolean in turn is the only one on, then the only one
// off, so that no two rows can trade places unseen.
TEST(SettingsRoundTrip, EachValueGoesFromTheRegistryThroughItsControlAndBackByItsOwnRow) {
  for (const Wire& hot : kWires) {
    if (!hot.flag) continue;
    for (const bool alone : {true, false}) {
      const auto on = [&](const Wire& w) { return (&w == &hot) == alone; };
      Editor editor;
      Controls controls;
      TConfigForm form(controls, editor);
      for (const Wire& w : kWires)
        w.flag ? editor.registry.SetDword(w.name, on(w)) : editor.registry.SetString(w.name, w.name);
      LoadSettings(editor.registry, editor.settings);
      form.FormShow();
      for (const Wire& w : kWires)
        ExpectEverywhere(w, on(w), w.name, editor.settings, controls, editor.registry, false);
      EXPECT_EQ(controls.enabled.at(txtMSNFormat), !editor.settings.MSNDefaultFormat);

      for (const Wire& w : kWires)
        w.flag ? void(controls.checked[w.control] = !on(w))
               : void(controls.text[w.control] = w.name + std::string("!"));
      form.btnSaveClick();
      for (const Wire& w : kWires)
        ExpectEverywhere(w, !on(w), w.name + std::string("!"), editor.settings, controls, editor.registry,
                         true);
    }
  }
}

TEST(TConfigForm, ShowsTheOutboxFiguresAndOffersTheFailedListsActionsOnlyWhenThereIsOne) {
  struct Case {
    HistoryStatus status;
    const char* text;
    const char* plays;  // the same figures of a scrobbling service
  };
  const Case cases[] = {
      {{0, 0, ""}, "Outbox: 0 statements wait, 0 failed", "Outbox: 0 plays wait, 0 failed"},
      {{1, 2, "Can't connect"},
       "Outbox: 1 statement waits, 2 failed\r\nLast error: Can't connect",
       "Outbox: 1 play waits, 2 failed\r\nLast error: Can't connect"},
      {{3, 0, "401", true},
       "Outbox: 3 statements wait, 0 failed, stopped until saved\r\nLast error: 401",
       "Outbox: 3 plays wait, 0 failed, stopped until saved\r\nLast error: 401"},
  };
  for (const Case& c : cases) {
    Controls controls;
    Editor editor;
    editor.outbox = editor.lastFmOutbox = c.status;
    TConfigForm form(controls, editor);
    form.RefreshOutbox();
    EXPECT_EQ(controls.text[lblMySQLOutbox], c.text);
    EXPECT_EQ(controls.enabled[btnMySQLSendAgain], c.status.failed > 0);
    EXPECT_EQ(controls.enabled[btnMySQLDiscard], c.status.failed > 0);
    EXPECT_EQ(controls.text[lblLastFmOutbox], c.plays);
    EXPECT_EQ(controls.text[lblListenBrainzOutbox], "Outbox: 0 plays wait, 0 failed");
    EXPECT_EQ(controls.enabled[btnLastFmDiscard], c.status.failed > 0);
    form.btnMySQLSendAgainClick();
    EXPECT_EQ(editor.sentAgain, 1);
  }
}

// Answers each request with the next answer, noting the request and the thread it came on.
struct ScriptedHttp final : HttpClient {
  HttpResponse Post(const HttpRequest& request) override {
    const std::lock_guard<std::mutex> hold(lock);
    asked.push_back(request.body);
    threads.push_back(std::this_thread::get_id());
    HttpResponse answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void Cancel() override {}
  std::mutex lock;
  std::deque<HttpResponse> answers;
  std::vector<std::string> asked;
  std::vector<std::thread::id> threads;
};

TEST(TConfigForm, SignsInToLastFmOffTheWindowThreadWithTheTypedKeyAndShowsTheSessionKey) {
  Editor editor;
  const auto http = std::make_shared<ScriptedHttp>();
  editor.http = http;
  http->answers = {{200, {}, R"({"token":"tok"})", ""},
                   {200, {}, R"({"session":{"name":"u","key":"sk1"}})", ""},
                   {403, {}, R"({"error":10,"message":"Invalid API key"})", ""}};
  Controls controls;
  TConfigForm form(controls, editor);
  form.FormShow();
  const auto step = [&](void (TConfigForm::*click)()) {
    (form.*click)();
    controls.AwaitWake();
    form.SignInFinished();
  };
  controls.text[txtLastFmAPIKey] = "key";
  controls.text[txtLastFmAPISecret] = "secret";
  form.btnLastFmDoneClick();  // no token yet: nothing is asked
  EXPECT_EQ(controls.text[lblLastFmSignIn], "Press Sign in first.");
  step(&TConfigForm::btnLastFmSignInClick);
  EXPECT_EQ(controls.opened, std::vector<std::string>{"https://www.last.fm/api/auth/?api_key=key&token=tok"});
  step(&TConfigForm::btnLastFmDoneClick);
  EXPECT_EQ(controls.text[txtLastFmSessionKey], "sk1");
  EXPECT_NE(http->asked.at(1).find("token=tok"), std::string::npos);
  EXPECT_NE(http->asked.at(1).find("api_key=key"), std::string::npos);
  step(&TConfigForm::btnLastFmSignInClick);
  EXPECT_NE(controls.text[lblLastFmSignIn].find("Invalid API key"), std::string::npos);
  for (const std::thread::id thread : http->threads) EXPECT_NE(thread, std::this_thread::get_id());
  // The key stays what the last sign-in gave, and goes to the registry with the save.
  form.btnSaveClick();
  EXPECT_EQ(editor.settings.LastFmSessionKey, "sk1");
}

TEST(TConfigForm, EachTemplatesLineShowsWhatItsDestinationWouldSendForThePlayingTrackAsTyped) {
  Editor editor;
  TTrackMetaData song{"C:\\Music\\a.mp3"};
  song.PlayId = "p1";
  editor.playing = song;
  editor.player.values = {{song.FileName + "|artist", "O'Brien"},
                          {song.FileName + "|title", "Say \"Hi\""},
                          {song.FileName + "|comment", std::string(200, 'x')}};
  Controls controls;
  TConfigForm form(controls, editor);
  ApplyDefaults(editor.settings);
  form.FormShow();
  controls.checked[chkMSNDefaultFormat] = false;
  struct Case {
    FormControl field;
    std::string typed;
    FormControl line;
    std::string shown;
  };
  const Case cases[] = {
      // Escaped as the statement goes to the server.
      {memMySQLCmd, "insert into t values ('%artist%', '%title%', '%playid%')", lblMySQLPreview,
       R"(insert into t values ('O''Brien', 'Say \"Hi\"', 'p1'))"},
      {memMySQLCmd, "select 1", lblMySQLPreview, kPreviewNoStatement},
      {memmIRCCmd, "/me %artist%\r\n/echo %title%", lblmIRCPreview, "/me O'Brien \u00b6 /echo Say \"Hi\""},
      {txtFileFormat, "%title% by %artist%", lblFilePreview, "Say \"Hi\" by O'Brien"},
      {txtMSNFormat, "%artist%: %title%", lblMSNPreview, "O'Brien: Say \"Hi\""},
      // The messenger's block cuts a long line; the preview shows what arrives.
      {txtMSNFormat, "%comment%", lblMSNPreview, std::string(92, 'x')},
  };
  for (const Case& c : cases) {
    // Typed a character at a time, as the field tells each change.
    for (std::size_t typed = 1; typed <= c.typed.size(); ++typed) {
      controls.text[c.field] = c.typed.substr(0, typed);
      form.TextChanged(c.field);
    }
    EXPECT_EQ(controls.text[c.line], kPreviewPlaying + c.shown) << c.typed;
  }
  // However much is typed, the player is asked each tag once.
  for (const auto& [name, times] : editor.player.asked) EXPECT_EQ(times, 1) << name;

  // The default format box decides the messenger's line.
  controls.checked[chkMSNDefaultFormat] = true;
  form.chkMSNDefaultFormatClick();
  EXPECT_EQ(controls.text[lblMSNPreview], kPreviewPlaying + std::string("O'Brien - Say \"Hi\""));

  // Stopped: the sample track, said as such, with its quote escaped for the database.
  editor.playing.reset();
  controls.text[memMySQLCmd] = cases[0].typed;
  form.FollowTrack();
  EXPECT_EQ(controls.text[lblMySQLPreview],
            kPreviewSample +
                std::string(R"(insert into t values ('Guns N'' Roses', 'Sweet Child o'' Mine', )") +
                "'4f0c1d2e-3b4a-4c5d-8e6f-7a8b9c0d1e2f')");
  EXPECT_EQ(controls.text[lblFilePreview],
            kPreviewSample + std::string("Sweet Child o' Mine by Guns N' Roses"));
  // Another track playing: every line follows it.
  editor.playing = TTrackMetaData{"C:\\Music\\Untagged.mp3"};
  form.FollowTrack();
  EXPECT_EQ(controls.text[lblFilePreview], kPreviewPlaying + std::string("Untagged"));
}

}  // namespace
