#pragma once
// The player's messages that the plug-in watches on its playlist and main windows.
#include <cstdint>

#include "runtime/platform.h"

constexpr WParam kTrackNoticeWParam = 666;
constexpr LParam kTrackNoticeFlag = 0x40000000;
constexpr LParam kPlaylistIndexMask = 0x0FFFFFFF;
constexpr WParam kPauseCommand = 40046;
constexpr WParam kStopCommand = 40047;
constexpr unsigned kEndOfFileMessage = kWmUser + 2;

// Every message to the hooked windows passes these tests, so they stay inline and cheap.
inline bool IsTrackNotice(unsigned msg, WParam wParam, LParam lParam) {
  return msg == kWmUser && wParam == kTrackNoticeWParam && (lParam & kTrackNoticeFlag) != 0;
}
inline bool IsWatchedMainMessage(unsigned msg, WParam wParam) {
  return (msg == kWmCommand && (wParam == kPauseCommand || wParam == kStopCommand)) ||
         msg == kEndOfFileMessage;
}
