#include <windows.h>

#include <memory>
#include <system_error>

#include "runtime/thread.h"

namespace {

struct DetachedStart {
  std::function<void()> body;
  HMODULE module;
};

DWORD WINAPI DetachedThreadProc(LPVOID parameter) {
  HMODULE module;
  {
    std::unique_ptr<DetachedStart> start(static_cast<DetachedStart*>(parameter));
    module = start->module;
    try {
      start->body();
    } catch (...) {
    }
  }
  // The reference taken in RunDetached keeps this code mapped until here.
  FreeLibraryAndExitThread(module, 0);
}

}  // namespace

void RunDetached(std::function<void()> body) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                          reinterpret_cast<LPCWSTR>(&DetachedThreadProc), &module))
    throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), "GetModuleHandleEx");
  auto start = std::make_unique<DetachedStart>(DetachedStart{std::move(body), module});
  HANDLE thread = CreateThread(nullptr, 0, DetachedThreadProc, start.get(), 0, nullptr);
  if (!thread) {
    DWORD error = GetLastError();
    FreeLibrary(module);
    throw std::system_error(static_cast<int>(error), std::system_category(), "CreateThread");
  }
  start.release();
  CloseHandle(thread);
}
