#pragma once
// The three requests the plug-in makes of the player, sent as WM_USER to its main window.
#include <cstddef>
#include <string>

#include "runtime/platform.h"
#include "track/track.h"

constexpr LParam kIpcGetPlaylistFile = 211;
constexpr LParam kIpcGetWindow = 260;
constexpr LParam kIpcGetExtendedFileInfo = 290;
constexpr std::size_t kExtendedInfoBufferSize = 4096;

// The record of request 290, laid out as the player reads it: four 32-bit fields on Win32.
struct extendedFileInfoStruct {
  const char* filename;
  const char* metadata;
  char* ret;
  std::size_t retlen;
};

class PlayerRequests : public TagSource {
 public:
  void SetParentWindow(HostWindow parent) { parent_ = parent; }
  HostWindow ParentWindow() const { return parent_; }

  // The file name of playlist entry index; empty when the player answers 0.
  std::string GetPlaylistFile(int index);
  // The player's playlist window, as the player names it.
  HostWindow GetPlaylistWindow();
  // The tag metadata of fileName, asked of window. False, with value empty, when the player refuses.
  bool GetExtendedFileInfo(HostWindow window, const std::string& fileName, const std::string& metadata,
                           std::string& value);
  // A tag of the file asked of the parent window; empty when unknown.
  std::string Tag(const std::string& fileName, const std::string& name) override;

 protected:
  // Sends WM_USER to window synchronously and returns the player's answer.
  virtual LResult Send(HostWindow window, WParam wParam, LParam lParam) = 0;

 private:
  HostWindow parent_ = 0;
};
