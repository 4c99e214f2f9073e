#pragma once
// Expands the %name% tags of a template with the values the player reports for the track.
#include <string>

#include "track/track.h"

// Each tag becomes the value tags answers for track.FileName and the tag's name, but %playid% and
// %listened_at%, which are the track's own PlayId and ListenedAt; with sqlEscape the
// values are escaped for an SQL string literal. When no tag of the player yields a value (a
// template without tags included) the result is the file name without directory and extension, and
// usedFileName, when given, is set to true. Never fails.
std::string SubTags(TagSource& tags, const TTrackMetaData& track, const std::string& trackFormat,
                    bool sqlEscape, bool* usedFileName = nullptr);
