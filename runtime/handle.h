#pragma once
// One move-only owner for every kind of handle, given a close function and an invalid value,
// plus scope_exit for one-off clean-ups.
#include <utility>

template <typename Traits>
class unique_handle {
 public:
  using pointer = typename Traits::pointer;

  unique_handle() noexcept = default;
  explicit unique_handle(pointer value) noexcept : value_(value) {}
  unique_handle(const unique_handle&) = delete;
  unique_handle& operator=(const unique_handle&) = delete;
  unique_handle(unique_handle&& other) noexcept : value_(other.release()) {}
  unique_handle& operator=(unique_handle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~unique_handle() { reset(); }

  pointer get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return value_ != Traits::invalid(); }
  pointer release() noexcept { return std::exchange(value_, Traits::invalid()); }
  void reset(pointer value = Traits::invalid()) noexcept {
    pointer old = std::exchange(value_, value);
    if (old != Traits::invalid()) Traits::close(old);
  }

 private:
  pointer value_ = Traits::invalid();
};

// Traits for the common case: a handle type, its close function, and a null-like invalid value.
template <typename T, auto Close, T Invalid = T{}>
struct handle_traits {
  using pointer = T;
  static constexpr pointer invalid() noexcept { return Invalid; }
  static void close(pointer h) noexcept { Close(h); }
};

template <typename F>
class scope_exit {
 public:
  explicit scope_exit(F f) noexcept : f_(std::move(f)) {}
  scope_exit(const scope_exit&) = delete;
  scope_exit& operator=(const scope_exit&) = delete;
  ~scope_exit() {
    if (active_) f_();
  }
  void release() noexcept { active_ = false; }

 private:
  F f_;
  bool active_ = true;
};
