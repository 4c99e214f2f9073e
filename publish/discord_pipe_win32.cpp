#include "publish/discord_pipe_win32.h"

#include <algorithm>
#include <string>
#include <system_error>

#include "runtime/unicode_win32.h"

namespace {

class Win32DiscordConnection final : public DiscordConnection {
 public:
  Win32DiscordConnection(unique_kernel_handle pipe, HANDLE wake) : pipe_(std::move(pipe)), wake_(wake) {}

  // A read still under way is cancelled and waited for before its buffer goes.
  ~Win32DiscordConnection() override {
    if (!reading_) return;
    CancelIo(pipe_.get());
    DWORD ignored = 0;
    GetOverlappedResult(pipe_.get(), &read_, &ignored, TRUE);
  }

  bool Send(const std::string& bytes) override {
    OVERLAPPED write{};
    write.hEvent = writeDone_.get();
    DWORD written = 0;
    if (!WriteFile(pipe_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, &write) &&
        GetLastError() != ERROR_IO_PENDING)
      return false;
    // A Discord that does not read fills the pipe, and the write waits: a wake (a stop) gives it up,
    // and with it the connection, whose stream may now end inside a frame.
    const HANDLE waits[] = {writeDone_.get(), wake_};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
      CancelIo(pipe_.get());
      GetOverlappedResult(pipe_.get(), &write, &written, TRUE);
      return false;
    }
    return GetOverlappedResult(pipe_.get(), &write, &written, FALSE) && written == bytes.size();
  }

  Read Receive(DiscordFrame& frame, std::chrono::milliseconds limit) override {
    const DWORD wait =
        limit == kNoLimit ? INFINITE : static_cast<DWORD>(std::min<long long>(limit.count(), INFINITE - 1));
    for (;;) {
      if (DecodeDiscordFrame(buffer_, frame)) return Read::Frame;
      if (!reading_) {
        read_ = OVERLAPPED{};
        read_.hEvent = readDone_.get();
        DWORD got = 0;
        if (!ReadFile(pipe_.get(), chunk_, sizeof chunk_, &got, &read_) &&
            GetLastError() != ERROR_IO_PENDING && GetLastError() != ERROR_MORE_DATA)
          return Read::Broken;
        reading_ = true;
      }
      // The read stays under way across a wake, so no byte of a frame is lost.
      const HANDLE waits[] = {readDone_.get(), wake_};
      if (WaitForMultipleObjects(2, waits, FALSE, wait) != WAIT_OBJECT_0) return Read::Woken;
      DWORD got = 0;
      const bool done = GetOverlappedResult(pipe_.get(), &read_, &got, FALSE);
      reading_ = false;
      if (!done && GetLastError() != ERROR_MORE_DATA) return Read::Broken;
      buffer_.append(chunk_, got);
    }
  }

 private:
  static unique_kernel_handle Event() {
    return unique_kernel_handle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  }

  unique_kernel_handle pipe_;
  HANDLE wake_;
  unique_kernel_handle readDone_ = Event(), writeDone_ = Event();
  OVERLAPPED read_{};
  bool reading_ = false;
  char chunk_[4096];
  std::string buffer_;
};

}  // namespace

Win32DiscordPipes::Win32DiscordPipes() : wake_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
  if (!wake_)
    throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), "CreateEvent");
}

std::unique_ptr<DiscordConnection> Win32DiscordPipes::Open() {
  for (int n = 0; n <= 9; ++n) {
    // Made narrow: the wide number would bring in the C library's wide printf.
    const std::wstring name = Wide("\\\\.\\pipe\\discord-ipc-" + std::to_string(n));
    const HANDLE pipe = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OVERLAPPED, nullptr);
    if (pipe != INVALID_HANDLE_VALUE)
      return std::make_unique<Win32DiscordConnection>(unique_kernel_handle(pipe), wake_.get());
  }
  return nullptr;
}
