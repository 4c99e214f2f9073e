#include "config/config_form.h"

namespace {

// Each template field and the line under it.
struct PreviewField {
  FormControl field, line;
};
constexpr PreviewField kPreviewFields[] = {
    {txtMSNFormat, lblMSNPreview},
    {memmIRCCmd, lblmIRCPreview},
    {memMySQLCmd, lblMySQLPreview},
    {txtFileFormat, lblFilePreview},
};

}  // namespace

void TConfigForm::FormShow() {
  // The previews start once every field holds its text.
  preview_.reset();
  const PluginSettings& settings = editor_.Settings();
  for (const SettingRow& row : kSettingRows) {
    if (row.control == kNoControl) continue;
    if (row.flag) {
      controls_.SetChecked(row.control, settings.*row.flag);
    } else {
      controls_.SetText(row.control, settings.*row.text);
    }
    if (row.control == chkMSNDefaultFormat) chkMSNDefaultFormatClick();
  }
  controls_.SetText(lblSSHRefusal, editor_.HostKeyRefusal());
  RefreshOutbox();
  // The player is asked here, once, rather than as the user types.
  preview_ = std::make_unique<PreviewTrack>(editor_.PlayingTrack(), editor_.PlayerTags());
  for (const PreviewField& f : kPreviewFields) RefreshPreview(f.field);
}

void TConfigForm::TextChanged(FormControl control) { RefreshPreview(control); }

void TConfigForm::FollowTrack() {
  if (!preview_) return;
  std::optional<TTrackMetaData> playing = editor_.PlayingTrack();
  const bool same = playing ? !preview_->IsSample() && playing->FileName == preview_->Track().FileName &&
                                  playing->PlayId == preview_->Track().PlayId
                            : preview_->IsSample();
  if (same) return;
  preview_ = std::make_unique<PreviewTrack>(std::move(playing), editor_.PlayerTags());
  for (const PreviewField& f : kPreviewFields) RefreshPreview(f.field);
}

void TConfigForm::RefreshPreview(FormControl field) {
  if (!preview_) return;
  std::string text;
  switch (field) {
    case txtMSNFormat:
      text = MsnPreview(*preview_, controls_.Checked(chkMSNDefaultFormat), controls_.Text(txtMSNFormat));
      break;
    case memmIRCCmd:
      text = MircPreview(*preview_, controls_.Text(memmIRCCmd));
      break;
    case memMySQLCmd:
      text = MySQLPreview(*preview_, controls_.Text(memMySQLCmd));
      break;
    case txtFileFormat:
      text = FilePreview(*preview_, controls_.Text(txtFileFormat));
      break;
    default:
      return;
  }
  for (const PreviewField& f : kPreviewFields)
    if (f.field == field) controls_.SetText(f.line, PreviewLine(*preview_, text));
}

std::string OutboxFigures(const HistoryStatus& status, const std::string& entry) {
  std::string text = "Outbox: " + std::to_string(status.waiting) + " " + entry +
                     (status.waiting == 1 ? " waits, " : "s wait, ") + std::to_string(status.failed) +
                     " failed";
  if (status.halted) text += ", stopped until saved";
  if (!status.lastError.empty()) text += "\r\nLast error: " + status.lastError;
  return text;
}

void TConfigForm::RefreshOutbox() {
  const HistoryStatus status = editor_.DatabaseOutbox();
  controls_.SetText(lblMySQLOutbox, OutboxFigures(status));
  controls_.SetEnabled(btnMySQLSendAgain, status.failed > 0);
  controls_.SetEnabled(btnMySQLDiscard, status.failed > 0);
  struct Figures {
    ScrobbleQueue queue;
    FormControl label, sendAgain, discard;
  };
  for (const Figures& f :
       {Figures{ScrobbleQueue::ListenBrainz, lblListenBrainzOutbox, btnListenBrainzSendAgain,
                btnListenBrainzDiscard},
        Figures{ScrobbleQueue::LastFm, lblLastFmOutbox, btnLastFmSendAgain, btnLastFmDiscard}}) {
    const HistoryStatus plays = editor_.ScrobbleOutbox(f.queue);
    controls_.SetText(f.label, OutboxFigures(plays, "play"));
    controls_.SetEnabled(f.sendAgain, plays.failed > 0);
    controls_.SetEnabled(f.discard, plays.failed > 0);
  }
}

LastFmTarget TConfigForm::TypedLastFm() {
  LastFmTarget target;
  target.apiKey = controls_.Text(txtLastFmAPIKey);
  target.secret = controls_.Text(txtLastFmAPISecret);
  target.api = editor_.Settings().LastFmAPI;
  return target;
}

LastFmSignIn& TConfigForm::SignIn() {
  if (!signIn_)
    signIn_ = std::make_unique<LastFmSignIn>(editor_.MakeHttpClient(), [this] { controls_.WakeForSignIn(); });
  return *signIn_;
}

void TConfigForm::btnLastFmSignInClick() {
  const LastFmTarget target = TypedLastFm();
  if (target.apiKey.empty() || target.secret.empty()) {
    controls_.SetText(lblLastFmSignIn, "Enter the API key and secret first.");
    return;
  }
  if (SignIn().GetToken(target)) controls_.SetText(lblLastFmSignIn, "Asking Last.fm...");
}

void TConfigForm::btnLastFmDoneClick() {
  if (SignIn().GetSession(TypedLastFm()))
    controls_.SetText(lblLastFmSignIn, "Asking Last.fm...");
  else
    controls_.SetText(lblLastFmSignIn, "Press Sign in first.");
}

void TConfigForm::SignInFinished() {
  const std::optional<LastFmSignIn::Outcome> outcome = signIn_ ? signIn_->Take() : std::nullopt;
  if (!outcome) return;
  if (!outcome->error.empty()) {
    controls_.SetText(lblLastFmSignIn, "Sign-in failed: " + outcome->error);
  } else if (!outcome->authUrl.empty()) {
    controls_.OpenUrl(outcome->authUrl);
    controls_.SetText(lblLastFmSignIn, "Allow Skorrel on the page that opened, then press Done.");
  } else {
    controls_.SetText(txtLastFmSessionKey, outcome->sessionKey);
    controls_.SetText(lblLastFmSignIn, "Signed in. Save Prefs keeps it.");
  }
}

void TConfigForm::btnMySQLSendAgainClick() { editor_.SendFailedStatementsAgain(); }

void TConfigForm::btnMySQLDiscardClick() { editor_.DiscardFailedStatements(); }

void TConfigForm::chkMSNDefaultFormatClick() {
  controls_.SetEnabled(txtMSNFormat, !controls_.Checked(chkMSNDefaultFormat));
  // The box decides which line the messenger gets.
  RefreshPreview(txtMSNFormat);
}

void TConfigForm::btnSSHForgetClick() { controls_.SetText(txtSSHHostKey, ""); }

void TConfigForm::btnSaveClick() {
  // What the dialog does not edit keeps the value in memory.
  PluginSettings edited = editor_.Settings();
  for (const SettingRow& row : kSettingRows) {
    if (row.control == kNoControl) continue;
    if (row.flag) {
      edited.*row.flag = controls_.Checked(row.control);
    } else {
      edited.*row.text = controls_.Text(row.control);
    }
  }
  editor_.SaveEdited(edited);
}
