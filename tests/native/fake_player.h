#pragma once
// Answers the player requests from a playlist and a tag table, and counts what was asked.
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "plugin/wa_ipc.h"

class FakePlayer : public PlayerRequests {
 public:
  std::vector<std::string> playlist;
  std::map<std::pair<std::string, std::string>, std::string> tags;  // (file, name) -> value
  HostWindow playlistWindow = 0x5150;
  std::vector<std::string> requests;

 protected:
  LResult Send(HostWindow window, WParam wParam, LParam lParam) override {
    requests.push_back(std::to_string(lParam) + " " + std::to_string(window));
    switch (lParam) {
      case kIpcGetPlaylistFile:
        return wParam < playlist.size() ? reinterpret_cast<LResult>(playlist[wParam].c_str()) : 0;
      case kIpcGetWindow:
        return wParam == 1 ? static_cast<LResult>(playlistWindow) : 0;
      case kIpcGetExtendedFileInfo: {
        auto* info = reinterpret_cast<extendedFileInfoStruct*>(wParam);
        auto it = tags.find({info->filename, info->metadata});
        if (it == tags.end()) return 0;
        std::strncpy(info->ret, it->second.c_str(), info->retlen);
        return 1;
      }
    }
    return 0;
  }
};
