#pragma once
// Runs one step that must not stop the steps after it: a failure is logged as
// "<area>: <what> failed - <reason>" and goes no further.
#include <exception>
#include <string>

#include "diag/globals.h"

template <typename F>
void RunLogged(const char* area, const char* what, F&& step) noexcept {
  try {
    step();
  } catch (const std::exception& e) {
    LogDebug(std::string(area) + ": " + what + " failed - " + e.what());
  } catch (...) {
    LogDebug(std::string(area) + ": " + what + " failed");
  }
}
