#pragma once
// What the friends list shows beside the user's name (Discord's status_display_type), as the
// setting names it.
#include <iterator>
#include <string_view>

enum class DiscordShows { Application = 0, Artist = 1, Title = 2 };

// By the enum's value: the setting's stored text and the dialog's choices.
inline constexpr const char* kDiscordShowsNames[] = {"application", "artist", "title"};
inline constexpr DiscordShows kDiscordShowsDefault = DiscordShows::Artist;

// A text that names none (an older or edited value) gives the default.
inline DiscordShows DiscordShowsNamed(std::string_view name) {
  for (std::size_t i = 0; i < std::size(kDiscordShowsNames); ++i)
    if (name == kDiscordShowsNames[i]) return static_cast<DiscordShows>(i);
  return kDiscordShowsDefault;
}
