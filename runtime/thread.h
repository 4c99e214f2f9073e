#pragma once
// The plug-in's thread class: override Execute, ask it to stop with Terminate, wait with WaitFor.
// A thread either has an owner that terminates and waits for it, or owns itself and is freed
// when Execute returns (free-on-terminate).
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class TThread {
 public:
  TThread() = default;
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;
  // An owned thread still running is asked to stop and waited for.
  virtual ~TThread();

  // Starts an owned thread.
  void Start();
  void Terminate() noexcept;
  bool Terminated() const noexcept { return terminated_.load(); }
  // Waits until Terminate is called or limit has passed; true when terminated.
  bool WaitTerminated(std::chrono::milliseconds limit);
  void WaitFor();

  // Starts a thread that owns itself and is destroyed on its own thread when Execute returns.
  // Throws std::system_error when no thread can be made; the object is then destroyed.
  static void StartFreeOnTerminate(std::unique_ptr<TThread> thread);

 protected:
  virtual void Execute() = 0;

 private:
  // No exception leaves a thread body.
  void Run() noexcept;

  std::atomic<bool> terminated_{false};
  std::mutex terminateLock_;
  std::condition_variable terminateSignal_;
  std::thread thread_;
};

// Runs body on a new thread nobody joins. On Windows the thread holds a reference on the module
// that contains this code while it runs and drops it as its very last act, so a DLL unloaded by
// its host stays mapped until the thread has left it.
void RunDetached(std::function<void()> body);
