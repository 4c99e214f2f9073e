#pragma once
// One-line owners for the Win32 handle kinds the plug-in keeps.
#include <windows.h>

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
