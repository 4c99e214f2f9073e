#include "tunnel/libssh2_binding.h"

Library OpenLibSSH2File() { return Library::Load("libssh2.so.1"); }
