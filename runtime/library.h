#pragma once
// A shared library loaded by file name at run time, released when the owner goes.
#include <string>

class Library {
 public:
  Library() = default;
  // Loads the library with the system's usual search order; an empty Library when it fails.
  static Library Load(const std::string& fileName);
  // Loads the library at a full path; the libraries it needs are looked for beside it first.
  static Library LoadPath(const std::string& path);

  Library(Library&& other) noexcept;
  Library& operator=(Library&& other) noexcept;
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
  ~Library();

  explicit operator bool() const noexcept { return handle_ != nullptr; }
  void* Symbol(const char* name) const;
  void* NativeHandle() const noexcept { return handle_; }
  // Lets go of the library without releasing it: it stays loaded until the process ends.
  void* Release() noexcept;

 private:
  explicit Library(void* handle) : handle_(handle) {}
  void* handle_ = nullptr;
};
