#pragma once
// One registry value read whole, for every place that reads the registry.
#include <windows.h>

#include <optional>
#include <string>

struct RegistryData {
  DWORD type = 0;
  std::string bytes;  // as stored
};

// The value name of the open key; nothing when it is missing or cannot be read.
std::optional<RegistryData> QueryRegistryValue(HKEY key, const char* name);

// A REG_SZ or REG_EXPAND_SZ value (not expanded) up to its first NUL; empty for any other.
std::string QueryRegistryString(HKEY key, const char* name);
