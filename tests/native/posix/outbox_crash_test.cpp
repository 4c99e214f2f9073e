// What the outbox said it stored survives the process being killed in the middle of storing.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "native/outbox_doubles.h"
#include "outbox/outbox.h"

namespace {

TEST(OutboxDurability, EveryEntryAcknowledgedBeforeAKillIsThereAfterwardsAndTheFileOpensCleanly) {
  outboxtest::TempFolder folder;
  const std::string path = folder.File("outbox.sqlite3");
  int acks[2];
  ASSERT_EQ(pipe(acks), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(acks[0]);
    Outbox outbox(path, "mysql", nullptr);
    // Stores until killed, saying each number once Store has returned.
    for (unsigned number = 0;; ++number) {
      outbox.Store({"play " + std::to_string(number), "and its neighbour " + std::to_string(number)}, 1);
      if (write(acks[1], &number, sizeof number) != sizeof number) _exit(1);
    }
  }
  close(acks[1]);
  unsigned acknowledged = 0;
  for (int i = 0; i < 25; ++i)
    ASSERT_EQ(read(acks[0], &acknowledged, sizeof acknowledged), sizeof acknowledged);
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  close(acks[0]);
  ASSERT_TRUE(WIFSIGNALED(status));

  outboxtest::Lines lines;
  Outbox reopened(path, "mysql", lines.Log());
  EXPECT_TRUE(lines.Get().empty());  // not set aside: the file is sound
  const std::vector<OutboxEntry> entries = reopened.Oldest(100000);
  ASSERT_GE(entries.size(), 2 * (acknowledged + 1));
  for (unsigned number = 0; number <= acknowledged; ++number) {
    EXPECT_EQ(entries[2 * number].body, "play " + std::to_string(number));
    EXPECT_EQ(entries[2 * number + 1].body, "and its neighbour " + std::to_string(number));
  }
}

}  // namespace
