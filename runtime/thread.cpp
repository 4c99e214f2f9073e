#include "runtime/thread.h"

TThread::~TThread() {
  if (thread_.joinable()) {
    Terminate();
    thread_.join();
  }
}

void TThread::Terminate() noexcept {
  {
    std::lock_guard<std::mutex> guard(terminateLock_);
    terminated_.store(true);
  }
  terminateSignal_.notify_all();
}

bool TThread::WaitTerminated(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> guard(terminateLock_);
  return terminateSignal_.wait_for(guard, limit, [this] { return terminated_.load(); });
}

void TThread::Start() {
  thread_ = std::thread([this] { Run(); });
}

void TThread::WaitFor() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void TThread::Run() noexcept {
  try {
    Execute();
  } catch (...) {
    // A thread body has nobody to report to; the subclasses log what they must themselves.
  }
}

void TThread::StartFreeOnTerminate(std::unique_ptr<TThread> thread) {
  // The body owns the object from here on; shared_ptr lets std::function copy the capture.
  std::shared_ptr<TThread> self(std::move(thread));
  RunDetached([self]() mutable {
    self->Run();
    self.reset();
  });
}
