#include "tunnel/libssh2_binding.h"

#include <atomic>

#include "runtime/binding.h"

namespace {

bool BindAll(const Library& library, LibSSH2Entries& entries) {
  bool complete = true;
#define SKORREL_LIBSSH2_BIND(ret, name, params) \
  BindEntry(library, #name, entries.name);      \
  complete = complete && entries.name != nullptr;
  SKORREL_LIBSSH2_ENTRIES(SKORREL_LIBSSH2_BIND)
#undef SKORREL_LIBSSH2_BIND
#define SKORREL_LIBSSH2_BIND_OPTIONAL(ret, name, params) BindEntry(library, #name, entries.name);
  SKORREL_LIBSSH2_OPTIONAL_ENTRIES(SKORREL_LIBSSH2_BIND_OPTIONAL)
#undef SKORREL_LIBSSH2_BIND_OPTIONAL
  return complete;
}

// Not safe to run while another thread uses the library, so it runs here, once, before any does.
bool Start(const LibSSH2Entries& entries) { return entries.libssh2_init(0) == 0; }
void End(const LibSSH2Entries& entries) { entries.libssh2_exit(); }

std::atomic<LibSSH2Opener> opener{&OpenLibSSH2File};

RuntimeBinding<LibSSH2Entries>& Binding() {
  static RuntimeBinding<LibSSH2Entries> binding(&BindAll, &Start, &End);
  return binding;
}

Library Open() { return opener.load()(); }

}  // namespace

const LibSSH2Entries& LibSSH2() { return Binding().Get(); }

bool LoadLibSSH2() { return Binding().Load(&Open); }

void UnloadLibSSH2() { Binding().Unload(); }

LibSSH2Opener SetLibSSH2Opener(LibSSH2Opener replacement) { return opener.exchange(replacement); }
