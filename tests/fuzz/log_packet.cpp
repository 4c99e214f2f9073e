// The log client's packets, read back by the dispatcher stand-in's decoder: a connection opened
// with a destination, one line sent and the connection closed, with the machine's names, the
// clock and the line taken from the input. Every field read back must equal what was put in, as
// the packet's rules cut it. The input is also handed to the decoder as a block of its own.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "diag/CSIntf.h"
#include "fuzz/check.h"
#include "tools/log_packet_decoder.h"

namespace {

struct Sent {
  std::uintptr_t dwData;
  std::vector<std::uint8_t> block;
};

class InputPlatform : public LogPlatform {
 public:
  LocalDateTime now;
  std::int32_t bias = 0;
  Guid guid;
  std::optional<std::string> computer;
  std::string executable;
  std::uint32_t pid = 0, tid = 0;
  std::vector<Sent> sent;

  LocalDateTime Now() override { return now; }
  std::int32_t TimeZoneBias() override { return bias; }
  std::optional<Guid> NewGuid() override { return guid; }
  std::optional<std::string> ComputerName() override { return computer; }
  std::string ExecutablePath() override { return executable; }
  std::uint32_t ProcessId() override { return pid; }
  std::uint32_t ThreadId() override { return tid; }
  HostWindow FindTopLevelWindow(const std::string&, const std::string&) override { return 0x1000; }
  LResult SendCopyData(HostWindow, std::uintptr_t dwData, const std::vector<std::uint8_t>& block) override {
    sent.push_back({dwData, block});
    return 1;
  }
  std::string DispatcherPath() override { return {}; }
  std::optional<HostWindow> StartAndFindWindow(const std::string&, const std::string&) override { return 0; }
};

// Days since 1 January of year 1, that day being 1, counted by whole eras of 400 years.
std::int64_t ReferenceDay(int y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = y / 400, yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 305;
}

// Up to the first NUL, at most slot - 1 bytes.
std::string InSlot(const std::string& text, std::size_t slot) {
  return text.substr(0, std::min(text.find('\0'), slot - 1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  LogPacketRecordLine(0, data, size);

  FuzzedDataProvider input(data, size);
  auto platform = std::make_shared<InputPlatform>();
  InputPlatform& f = *platform;
  f.now = {input.ConsumeIntegralInRange(1, 9999), input.ConsumeIntegralInRange(1, 12),
           input.ConsumeIntegralInRange(1, 28),   input.ConsumeIntegralInRange(0, 23),
           input.ConsumeIntegralInRange(0, 59),   input.ConsumeIntegralInRange(0, 59),
           input.ConsumeIntegralInRange(0, 999)};
  f.bias = input.ConsumeIntegral<std::int32_t>();
  f.guid.data1 = input.ConsumeIntegral<std::uint32_t>();
  f.guid.data2 = input.ConsumeIntegral<std::uint16_t>();
  f.pid = input.ConsumeIntegral<std::uint32_t>();
  f.tid = input.ConsumeIntegral<std::uint32_t>();
  if (input.ConsumeBool()) f.computer = input.ConsumeRandomLengthString(24);
  f.executable = input.ConsumeRandomLengthString(80);
  const std::string destination = input.ConsumeRandomLengthString(80);
  const std::string text = input.ConsumeRemainingBytesAsString();
  {
    TCodeSite client(platform);
    client.SetDestinationDetails(destination);
    client.SendText(text);
  }

  // Every packet's text goes without a closing CR LF, the open packet's destination too.
  const auto cut = [](const std::string& t) {
    return t.size() >= 2 && t.compare(t.size() - 2, 2, "\r\n") == 0 ? t.substr(0, t.size() - 2) : t;
  };
  const std::string sent[] = {cut(destination.empty() ? "Viewer" : destination), cut(text), ""};
  const std::int32_t types[] = {41, 0, 42};
  FUZZ_CHECK(f.sent.size() == 3);
  const std::string id = GuidToString(f.guid);
  FUZZ_CHECK(id.size() == 38 && id.front() == '{' && id.back() == '}');
  const std::string computer = f.computer && f.computer->size() <= 15 ? InSlot(*f.computer, 16) : "";
  std::string app = f.executable.substr(f.executable.find_last_of("\\/:") + 1);
  app = app.substr(0, app.rfind('.'));
  for (std::size_t i = 0; i < 3; ++i) {
    const std::vector<std::uint8_t>& block = f.sent[i].block;
    const std::optional<DecodedLogPacket> p = DecodeLogPacket(block.data(), block.size());
    FUZZ_CHECK(p && p->sized && f.sent[i].dwData == static_cast<std::uintptr_t>(types[i]));
    FUZZ_CHECK(p->type == types[i] && p->text == sent[i] && p->textLength == sent[i].size() &&
               p->extraLength == 0);
    FUZZ_CHECK(block[217 + sent[i].size()] == 0 && block[218 + sent[i].size()] == 0 &&
               block[219 + sent[i].size()] == 0);
    FUZZ_CHECK(p->timeOfDayMs ==
               static_cast<std::uint32_t>(((f.now.hour * 60 + f.now.minute) * 60 + f.now.second) * 1000 +
                                          f.now.millisecond));
    FUZZ_CHECK(p->day == ReferenceDay(f.now.year, f.now.month, f.now.day));
    FUZZ_CHECK(p->bias == f.bias && p->processId == f.pid && p->threadId == f.tid);
    FUZZ_CHECK(p->connectionId == id && p->category.empty() && p->categoryColor == 0xFF000005 &&
               p->objectName.empty());
    // The open packet goes before the names are fetched.
    FUZZ_CHECK(p->computerName == (i == 0 ? "" : computer));
    FUZZ_CHECK(p->applicationName == (i == 0 ? "" : InSlot(app, 41)));
  }
  return 0;
}
