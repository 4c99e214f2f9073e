#pragma once
// What the configuration dialog does with its controls: load them from the settings when shown,
// grey the format field while the default format is ticked, and read them back on save. The
// window itself lives in config_form_win32; this part only sees controls through FormControls.
#include <memory>
#include <string>

#include "config/dialog.h"
#include "config/settings.h"
#include "config/template_preview.h"
#include "scrobble/lastfm_sign_in.h"

// The dialog's one button is IDOK, so Enter outside a multi-line edit activates it. The controls
// that hold settings are FormControl, named by the settings' rows.
constexpr int btnSave = 1;

constexpr const char* kConfigFormCaption = "[kiv] gen_skorrel Configuration";

class FormControls {
 public:
  virtual ~FormControls() = default;
  virtual bool Checked(FormControl control) = 0;
  virtual void SetChecked(FormControl control, bool checked) = 0;
  // A multi-line edit's whole text, lines separated by CR LF.
  virtual std::string Text(FormControl control) = 0;
  virtual void SetText(FormControl control, const std::string& text) = 0;
  virtual void SetEnabled(FormControl control, bool enabled) = 0;
  // Opens the page in the user's browser.
  virtual void OpenUrl(const std::string& url) = 0;
  // From any thread: the window thread calls TConfigForm::SignInFinished soon.
  virtual void WakeForSignIn() = 0;
};

// "Outbox: 3 statements wait, 1 failed", and the last error on a line of its own; entry names
// what waits ("statement", "play").
std::string OutboxFigures(const HistoryStatus& status, const std::string& entry = "statement");

class TConfigForm {
 public:
  TConfigForm(FormControls& controls, SettingsEditor& editor) : controls_(controls), editor_(editor) {}

  // Copies every setting the dialog edits into its control, and shows what each template gives.
  void FormShow();
  void chkMSNDefaultFormatClick();
  // A field's text changed: a template's preview line follows it; any other field is ignored.
  void TextChanged(FormControl control);
  // From the dialog's timer: when another track plays now, every preview shows it.
  void FollowTrack();
  // Empties the pinned host key's field; like every edit it takes effect on save.
  void btnSSHForgetClick();
  // Shows the database outbox's figures; the dialog calls it when shown and every second.
  void RefreshOutbox();
  void btnMySQLSendAgainClick();
  void btnMySQLDiscardClick();
  void SendFailedPlaysAgainClick(ScrobbleQueue queue) { editor_.SendFailedPlaysAgain(queue); }
  void DiscardFailedPlaysClick(ScrobbleQueue queue) { editor_.DiscardFailedPlays(queue); }
  // The sign-in's two steps, with the key and secret as typed; each runs on a thread of its own
  // and ends in SignInFinished.
  void btnLastFmSignInClick();
  void btnLastFmDoneClick();
  // Opens the browser at Last.fm's page after the first step, and shows the session key after the
  // second, which the save then keeps.
  void SignInFinished();
  // Copies the controls back and saves them through the editor. A failed write raises
  // ERegistryException; the dialog then stays open.
  void btnSaveClick();

 private:
  LastFmTarget TypedLastFm();
  LastFmSignIn& SignIn();
  void RefreshPreview(FormControl field);

  FormControls& controls_;
  SettingsEditor& editor_;
  std::unique_ptr<LastFmSignIn> signIn_;
  // From FormShow on; a text set before then has nothing to show yet.
  std::unique_ptr<PreviewTrack> preview_;
};
