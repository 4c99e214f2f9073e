#pragma once
// The configuration dialog as the shell shows it, and what the dialog edits through.
#include <memory>
#include <optional>

#include "config/settings.h"
#include "outbox/history_sender.h"
#include "scrobble/http.h"
#include "track/track.h"

enum class ScrobbleQueue { ListenBrainz, LastFm };

// The shell's side of the dialog: the settings its controls are loaded from, and its save.
class SettingsEditor {
 public:
  virtual ~SettingsEditor() = default;
  virtual const PluginSettings& Settings() const = 0;
  // Takes edited as the settings, writes them (clearing the messenger's line when MSN is off),
  // then stops, starts or restarts the tunnel listener as "SSH Active" says. A failing write
  // raises ERegistryException; the listener is then left as it was.
  virtual void SaveEdited(const PluginSettings& edited) = 0;
  // The last host key a connection refused since the player started, and when; empty if none.
  virtual std::string HostKeyRefusal() = 0;
  // The database's outbox: what waits and failed, and the last transient error. The two actions
  // hand over to its sender and return at once.
  virtual HistoryStatus DatabaseOutbox() = 0;
  virtual void SendFailedStatementsAgain() = 0;
  virtual void DiscardFailedStatements() = 0;
  // The same of each scrobbling service's plays.
  virtual HistoryStatus ScrobbleOutbox(ScrobbleQueue queue) = 0;
  virtual void SendFailedPlaysAgain(ScrobbleQueue queue) = 0;
  virtual void DiscardFailedPlays(ScrobbleQueue queue) = 0;
  // A client for the Last.fm sign-in's requests, which run on a thread of their own.
  virtual std::shared_ptr<HttpClient> MakeHttpClient() = 0;
  // For the templates' previews, on the window thread: the track the player plays or pauses now,
  // none while it is stopped, and where its tags come from.
  virtual std::optional<TTrackMetaData> PlayingTrack() = 0;
  virtual TagSource& PlayerTags() = 0;
};

class ConfigDialog {
 public:
  virtual ~ConfigDialog() = default;
  // Shows the dialog modally; returns once the user has closed it.
  virtual void ShowModal() = 0;
  // From inside the modal loop: closes the dialog as its close box does, discarding the edits.
  virtual void Close() = 0;
};
