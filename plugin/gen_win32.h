#pragma once
// The player's record of a general-purpose plug-in, as the player reads it: seven fields, each
// pointer-sized after the 32-bit version (28 bytes on i686, the player's architecture; 56 on x86_64).
#include <windows.h>

struct winampGeneralPurposePlugin {
  int version;
  const char* description;
  int (*init)();
  void (*config)();
  void (*quit)();
  HWND hwndParent;
  HINSTANCE hDllInstance;
};
static_assert(sizeof(winampGeneralPurposePlugin) == 7 * sizeof(void*), "the player reads seven fields");
