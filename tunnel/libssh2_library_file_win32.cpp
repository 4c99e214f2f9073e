#include <string>

#include "runtime/paths_win32.h"
#include "tunnel/libssh2_binding.h"

// A user may drop libssh2.dll beside the plug-in in the player's Plugins folder, which is not on
// the search path; there it is looked for first.
Library OpenLibSSH2File() {
  if (const std::string folder = OwnFolder(); !folder.empty()) {
    if (Library beside = Library::LoadPath(folder + "libssh2.dll")) return beside;
  }
  return Library::Load("libssh2.dll");
}

std::string LibSSH2Places() {
  const std::string folder = OwnFolder();
  return (folder.empty() ? "" : folder + "libssh2.dll, then ") + "libssh2.dll on the system's search path";
}
