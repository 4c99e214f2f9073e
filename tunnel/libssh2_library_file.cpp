#include "tunnel/libssh2_binding.h"

Library OpenLibSSH2File() { return Library::Load("libssh2.so.1"); }

std::string LibSSH2Places() { return "libssh2.so.1 on the system's search path"; }
