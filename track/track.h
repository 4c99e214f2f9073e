#pragma once
// The track as it travels between the shell and the publishers, and where its tags come from.
#include <string>

struct TTrackMetaData {
  // The playlist entry's file name exactly as the player reported it; may be empty.
  std::string FileName;
};

// Answers a tag of a file the way the player does: the value, or empty when it has none.
class TagSource {
 public:
  virtual ~TagSource() = default;
  virtual std::string Tag(const std::string& fileName, const std::string& name) = 0;
};
