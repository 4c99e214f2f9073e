#pragma once
// Where each service's API is unless a setting names another root: the settings' defaults and the
// services' own.
inline constexpr const char* kListenBrainzDefaultApi = "https://api.listenbrainz.org";
inline constexpr const char* kLastFmDefaultApi = "https://ws.audioscrobbler.com/2.0/";
// Where Discord's presence looks up album covers.
inline constexpr const char* kItunesDefaultApi = "https://itunes.apple.com";
inline constexpr const char* kCoverArtArchiveDefaultApi = "https://coverartarchive.org";
