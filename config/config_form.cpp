#include "config/config_form.h"

namespace {

// One setting and its control; exactly one of the two members is set.
struct Binding {
  FormControl control;
  bool PluginSettings::*flag;
  std::string PluginSettings::*text;
};

// In the order the dialog loads and reads them.
constexpr Binding kBindings[] = {
    {chkmIRCActive, &PluginSettings::mIRCActive, nullptr},
    {txtmIRCDDE, nullptr, &PluginSettings::mIRCDDEName},
    {memmIRCCmd, nullptr, &PluginSettings::mIRCDDECommand},
    {chkMSNActive, &PluginSettings::MSNActive, nullptr},
    {chkMSNClear, &PluginSettings::MSNClear, nullptr},
    {chkMSNDefaultFormat, &PluginSettings::MSNDefaultFormat, nullptr},
    {txtMSNFormat, nullptr, &PluginSettings::MSNFormat},
    {chkIgnore, &PluginSettings::IgnoreExts, nullptr},
    {memExt, nullptr, &PluginSettings::IgnoreExtList},
    {chkMySQLActive, &PluginSettings::MySQLActive, nullptr},
    {txtMySQLServer, nullptr, &PluginSettings::MySQLServer},
    {txtMySQLUserName, nullptr, &PluginSettings::MySQLUserName},
    {txtMySQLPassword, nullptr, &PluginSettings::MySQLPassword},
    {memMySQLCmd, nullptr, &PluginSettings::MySQLCommand},
    {chkMySQLSSH, &PluginSettings::MySQLSSH, nullptr},
    {chkSSHActive, &PluginSettings::SSHActive, nullptr},
    {txtSSHServer, nullptr, &PluginSettings::SSHServer},
    {txtSSHUserName, nullptr, &PluginSettings::SSHUserName},
    {txtSSHPassword, nullptr, &PluginSettings::SSHPassword},
};

}  // namespace

void TConfigForm::FormShow() {
  const PluginSettings& settings = editor_.Settings();
  for (const Binding& binding : kBindings) {
    if (binding.flag) {
      controls_.SetChecked(binding.control, settings.*binding.flag);
    } else {
      controls_.SetText(binding.control, settings.*binding.text);
    }
    if (binding.control == chkMSNDefaultFormat) chkMSNDefaultFormatClick();
  }
}

void TConfigForm::chkMSNDefaultFormatClick() {
  controls_.SetEnabled(txtMSNFormat, !controls_.Checked(chkMSNDefaultFormat));
}

void TConfigForm::btnSaveClick() {
  PluginSettings edited = editor_.Settings();
  for (const Binding& binding : kBindings) {
    if (binding.flag) {
      edited.*binding.flag = controls_.Checked(binding.control);
    } else {
      edited.*binding.text = controls_.Text(binding.control);
    }
  }
  editor_.SaveEdited(edited);
}
