#include "runtime/registry_win32.h"

std::optional<RegistryData> QueryRegistryValue(HKEY key, const char* name) {
  RegistryData value;
  DWORD size = 0;
  if (RegQueryValueExA(key, name, nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
  value.bytes.resize(size);
  if (size > 0 && RegQueryValueExA(key, name, nullptr, &value.type,
                                   reinterpret_cast<BYTE*>(value.bytes.data()), &size) != ERROR_SUCCESS)
    return std::nullopt;
  // The value may have shrunk between the two calls.
  value.bytes.resize(size);
  return value;
}

std::string QueryRegistryString(HKEY key, const char* name) {
  const std::optional<RegistryData> value = QueryRegistryValue(key, name);
  if (!value || (value->type != REG_SZ && value->type != REG_EXPAND_SZ)) return {};
  return value->bytes.substr(0, value->bytes.find('\0'));
}
