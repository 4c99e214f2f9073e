#pragma once
// The mIRC command for a track and its delivery over one short DDE conversation per call.
#include <memory>
#include <string>

#include "track/track.h"

// The tags of another source with every control character (below 32) made a blank: a value can
// then never end the command's line and start one of its own.
class CommandSafeTags final : public TagSource {
 public:
  explicit CommandSafeTags(TagSource& inner) : inner_(inner) {}
  std::string Tag(const std::string& fileName, const std::string& name) override;
  bool Logged() const override { return inner_.Logged(); }

 private:
  TagSource& inner_;
};

// The command template expanded for the track. Line breaks of the template stay; those of the
// values, and of a file name that stands in for them, become blanks.
std::string MircCommand(TagSource& tags, const TTrackMetaData& track, const std::string& commandTemplate);

// One conversation with the service on the topic "COMMAND"; ending it (destruction) disconnects.
class MircConversation {
 public:
  virtual ~MircConversation() = default;
  virtual bool Connected() const = 0;
  // Sends the UTF-8 text, in the ANSI code page, and its zero byte to the item "COMMAND" without
  // waiting for the answer.
  virtual void Poke(const std::string& text) = 0;
};

class MircLink {
 public:
  virtual ~MircLink() = default;
  // Opens a conversation with service, making one attempt to start the program when none answers.
  // Never null; Connected() tells whether anyone answered.
  virtual std::unique_ptr<MircConversation> Connect(const std::string& service) = 0;
};

// Connects, expands the template (whether or not anyone answered), pokes it once, disconnects.
void mIRCSendCommand(MircLink& link, TagSource& tags, const TTrackMetaData& track, const std::string& service,
                     const std::string& commandTemplate);

// The message for a failed DDE initialisation with error code.
std::string DdeInitErrorText(unsigned code);
