#pragma once
// The track as it travels between the shell and the publishers, and where its tags come from.
#include <cstdint>
#include <map>
#include <string>
#include <utility>

struct TTrackMetaData {
  TTrackMetaData() = default;
  // A track as the player names it, before it is played.
  TTrackMetaData(std::string fileName) : FileName(std::move(fileName)) {}

  // The playlist entry's file name exactly as the player reported it; may be empty.
  std::string FileName;
  // This play of the track, fixed when it starts: the %playid% and %listened_at% of every
  // template, so that a history destination can tell a play sent twice from two plays.
  std::string PlayId;
  std::int64_t ListenedAt = 0;  // Unix seconds
};

// Answers a tag of a file the way the player does: the value, or empty when it has none.
class TagSource {
 public:
  virtual ~TagSource() = default;
  virtual std::string Tag(const std::string& fileName, const std::string& name) = 0;
  // Whether a template's expansion from these tags is logged: not for the dialog's previews,
  // which expand every template at each keystroke.
  virtual bool Logged() const { return true; }
};

// Asks its source each tag of a file once: for the destinations of one notice that use the same
// tags, so the player answers each request once.
class TagMemo final : public TagSource {
 public:
  explicit TagMemo(TagSource& source, bool logged = true) : source_(source), logged_(logged) {}
  std::string Tag(const std::string& fileName, const std::string& name) override {
    const auto key = std::make_pair(fileName, name);
    const auto known = tags_.find(key);
    if (known != tags_.end()) return known->second;
    return tags_.emplace(key, source_.Tag(fileName, name)).first->second;
  }
  bool Logged() const override { return logged_; }

 private:
  TagSource& source_;
  bool logged_;
  std::map<std::pair<std::string, std::string>, std::string> tags_;
};
