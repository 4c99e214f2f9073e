#pragma once
// The player's record of a general-purpose plug-in, as the player reads it: 28 bytes on Win32.
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
static_assert(sizeof(void*) != 4 || sizeof(winampGeneralPurposePlugin) == 28, "the player reads a 28-byte record");
