#include "runtime/thread.h"

void RunDetached(std::function<void()> body) {
  std::thread([body = std::move(body)]() mutable {
    try {
      body();
    } catch (...) {
    }
  }).detach();
}
