#include "config/config_form.h"

void TConfigForm::FormShow() {
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
}

std::string OutboxFigures(const HistoryStatus& status) {
  std::string text = "Outbox: " + std::to_string(status.waiting) +
                     (status.waiting == 1 ? " statement waits, " : " statements wait, ") +
                     std::to_string(status.failed) + " failed";
  if (!status.lastError.empty()) text += "\r\nLast error: " + status.lastError;
  return text;
}

void TConfigForm::RefreshOutbox() {
  const HistoryStatus status = editor_.DatabaseOutbox();
  controls_.SetText(lblMySQLOutbox, OutboxFigures(status));
  controls_.SetEnabled(btnMySQLSendAgain, status.failed > 0);
  controls_.SetEnabled(btnMySQLDiscard, status.failed > 0);
}

void TConfigForm::btnMySQLSendAgainClick() { editor_.SendFailedStatementsAgain(); }

void TConfigForm::btnMySQLDiscardClick() { editor_.DiscardFailedStatements(); }

void TConfigForm::chkMSNDefaultFormatClick() {
  controls_.SetEnabled(txtMSNFormat, !controls_.Checked(chkMSNDefaultFormat));
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
