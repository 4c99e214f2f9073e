// The log client's conversation with the dispatcher: opening, closing, restarts, starting the
// dispatcher and the rules that switch the client off.
#include <gtest/gtest.h>

#include "diag/CSIntf.h"
#include "diag/globals.h"
#include "log_platform_double.h"

namespace {

using Types = std::vector<std::int32_t>;
const std::string kDestination =
    "TCP[Host=viewer;RemoteDestinationDetails=Viewer,File[Path=C:\\gen_skorrel.csl]]";

struct LogClient : testing::Test {
  std::shared_ptr<RecordingLogPlatform> os = std::make_shared<RecordingLogPlatform>();
};

TEST_F(LogClient, DestinationOpensAndDestructionClosesTheConnection) {
  {
    TCSObject client(os);
    client.SetDestinationDetails(kDestination);
    client.SendText("first\r\n");
  }
  const auto sent = os->Sent();
  ASSERT_EQ(os->Types(), (Types{41, 0, 42}));
  EXPECT_EQ(sent[0].Id(), "{1234ABCD-0000-0000-0000-000000000000}");
  for (const SentPacket& p : sent) {
    EXPECT_EQ(p.window, 0x1000u);
    EXPECT_EQ(p.dwData, static_cast<std::uintptr_t>(p.Type()));
    EXPECT_EQ(p.block.size(), p.Text().size() + 220);
    EXPECT_EQ(p.Id(), sent[0].Id());
    EXPECT_EQ(p.Int(cs_packet::kDay), 738946u);
  }
  EXPECT_EQ(sent[0].Text(), kDestination);
  // The names are fetched once the open packet is on its way, so only later packets carry them.
  EXPECT_EQ(sent[0].Computer(), "");
  EXPECT_EQ(sent[1].Computer(), "MUSICBOX");
  EXPECT_EQ(sent[1].Text(), "first");
  EXPECT_EQ(sent[2].Text(), "");
  EXPECT_TRUE(os->startCommands.empty());
}

TEST_F(LogClient, SameDestinationInOtherCaseSendsNothingAnOtherReopens) {
  TCSObject client(os);
  client.SetDestinationDetails("TCP[Host=viewer]");
  client.SetDestinationDetails("tcp[HOST=VIEWER]");
  EXPECT_EQ(os->Types(), (Types{41}));

  client.SetDestinationDetails("TCP[Host=other]");
  const auto sent = os->Sent();
  ASSERT_EQ(os->Types(), (Types{41, 42, 41}));
  EXPECT_EQ(sent[1].Id(), sent[0].Id());
  EXPECT_NE(sent[2].Id(), sent[0].Id());
  EXPECT_EQ(sent[2].Text(), "TCP[Host=other]");
}

TEST_F(LogClient, ARestartedDispatcherIsSentTheOpenPacketAgain) {
  TCSObject client(os);
  client.SetDestinationDetails(kDestination);
  client.SendText("before");
  os->Lock(), os->running = 0x3000;
  client.SendText("after");
  client.SendText("again");
  const auto sent = os->Sent();
  ASSERT_EQ(os->Types(), (Types{41, 0, 41, 0, 0}));
  EXPECT_EQ(sent[2].window, 0x3000u);
  EXPECT_EQ(sent[2].Id(), sent[0].Id());
  EXPECT_EQ(sent[2].Text(), kDestination);
}

TEST_F(LogClient, AMissingDispatcherIsStartedFromTheRegisteredPathOrByName) {
  os->running = 0;
  TCSObject client(os);
  client.SetDestinationDetails(kDestination);
  client.SendText("line");
  EXPECT_EQ(os->startCommands, std::vector<std::string>{"CSDispatcher.exe"});
  ASSERT_EQ(os->Types(), (Types{41, 0}));
  EXPECT_EQ(os->Sent()[0].window, 0x2000u);

  auto other = std::make_shared<RecordingLogPlatform>();
  other->running = 0;
  other->dispatcherPath = "\"D:\\CodeSite\\CSDispatcher.exe\" /quiet";
  TCSObject second(other);
  second.SetDestinationDetails(kDestination);
  EXPECT_EQ(other->startCommands, std::vector<std::string>{other->dispatcherPath});
}

TEST_F(LogClient, NoDispatcherWindowOrNoGuidSwitchesLoggingOffForGood) {
  struct Case {
    std::optional<HostWindow> started;
    bool guidFails;
    std::size_t starts;  // a failed start is never retried; without a GUID nothing is started
  } cases[] = {{std::nullopt, false, 1}, {HostWindow{0}, false, 1}, {HostWindow{0x2000}, true, 0}};
  for (const Case& c : cases) {
    auto down = std::make_shared<RecordingLogPlatform>();
    down->running = 0;
    down->started = c.started;
    down->guidFails = c.guidFails;
    TCSObject client(down);
    client.SetDestinationDetails(kDestination);
    EXPECT_FALSE(client.Enabled());
    const int searches = down->searches;
    client.SendText("dropped");
    EXPECT_EQ(down->searches, searches);
    EXPECT_EQ(down->startCommands.size(), c.starts);
    EXPECT_TRUE(down->Sent().empty());
  }
}

TEST_F(LogClient, ARefusedOpenSwitchesOffButARefusedTextDoesNot) {
  {
    TCSObject client(os);
    client.SetDestinationDetails(kDestination);
    os->Lock(), os->result = 0;
    client.SendText("refused");
    EXPECT_TRUE(client.Enabled());
    os->Lock(), os->result = 1;
    client.SendText("accepted");
  }
  EXPECT_EQ(os->Types(), (Types{41, 0, 0, 42}));

  auto refusing = std::make_shared<RecordingLogPlatform>();
  refusing->result = 0;
  TCSObject client(refusing);
  client.SetDestinationDetails(kDestination);
  EXPECT_FALSE(client.Enabled());
  client.SendText("dropped");
  EXPECT_EQ(refusing->Types(), (Types{41}));
}

TEST_F(LogClient, CloseNeverStartsTheDispatcher) {
  {
    TCSObject client(os);
    client.SetDestinationDetails(kDestination);
    os->Lock(), os->running = 0;
  }
  EXPECT_EQ(os->Types(), (Types{41}));
  EXPECT_TRUE(os->startCommands.empty());
}

// Through the plug-in's own calls.
struct LogDebugCalls : LogClient {
  ~LogDebugCalls() override { StopLogClient(); }
};

TEST_F(LogDebugCalls, NoCSDebugValueMeansNothingIsSearchedStartedOrSent) {
  os->running = 0;
  StartLogClient(os, "", "C:");
  LogDebug("Plugin.Init");
  StopLogClient();
  EXPECT_EQ(os->searches, 0);
  EXPECT_TRUE(os->startCommands.empty());
  EXPECT_TRUE(os->Sent().empty());
}

TEST_F(LogDebugCalls, ACSDebugHostRoutesToItsViewerAndALogFileOnTheSystemDrive) {
  LogDebug("before start-up");
  StartLogClient(os, "viewer", "C:");
  LogDebug("");
  LogDebug("Plugin.Init");
  StopLogClient();
  LogDebug("after shut-down");
  const auto sent = os->Sent();
  ASSERT_EQ(os->Types(), (Types{41, 0, 0, 42}));
  EXPECT_EQ(sent[0].Text(), kDestination);
  EXPECT_EQ(sent[1].Text(), "[gen_skorrel] ");
  EXPECT_EQ(sent[1].Int(cs_packet::kTextLength), 14u);
  EXPECT_EQ(sent[2].Text(), "[gen_skorrel] Plugin.Init");
}

}  // namespace
