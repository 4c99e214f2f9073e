#pragma once
// A tag source answering from a table, keeping every question asked.
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "track/track.h"

class TagTable : public TagSource {
 public:
  std::map<std::pair<std::string, std::string>, std::string> values;  // (file, name) -> value
  std::vector<std::string> asked;                                     // tag names, in order

  void Set(const std::string& file, const std::string& name, const std::string& value) {
    values[{file, name}] = value;
  }
  std::string Tag(const std::string& fileName, const std::string& name) override {
    asked.push_back(name);
    auto it = values.find({fileName, name});
    return it == values.end() ? std::string() : it->second;
  }
};
