#pragma once
// Answers the player requests from a UTF-8 playlist and tag table, as a player of the given
// version, and counts what was asked. Its ANSI code page is Latin-1: other characters become "?".
#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "plugin/wa_ipc.h"
#include "runtime/unicode.h"

class FakePlayer : public PlayerRequests {
 public:
  LResult version = kFirstWideVersion;
  LResult playing = kPlaying;  // what request 104 answers
  std::vector<std::string> playlist;
  std::map<std::pair<std::string, std::string>, std::string> tags;  // (file, name) -> value
  HostWindow playlistWindow = 0x5150;
  std::vector<std::string> requests;

 protected:
  LResult Send(HostWindow window, WParam wParam, LParam lParam) override {
    requests.push_back(std::to_string(lParam) + " " + std::to_string(window));
    switch (lParam) {
      case kIpcGetVersion:
        return version;
      case kIpcIsPlaying:
        return playing;
      case kIpcGetPlaylistFile:
      case kIpcGetPlaylistFileW:
        if (wParam >= playlist.size()) return 0;
        answerAnsi_ = Utf8ToAnsi(playlist[wParam]);
        answerWide_ = Utf8ToUtf16(playlist[wParam]);
        return lParam == kIpcGetPlaylistFile ? reinterpret_cast<LResult>(answerAnsi_.c_str())
                                             : reinterpret_cast<LResult>(answerWide_.c_str());
      case kIpcGetWindow:
        return wParam == 1 ? static_cast<LResult>(playlistWindow) : 0;
      case kIpcGetExtendedFileInfo: {
        auto* info = reinterpret_cast<extendedFileInfoStruct*>(wParam);
        auto it = tags.find({AnsiToUtf8(info->filename), AnsiToUtf8(info->metadata)});
        if (it == tags.end()) return 0;
        std::strncpy(info->ret, Utf8ToAnsi(it->second).c_str(), info->retlen);
        return 1;
      }
      case kIpcGetExtendedFileInfoW: {
        auto* info = reinterpret_cast<extendedFileInfoStructW*>(wParam);
        auto it = tags.find({Utf16ToUtf8(info->filename), Utf16ToUtf8(info->metadata)});
        if (it == tags.end()) return 0;
        const std::u16string value = Utf8ToUtf16(it->second);
        std::memcpy(info->ret, value.data(), std::min(value.size() + 1, info->retlen) * sizeof(char16_t));
        return 1;
      }
    }
    return 1;  // what a player answers to a request it does not know
  }
  std::string AnsiToUtf8(std::string_view ansi) const override {
    std::u16string wide(ansi.begin(), ansi.end());
    for (char16_t& c : wide) c &= 0xFF;
    return Utf16ToUtf8(wide);
  }
  std::string Utf8ToAnsi(std::string_view utf8) const override {
    std::string ansi;
    for (char16_t c : Utf8ToUtf16(utf8)) ansi += c < 0x100 ? static_cast<char>(c) : '?';
    return ansi;
  }

 private:
  std::string answerAnsi_;
  std::u16string answerWide_;
};
