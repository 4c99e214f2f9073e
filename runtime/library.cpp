#include "runtime/library.h"

#include <utility>

#ifdef _WIN32
#include <windows.h>

#include "runtime/unicode_win32.h"
#else
#include <dlfcn.h>
#endif

Library Library::Load(const std::string& fileName) {
#ifdef _WIN32
  return Library(reinterpret_cast<void*>(LoadLibraryW(Wide(fileName).c_str())));
#else
  return Library(dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL));
#endif
}

Library Library::LoadPath(const std::string& path) {
#ifdef _WIN32
  // Undefined for a bare name, so only here.
  return Library(
      reinterpret_cast<void*>(LoadLibraryExW(Wide(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)));
#else
  return Load(path);
#endif
}

Library::Library(Library&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}

Library& Library::operator=(Library&& other) noexcept {
  if (this != &other) {
    Library dropped(std::exchange(handle_, std::exchange(other.handle_, nullptr)));
  }
  return *this;
}

Library::~Library() {
  if (!handle_) return;
#ifdef _WIN32
  FreeLibrary(static_cast<HMODULE>(handle_));
#else
  dlclose(handle_);
#endif
}

void* Library::Release() noexcept { return std::exchange(handle_, nullptr); }

void* Library::Symbol(const char* name) const {
  if (!handle_) return nullptr;
#ifdef _WIN32
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
#else
  return dlsym(handle_, name);
#endif
}
