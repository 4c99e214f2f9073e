#include "plugin/wa_ipc.h"

#include <cstdint>
#include <cstring>
#include <memory>

#include "runtime/unicode.h"

bool PlayerRequests::Wide() {
  if (!wide_) wide_ = Send(parent_, 0, kIpcGetVersion) >= kFirstWideVersion;
  return *wide_;
}

std::string PlayerRequests::GetPlaylistFile(int index) {
  const LParam request = Wide() ? kIpcGetPlaylistFileW : kIpcGetPlaylistFile;
  const LResult answer = Send(parent_, static_cast<WParam>(index), request);
  if (answer == 0) return {};
  // Copied at once: the player's text is only valid until its next playlist change.
  if (request == kIpcGetPlaylistFileW) return Utf16ToUtf8(reinterpret_cast<const char16_t*>(answer));
  return AnsiToUtf8(reinterpret_cast<const char*>(answer));
}

HostWindow PlayerRequests::GetPlaylistWindow() {
  return static_cast<HostWindow>(Send(parent_, 1, kIpcGetWindow));
}

bool PlayerRequests::GetExtendedFileInfo(HostWindow window, const std::string& fileName,
                                         const std::string& metadata, std::string& value) {
  value.clear();
  if (Wide()) {
    const std::u16string wideFile = Utf8ToUtf16(fileName);
    const std::u16string wideName = Utf8ToUtf16(metadata);
    auto buffer = std::make_unique<char16_t[]>(kExtendedInfoBufferSize);
    extendedFileInfoStructW info{wideFile.c_str(), wideName.c_str(), buffer.get(), kExtendedInfoBufferSize};
    const LResult answer = Send(window, reinterpret_cast<WParam>(&info), kIpcGetExtendedFileInfoW);
    if (static_cast<std::int32_t>(answer) <= 0) return false;
    const std::u16string_view text(buffer.get(), kExtendedInfoBufferSize);
    value = Utf16ToUtf8(text.substr(0, text.find(u'\0')));
    return true;
  }
  const std::string ansiFile = Utf8ToAnsi(fileName);
  const std::string ansiName = Utf8ToAnsi(metadata);
  auto buffer = std::make_unique<char[]>(kExtendedInfoBufferSize);
  extendedFileInfoStruct info{ansiFile.c_str(), ansiName.c_str(), buffer.get(), kExtendedInfoBufferSize};
  const LResult answer = Send(window, reinterpret_cast<WParam>(&info), kIpcGetExtendedFileInfo);
  if (static_cast<std::int32_t>(answer) <= 0) return false;
  value = AnsiToUtf8(std::string_view(buffer.get(), strnlen(buffer.get(), kExtendedInfoBufferSize)));
  return true;
}

std::string PlayerRequests::Tag(const std::string& fileName, const std::string& name) {
  std::string value;
  GetExtendedFileInfo(parent_, fileName, name, value);
  return value;
}
