#include "runtime/registry_win32.h"

#include <cstring>

#include "runtime/unicode_win32.h"

std::optional<RegistryData> QueryRegistryValue(HKEY key, const std::string& name) {
  const std::wstring wideName = Wide(name);
  RegistryData value;
  DWORD size = 0;
  if (RegQueryValueExW(key, wideName.c_str(), nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS)
    return std::nullopt;
  value.bytes.resize(size);
  if (size > 0 && RegQueryValueExW(key, wideName.c_str(), nullptr, &value.type,
                                   reinterpret_cast<BYTE*>(value.bytes.data()), &size) != ERROR_SUCCESS)
    return std::nullopt;
  // The value may have shrunk between the two calls.
  value.bytes.resize(size);
  if (IsRegistryText(value.type)) {
    std::wstring text(value.bytes.size() / sizeof(wchar_t), L'\0');
    std::memcpy(text.data(), value.bytes.data(), text.size() * sizeof(wchar_t));
    value.bytes = Utf8(text);
  }
  return value;
}

std::string QueryRegistryString(HKEY key, const std::string& name) {
  const std::optional<RegistryData> value = QueryRegistryValue(key, name);
  if (!value || (value->type != REG_SZ && value->type != REG_EXPAND_SZ)) return {};
  return value->bytes.substr(0, value->bytes.find('\0'));
}

bool SetRegistryValue(HKEY key, const std::string& name, DWORD type, const std::string& bytes) {
  const std::wstring text = IsRegistryText(type) ? Wide(bytes) : std::wstring();
  const BYTE* data = IsRegistryText(type) ? reinterpret_cast<const BYTE*>(text.data())
                                          : reinterpret_cast<const BYTE*>(bytes.data());
  const std::size_t size = IsRegistryText(type) ? text.size() * sizeof(wchar_t) : bytes.size();
  return RegSetValueExW(key, Wide(name).c_str(), 0, type, data, static_cast<DWORD>(size)) == ERROR_SUCCESS;
}
