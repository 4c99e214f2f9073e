#pragma once
// The requests the plug-in makes of the player, sent as WM_USER to its main window. A player from
// version 5.13 on is asked for wide text (214, 3026), an older one for ANSI text (211, 290); either
// way the answers are UTF-8 from here on.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "runtime/platform.h"
#include "track/track.h"

constexpr LParam kIpcGetVersion = 0;
// 1 while a track plays, 3 while it is paused, 0 when stopped.
constexpr LParam kIpcIsPlaying = 104;
constexpr LResult kPlaying = 1;
// wParam 0 answers the playing track's position in ms, wParam 1 its length in seconds.
constexpr LParam kIpcGetOutputTime = 105;
constexpr LParam kIpcGetPlaylistFile = 211;
constexpr LParam kIpcGetPlaylistFileW = 214;
constexpr LParam kIpcGetWindow = 260;
constexpr LParam kIpcGetExtendedFileInfo = 290;
constexpr LParam kIpcGetExtendedFileInfoW = 3026;
// The first version that answers the wide requests. A player answers 1 to a request it does not
// know, so only the version tells whether it knows them.
constexpr LResult kFirstWideVersion = 0x5013;
// Bytes of an ANSI answer, characters of a wide one.
constexpr std::size_t kExtendedInfoBufferSize = 4096;

// The records of requests 290 and 3026, laid out as the player reads them: four pointer-sized
// fields. The wide one's texts are UTF-16 (wchar_t on Windows) and its length counts characters.
struct extendedFileInfoStruct {
  const char* filename;
  const char* metadata;
  char* ret;
  std::size_t retlen;
};
struct extendedFileInfoStructW {
  const char16_t* filename;
  const char16_t* metadata;
  char16_t* ret;
  std::size_t retlen;
};

class PlayerRequests : public TagSource {
 public:
  // A new parent is asked its version again at the next request that needs it.
  void SetParentWindow(HostWindow parent) {
    parent_ = parent;
    wide_.reset();
  }
  HostWindow ParentWindow() const { return parent_; }

  // The file name of playlist entry index; empty when the player answers 0.
  std::string GetPlaylistFile(int index);
  // The player's playlist window, as the player names it.
  HostWindow GetPlaylistWindow();
  // The tag metadata of fileName, asked of window. False, with value empty, when the player refuses.
  bool GetExtendedFileInfo(HostWindow window, const std::string& fileName, const std::string& metadata,
                           std::string& value);
  // Request 105 of the parent window: what wParam 0 or 1 asks; -1 when nothing plays.
  long long GetOutputTime(WParam what) {
    return static_cast<long long>(Send(parent_, what, kIpcGetOutputTime));
  }
  bool IsPlaying() { return Send(parent_, 0, kIpcIsPlaying) == kPlaying; }
  // A tag of the file asked of the parent window; empty when unknown.
  std::string Tag(const std::string& fileName, const std::string& name) override;

 protected:
  // Sends WM_USER to window synchronously and returns the player's answer.
  virtual LResult Send(HostWindow window, WParam wParam, LParam lParam) = 0;
  // The older player's texts are in the ANSI code page.
  virtual std::string AnsiToUtf8(std::string_view ansi) const = 0;
  virtual std::string Utf8ToAnsi(std::string_view utf8) const = 0;

 private:
  // Whether the parent answers the wide requests; asked once per parent.
  bool Wide();

  HostWindow parent_ = 0;
  std::optional<bool> wide_;
};
