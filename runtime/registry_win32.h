#pragma once
// One registry value read whole, for every place that reads the registry.
#include <windows.h>

#include <optional>
#include <string>

struct RegistryData {
  DWORD type = 0;
  std::string bytes;  // as stored; a text value's (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) as UTF-8
};

// Whether values of this type hold text, which the registry keeps as UTF-16.
inline bool IsRegistryText(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// The value name (UTF-8) of the open key, read with the wide functions, so that a text in any
// script comes back whole; nothing when it is missing or cannot be read.
std::optional<RegistryData> QueryRegistryValue(HKEY key, const std::string& name);

// A REG_SZ or REG_EXPAND_SZ value (not expanded) up to its first NUL; empty for any other.
std::string QueryRegistryString(HKEY key, const std::string& name);

// Stores the value under name, a text value's UTF-8 bytes as UTF-16; false when that fails.
bool SetRegistryValue(HKEY key, const std::string& name, DWORD type, const std::string& bytes);
