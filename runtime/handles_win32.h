#pragma once
// One-line owners for the Win32 handle kinds the plug-in keeps.
#include <windows.h>
// After windows.h, which it needs.
#include <ddeml.h>

#include "runtime/handle.h"

struct hkey_traits {
  using pointer = HKEY;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer h) noexcept { RegCloseKey(h); }
};
using unique_hkey = unique_handle<hkey_traits>;

// Process, thread and event handles: null means none.
struct kernel_handle_traits {
  using pointer = HANDLE;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer h) noexcept { CloseHandle(h); }
};
using unique_kernel_handle = unique_handle<kernel_handle_traits>;

struct hmodule_traits {
  using pointer = HMODULE;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer h) noexcept { FreeLibrary(h); }
};
using unique_hmodule = unique_handle<hmodule_traits>;

struct hwnd_traits {
  using pointer = HWND;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer h) noexcept { DestroyWindow(h); }
};
using unique_hwnd = unique_handle<hwnd_traits>;

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
struct dde_data_traits {
  using pointer = HDDEDATA;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer h) noexcept { DdeFreeDataHandle(h); }
};
using unique_dde_data = unique_handle<dde_data_traits>;

struct hconv_traits {
  using pointer = HCONV;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer h) noexcept { DdeDisconnect(h); }
};
using unique_hconv = unique_handle<hconv_traits>;

struct dde_instance_traits {
  using pointer = DWORD;
  static pointer invalid() noexcept { return 0; }
  static void close(pointer h) noexcept { DdeUninitialize(h); }
};
using unique_dde_instance = unique_handle<dde_instance_traits>;
