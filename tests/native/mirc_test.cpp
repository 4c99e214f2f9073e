#include "publish/mirc.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tag_table.h"

namespace {

const TTrackMetaData kSong{"C:\\Music\\01 Song.mp3"};

TEST(MircCommand, ControlCharactersInValuesBecomeBlanksSoAValueCannotStartALine) {
  TagTable tags;
  tags.Set(kSong.FileName, "artist", "A\r\n/quit\tnow\x01");
  tags.Set(kSong.FileName, "title", "T\xE9\x7F");  // bytes of 127 and above are text
  EXPECT_EQ(MircCommand(tags, kSong, "/me %artist% - %title%"), "/me A  /quit now  - T\xE9\x7F");
}

TEST(MircCommand, TheTemplatesOwnLineBreaksStay) {
  TagTable tags;
  tags.Set(kSong.FileName, "title", "T\r\n");
  EXPECT_EQ(MircCommand(tags, kSong, "/me one\r\n/me %title%"), "/me one\r\n/me T  ");
}

TEST(MircCommand, AFileNameStandingInForTheTemplateIsBlankedToo) {
  TagTable tags;
  EXPECT_EQ(MircCommand(tags, {"http://radio/a\r\n/quit"}, "/me %title%"), "//radio/a  /quit");
  EXPECT_EQ(MircCommand(tags, kSong, ""), "01 Song");
}

// The blanking wrapper must not turn a preview's quiet expansion back into a logged one.
TEST(CommandSafeTags, IsLoggedAsTheSourceItWraps) {
  TagTable tags;
  for (bool logged : {true, false}) {
    TagMemo source(tags, logged);
    EXPECT_EQ(CommandSafeTags(source).Logged(), logged);
  }
}

// Records the conversation's steps in order, alongside the tag lookups.
class FakeLink : public MircLink {
 public:
  bool answers = true;
  std::vector<std::string>& log;
  explicit FakeLink(std::vector<std::string>& log) : log(log) {}

  class Conversation : public MircConversation {
   public:
    Conversation(FakeLink& link, bool connected) : link_(link), connected_(connected) {}
    ~Conversation() override { link_.log.push_back("end"); }
    bool Connected() const override { return connected_; }
    void Poke(const std::string& text) override { link_.log.push_back("poke " + text); }

   private:
    FakeLink& link_;
    bool connected_;
  };

  std::unique_ptr<MircConversation> Connect(const std::string& service) override {
    log.push_back("connect " + service);
    return std::make_unique<Conversation>(*this, answers);
  }
};

class LoggingTags : public TagSource {
 public:
  explicit LoggingTags(std::vector<std::string>& log) : log_(log) {}
  std::string Tag(const std::string&, const std::string& name) override {
    log_.push_back("tag " + name);
    return name == "title" ? "T" : "";
  }

 private:
  std::vector<std::string>& log_;
};

TEST(MircSendCommand, ConnectsExpandsPokesOnceAndEnds) {
  std::vector<std::string> log;
  FakeLink link(log);
  LoggingTags tags(log);
  mIRCSendCommand(link, tags, kSong, "mIRC", "/me %title%");
  EXPECT_EQ(log, (std::vector<std::string>{"connect mIRC", "tag title", "poke /me T", "end"}));
}

TEST(MircSendCommand, WithNoAnswerTheCommandIsStillExpandedButNotSent) {
  std::vector<std::string> log;
  FakeLink link(log);
  link.answers = false;
  LoggingTags tags(log);
  mIRCSendCommand(link, tags, kSong, "other", "/me %title%");
  EXPECT_EQ(log, (std::vector<std::string>{"connect other", "tag title", "end"}));
}

TEST(DdeInitErrorText, NamesTheFailureAndItsCodeInHex) {
  EXPECT_EQ(DdeInitErrorText(0x4007), "Error occurred when DDE ran out of memory ($04007)");
  EXPECT_EQ(DdeInitErrorText(0x4008), "Error occurred when DDE ran out of memory ($04008)");
  EXPECT_EQ(DdeInitErrorText(0x400A), "DDE Error - conversation not established ($0400A)");
  EXPECT_EQ(DdeInitErrorText(0x4009), "An error returned from DDE  ($04009)");
}

}  // namespace
