#include "plugin/wa_ipc.h"

#include <cstdint>
#include <cstring>
#include <memory>

std::string PlayerRequests::GetPlaylistFile(int index) {
  LResult answer = Send(parent_, static_cast<WParam>(index), kIpcGetPlaylistFile);
  if (answer == 0) return {};
  // Copied at once: the player's text is only valid until its next playlist change.
  return std::string(reinterpret_cast<const char*>(answer));
}

HostWindow PlayerRequests::GetPlaylistWindow() {
  return static_cast<HostWindow>(Send(parent_, 1, kIpcGetWindow));
}

bool PlayerRequests::GetExtendedFileInfo(HostWindow window, const std::string& fileName,
                                         const std::string& metadata, std::string& value) {
  value.clear();
  auto buffer = std::make_unique<char[]>(kExtendedInfoBufferSize);
  extendedFileInfoStruct info{fileName.c_str(), metadata.c_str(), buffer.get(), kExtendedInfoBufferSize};
  LResult answer = Send(window, reinterpret_cast<WParam>(&info), kIpcGetExtendedFileInfo);
  if (static_cast<std::int32_t>(answer) <= 0) return false;
  value.assign(buffer.get(), strnlen(buffer.get(), kExtendedInfoBufferSize));
  return true;
}

std::string PlayerRequests::Tag(const std::string& fileName, const std::string& name) {
  std::string value;
  GetExtendedFileInfo(parent_, fileName, name, value);
  return value;
}
