#pragma once
// The 19 persisted settings, one field per registry value, loaded at start-up and saved at quit
// and by the dialog.
#include <functional>
#include <string>

#include "config/reg.h"

struct PluginSettings {
  bool mIRCActive = true;          // "mIRC Active"
  std::string mIRCDDEName;         // "mIRC DDE Name"
  std::string mIRCDDECommand;      // "mIRC DDE Command"
  bool MSNActive = true;           // "MSN Active"
  bool MSNClear = true;            // "MSN Clear"
  bool MSNDefaultFormat = true;    // "MSN Default Format"
  std::string MSNFormat;           // "MSN Format"
  bool IgnoreExts = true;          // "Ignore Exts"
  std::string IgnoreExtList;       // "Ignore Ext List"
  bool MySQLActive = false;        // "MySQL Active"
  std::string MySQLServer;         // "MySQL Server"
  std::string MySQLUserName;       // "MySQL UserName"
  std::string MySQLPassword;       // "MySQL Password"
  std::string MySQLCommand;        // "MySQL Command"
  bool MySQLSSH = false;           // "MySQL SSH"
  bool SSHActive = false;          // "SSH Active"
  std::string SSHServer;           // "SSH Server"
  std::string SSHUserName;         // "SSH UserName"
  std::string SSHPassword;         // "SSH Password"
};

// Kept by the host key store alone, never by the settings' save.
constexpr const char* kSSHHostKeyValue = "SSH Host Key";

// Fills every field from section "Global", applying the defaults and load rules. Never fails.
void LoadSettings(SettingsRegistry& registry, PluginSettings& settings);

// Writes all 19 values in order. Right after writing "MSN Active" as off it calls clearMsn, so the
// messenger's line goes at once. Stops at the first failing write with ERegistryException.
void SaveSettings(SettingsRegistry& registry, const PluginSettings& settings,
                  const std::function<void()>& clearMsn);
