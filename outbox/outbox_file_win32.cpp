#include "outbox/outbox_file.h"
#include "runtime/paths_win32.h"
#include "runtime/unicode_win32.h"

std::string OutboxFile(const std::string& setting) {
  const std::wstring path = ExpandedPath(Wide(setting));
  CreateParentFolders(path);
  return Utf8(path);
}
