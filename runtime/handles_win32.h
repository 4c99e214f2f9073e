#pragma once
// One-line owners for the Win32 handle kinds the plug-in keeps.
#include <windows.h>
// After windows.h, which it needs.
#include <ddeml.h>

#include "runtime/handle.h"

using unique_hkey = unique_handle<handle_traits<HKEY, &RegCloseKey>>;
// Process, thread and event handles: null means none.
using unique_kernel_handle = unique_handle<handle_traits<HANDLE, &CloseHandle>>;
using unique_hmodule = unique_handle<handle_traits<HMODULE, &FreeLibrary>>;
using unique_hwnd = unique_handle<handle_traits<HWND, &DestroyWindow>>;

// A DDE string handle is freed through the instance that made it, so the owner keeps both.
struct dde_string {
  DWORD instance = 0;
  HSZ hsz = nullptr;
  friend bool operator==(dde_string a, dde_string b) noexcept { return a.hsz == b.hsz; }
};
struct dde_string_traits {
  using pointer = dde_string;
  static pointer invalid() noexcept { return {}; }
  static void close(pointer h) noexcept { DdeFreeStringHandle(h.instance, h.hsz); }
};
using unique_dde_string = unique_handle<dde_string_traits>;

// Owned only until given to a transaction, which takes it over (release it then).
using unique_dde_data = unique_handle<handle_traits<HDDEDATA, &DdeFreeDataHandle>>;
using unique_hconv = unique_handle<handle_traits<HCONV, &DdeDisconnect>>;
using unique_dde_instance = unique_handle<handle_traits<DWORD, &DdeUninitialize>>;
