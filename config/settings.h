#pragma once
// The persisted settings: one field per registry value, and one table that says for each how it
// is stored, loaded, saved and edited. Loading, saving and the dialog all walk that table, so a
// setting is added by adding its field, its row and, when the dialog edits it, its control's
// layout; the checks in settings.cpp and the dialog refuse to compile anything less.
#include <functional>
#include <string>
#include <string_view>

#include "config/reg.h"
#include "publish/discord_shows.h"
#include "scrobble/api_roots.h"

struct PluginSettings {
  bool mIRCActive = true;
  std::string mIRCDDEName;
  std::string mIRCDDECommand;
  bool MSNActive = true;
  bool MSNClear = true;
  bool MSNDefaultFormat = true;
  std::string MSNFormat;
  bool IgnoreExts = true;
  std::string IgnoreExtList;
  bool MySQLActive = false;
  std::string MySQLServer;
  std::string MySQLUserName;
  std::string MySQLPassword;
  std::string MySQLCommand;
  bool MySQLSSH = false;
  bool SSHActive = false;
  std::string SSHServer;
  std::string SSHUserName;
  std::string SSHPassword;
  std::string SSHKeyFile;
  // Shown by the dialog, written only by the host key store.
  std::string SSHHostKey;
  bool FileActive = false;
  std::string FilePath;
  std::string FileFormat;
  bool FileClear = true;
  bool DiscordActive = false;
  std::string DiscordApplicationID;
  bool DiscordCovers = true;
  std::string DiscordShows;
  std::string ItunesAPI;
  std::string CoverArtArchiveAPI;
  std::string OutboxPath;
  bool ListenBrainzActive = false;
  std::string ListenBrainzToken;
  std::string ListenBrainzAPI;
  bool LastFmActive = false;
  std::string LastFmAPIKey;
  std::string LastFmAPISecret;
  // Shown by the dialog, written only by the sign-in.
  std::string LastFmSessionKey;
  std::string LastFmAPI;
};

// The dialog's controls that hold a setting, by their identifier in the window. Every one before
// kEndOfSettingControls must be named by exactly one row of kSettingRows.
enum FormControl : int {
  kNoControl = 0,
  chkMSNActive = 100,
  chkMSNClear,
  chkMSNDefaultFormat,
  txtMSNFormat,
  chkmIRCActive,
  txtmIRCDDE,
  memmIRCCmd,
  chkMySQLActive,
  txtMySQLServer,
  txtMySQLUserName,
  txtMySQLPassword,
  memMySQLCmd,
  chkMySQLSSH,
  chkSSHActive,
  txtSSHServer,
  txtSSHUserName,
  txtSSHPassword,
  chkIgnore,
  memExt,
  txtSSHKeyFile,
  txtSSHHostKey,
  chkFileActive,
  txtFilePath,
  txtFileFormat,
  chkFileClear,
  chkDiscordActive,
  txtDiscordApplicationID,
  chkDiscordCovers,
  cboDiscordShows,
  chkListenBrainzActive,
  txtListenBrainzToken,
  txtListenBrainzAPI,
  chkLastFmActive,
  txtLastFmAPIKey,
  txtLastFmAPISecret,
  txtLastFmSessionKey,
  kEndOfSettingControls,
  // Controls the form fills or handles that hold no setting.
  lblSSHRefusal,
  btnSSHForget,
  btnFileBrowse,
  lblMySQLOutbox,
  btnMySQLSendAgain,
  btnMySQLDiscard,
  lblListenBrainzOutbox,
  btnListenBrainzSendAgain,
  btnListenBrainzDiscard,
  btnLastFmSignIn,
  btnLastFmDone,
  lblLastFmSignIn,
  lblLastFmOutbox,
  btnLastFmSendAgain,
  btnLastFmDiscard,
  // The line under each template field that shows what it gives.
  lblMSNPreview,
  lblmIRCPreview,
  lblMySQLPreview,
  lblFilePreview,
  btnSSHKeyBrowse,
};
constexpr FormControl kFirstSettingControl = chkMSNActive;

// How a stored value becomes a setting, which also fixes what a missing one gives.
enum class LoadRule {
  NonZero,         // a boolean, on unless stored as 0: missing means on
  ExactlyOne,      // a boolean, on only when stored as 1: missing means off
  DefaultIfEmpty,  // a text, whose default replaces a missing or empty value
  AsStored,        // a text, empty when missing
  Secret,          // a text kept protected for this user on this machine (reg.h), empty when missing
};

struct Load {
  LoadRule rule;
  const char* fallback = nullptr;  // the default of DefaultIfEmpty
};
constexpr Load kNonZero{LoadRule::NonZero};
constexpr Load kExactlyOne{LoadRule::ExactlyOne};
constexpr Load kAsStored{LoadRule::AsStored};
constexpr Load kSecret{LoadRule::Secret};
constexpr Load DefaultIfEmpty(const char* fallback) { return {LoadRule::DefaultIfEmpty, fallback}; }

// Whether SaveSettings (at quit and in the dialog's save) writes the value from memory, or only
// something else does.
enum class Written { BySave, Elsewhere };

struct SettingRow {
  constexpr SettingRow(const char* name, Load load, bool PluginSettings::*flag, FormControl control,
                       Written written = Written::BySave)
      : name(name), load(load), flag(flag), control(control), written(written) {}
  constexpr SettingRow(const char* name, Load load, std::string PluginSettings::*text, FormControl control,
                       Written written = Written::BySave)
      : name(name), load(load), text(text), control(control), written(written) {}

  const char* name;  // the registry value
  Load load;
  bool PluginSettings::*flag = nullptr;         // a boolean's field
  std::string PluginSettings::*text = nullptr;  // a text's field
  FormControl control;                          // kNoControl when the dialog does not edit it
  Written written;
};

// Kept by the host key store alone, never by the settings' save.
constexpr const char* kSSHHostKeyValue = "SSH Host Key";

// Load and save order, which is also the order the dialog fills and reads its controls in.
inline constexpr SettingRow kSettingRows[] = {
    {"mIRC Active", kNonZero, &PluginSettings::mIRCActive, chkmIRCActive},
    {"mIRC DDE Name", DefaultIfEmpty("mIRC"), &PluginSettings::mIRCDDEName, txtmIRCDDE},
    {"mIRC DDE Command", DefaultIfEmpty("/ame is listening to %artist% - %title%"),
     &PluginSettings::mIRCDDECommand, memmIRCCmd},
    {"MSN Active", kNonZero, &PluginSettings::MSNActive, chkMSNActive},
    {"MSN Clear", kNonZero, &PluginSettings::MSNClear, chkMSNClear},
    {"MSN Default Format", kNonZero, &PluginSettings::MSNDefaultFormat, chkMSNDefaultFormat},
    {"MSN Format", DefaultIfEmpty("%artist% - %title%"), &PluginSettings::MSNFormat, txtMSNFormat},
    {"Ignore Exts", kNonZero, &PluginSettings::IgnoreExts, chkIgnore},
    {"Ignore Ext List", DefaultIfEmpty("avi,mpg,mpeg,wmv"), &PluginSettings::IgnoreExtList, memExt},
    {"MySQL Active", kExactlyOne, &PluginSettings::MySQLActive, chkMySQLActive},
    {"MySQL Server", kAsStored, &PluginSettings::MySQLServer, txtMySQLServer},
    {"MySQL UserName", kAsStored, &PluginSettings::MySQLUserName, txtMySQLUserName},
    {"MySQL Password", kSecret, &PluginSettings::MySQLPassword, txtMySQLPassword},
    {"MySQL Command",
     DefaultIfEmpty("insert into `tolby`.`winamp_played` (`fulltitle`) values ('%artist% - %title%')"),
     &PluginSettings::MySQLCommand, memMySQLCmd},
    {"MySQL SSH", kExactlyOne, &PluginSettings::MySQLSSH, chkMySQLSSH},
    {"SSH Active", kExactlyOne, &PluginSettings::SSHActive, chkSSHActive},
    {"SSH Server", kAsStored, &PluginSettings::SSHServer, txtSSHServer},
    {"SSH UserName", kAsStored, &PluginSettings::SSHUserName, txtSSHUserName},
    {"SSH Password", kSecret, &PluginSettings::SSHPassword, txtSSHPassword},
    {"SSH Key File", kAsStored, &PluginSettings::SSHKeyFile, txtSSHKeyFile},
    {kSSHHostKeyValue, kAsStored, &PluginSettings::SSHHostKey, txtSSHHostKey, Written::Elsewhere},
    {"File Active", kExactlyOne, &PluginSettings::FileActive, chkFileActive},
    // Stored as typed; environment variables are expanded where the file is written.
    {"File Path", DefaultIfEmpty("%APPDATA%\\Skorrel\\nowplaying.txt"), &PluginSettings::FilePath,
     txtFilePath},
    {"File Format", DefaultIfEmpty("%artist% - %title%"), &PluginSettings::FileFormat, txtFileFormat},
    {"File Clear", kNonZero, &PluginSettings::FileClear, chkFileClear},
    {"Discord Active", kExactlyOne, &PluginSettings::DiscordActive, chkDiscordActive},
    {"Discord Application ID", kAsStored, &PluginSettings::DiscordApplicationID, txtDiscordApplicationID},
    {"Discord Covers", kNonZero, &PluginSettings::DiscordCovers, chkDiscordCovers},
    // One of kDiscordShowsNames.
    {"Discord Shows", DefaultIfEmpty(kDiscordShowsNames[static_cast<int>(kDiscordShowsDefault)]),
     &PluginSettings::DiscordShows, cboDiscordShows},
    // Not in the dialog, like Last.fm API: where the covers are looked up.
    {"iTunes Search API", DefaultIfEmpty(kItunesDefaultApi), &PluginSettings::ItunesAPI, kNoControl},
    {"Cover Art Archive API", DefaultIfEmpty(kCoverArtArchiveDefaultApi), &PluginSettings::CoverArtArchiveAPI,
     kNoControl},
    // Stored as typed, like File Path; not in the dialog.
    {"Outbox Path", DefaultIfEmpty("%APPDATA%\\Skorrel\\outbox.sqlite3"), &PluginSettings::OutboxPath,
     kNoControl},
    {"ListenBrainz Active", kExactlyOne, &PluginSettings::ListenBrainzActive, chkListenBrainzActive},
    {"ListenBrainz Token", kSecret, &PluginSettings::ListenBrainzToken, txtListenBrainzToken},
    // Another server that speaks ListenBrainz's API is named here.
    {"ListenBrainz API", DefaultIfEmpty(kListenBrainzDefaultApi), &PluginSettings::ListenBrainzAPI,
     txtListenBrainzAPI},
    {"Last.fm Active", kExactlyOne, &PluginSettings::LastFmActive, chkLastFmActive},
    {"Last.fm API Key", kAsStored, &PluginSettings::LastFmAPIKey, txtLastFmAPIKey},
    {"Last.fm API Secret", kSecret, &PluginSettings::LastFmAPISecret, txtLastFmAPISecret},
    {"Last.fm Session Key", kSecret, &PluginSettings::LastFmSessionKey, txtLastFmSessionKey},
    // Not in the dialog: tests and the demo point it at a stand-in.
    {"Last.fm API", DefaultIfEmpty(kLastFmDefaultApi), &PluginSettings::LastFmAPI, kNoControl},
};

// Fills every field from section "Global", applying the defaults and load rules. Never fails; a
// secret that cannot be opened here loads empty and logs this line.
void LoadSettings(SettingsRegistry& registry, PluginSettings& settings);
std::string UnreadableSecretLine(std::string_view name);

// Gives each emptied text that has a default its default, as the next load would.
void ApplyDefaults(PluginSettings& settings);

// Writes the values that the save writes, in order. Right after writing "MSN Active" as off it
// calls clearMsn, so the messenger's line goes at once. Stops at the first failing write with
// ERegistryException.
void SaveSettings(SettingsRegistry& registry, const PluginSettings& settings,
                  const std::function<void()>& clearMsn);
