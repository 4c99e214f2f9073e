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
    client.SendText("second\n");
  }
  const auto sent = os->Sent();
  ASSERT_EQ(os->Types(), (Types{41, 0, 0, 42}));
  const std::string id = sent[0].ConnectionId();
  EXPECT_EQ(id, "{1234ABCD-00EF-4A0B-A0A1-A2A3A4A5A6A7}");
  for (const SentPacket& p : sent) {
    EXPECT_EQ(p.window, 0x1000u);
    EXPECT_EQ(p.dwData, static_cast<std::uintptr_t>(p.Type()));
    EXPECT_EQ(p.block.size(), p.Text().size() + 220);
    EXPECT_EQ(p.ConnectionId(), id);
    EXPECT_EQ(p.Int(cs_packet::kDay), 738946u);
    EXPECT_EQ(p.Int(cs_packet::kTimeOfDay), 49530250u);
    EXPECT_EQ(static_cast<std::int32_t>(p.Int(cs_packet::kBias)), -60);
  }
  EXPECT_EQ(sent[0].Text(), kDestination);
  // The names are fetched once the open packet is on its way, so only later packets carry them.
  EXPECT_EQ(sent[0].ComputerName(), "");
  EXPECT_EQ(sent[1].ComputerName(), "MUSICBOX");
  EXPECT_EQ(sent[1].ApplicationName(), "winamp");
  EXPECT_EQ(sent[1].Text(), "first");
  EXPECT_EQ(sent[2].Text(), "second\n");
  EXPECT_EQ(sent[3].Text(), "");
  EXPECT_TRUE(os->startCommands.empty());
}

TEST_F(LogClient, EmptyDestinationOpensForTheViewer) {
  TCSObject client(os);
  client.SendText("hello");
  const auto sent = os->Sent();
  ASSERT_EQ(os->Types(), (Types{41, 0}));
  EXPECT_EQ(sent[0].Text(), "Viewer");
}

TEST_F(LogClient, SameDestinationInOtherCaseSendsNothing) {
  TCSObject client(os);
  client.SetDestinationDetails("TCP[Host=viewer]");
  client.SetDestinationDetails("tcp[HOST=VIEWER]");
  EXPECT_EQ(os->Types(), (Types{41}));
  EXPECT_EQ(client.DestinationDetails(), "TCP[Host=viewer]");

  client.SetDestinationDetails("TCP[Host=other]");
  const auto sent = os->Sent();
  ASSERT_EQ(os->Types(), (Types{41, 42, 41}));
  EXPECT_EQ(sent[1].ConnectionId(), sent[0].ConnectionId());
  EXPECT_NE(sent[2].ConnectionId(), sent[0].ConnectionId());
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
  EXPECT_EQ(sent[2].ConnectionId(), sent[0].ConnectionId());
  EXPECT_EQ(sent[2].Text(), kDestination);
  EXPECT_EQ(sent[3].Text(), "after");
}

TEST_F(LogClient, AMissingDispatcherIsStartedFromTheRegisteredPathOrByName) {
  os->running = 0;
  {
    TCSObject client(os);
    client.SetDestinationDetails(kDestination);
    client.SendText("line");
  }
  EXPECT_EQ(os->startCommands, std::vector<std::string>{"CSDispatcher.exe"});
  const auto sent = os->Sent();
  ASSERT_EQ(os->Types(), (Types{41, 0, 42}));
  EXPECT_EQ(sent[0].window, 0x2000u);

  auto other = std::make_shared<RecordingLogPlatform>();
  other->running = 0;
  other->dispatcherPath = "\"D:\\CodeSite\\CSDispatcher.exe\" /quiet";
  TCSObject client(other);
  client.SetDestinationDetails(kDestination);
  EXPECT_EQ(other->startCommands, std::vector<std::string>{"\"D:\\CodeSite\\CSDispatcher.exe\" /quiet"});
}

TEST_F(LogClient, ADispatcherThatCannotStartSwitchesLoggingOffForGood) {
  os->running = 0;
  os->started = std::nullopt;
  TCSObject client(os);
  client.SetDestinationDetails(kDestination);
  EXPECT_FALSE(client.Enabled());
  const int searches = os->searches;
  client.SendText("dropped");
  EXPECT_EQ(os->searches, searches);
  EXPECT_EQ(os->startCommands.size(), 1u);
  EXPECT_TRUE(os->Sent().empty());
}

TEST_F(LogClient, AStartedDispatcherWithoutItsWindowRefusesTheOpenPacket) {
  os->running = 0;
  os->started = 0;
  TCSObject client(os);
  client.SetDestinationDetails(kDestination);
  EXPECT_FALSE(client.Enabled());
  EXPECT_TRUE(os->Sent().empty());
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

TEST_F(LogClient, NoGuidMeansNoConnection) {
  os->guidFails = true;
  TCSObject client(os);
  client.SetDestinationDetails(kDestination);
  EXPECT_FALSE(client.Enabled());
  EXPECT_TRUE(os->Sent().empty());
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
