#pragma once
// The few Win32 notions the portable core speaks about, as plain integers, so that the core
// compiles and is tested on Linux. On Windows they hold HWND, WPARAM, LPARAM and LRESULT values.
#include <cstdint>

using HostWindow = std::uintptr_t;
using WParam = std::uintptr_t;
using LParam = std::intptr_t;
using LResult = std::intptr_t;

constexpr unsigned kWmCommand = 273;
constexpr unsigned kWmCopyData = 74;
constexpr unsigned kWmUser = 1024;
