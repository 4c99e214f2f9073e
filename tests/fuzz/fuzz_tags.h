#pragma once
// A tag source for fuzz targets: each tag name gets a value from the input the first time it is
// asked for, and the same value after, as the player would answer. With cStrings, a value ends at
// its first zero byte, as the player's answers always do.
#include <fuzzer/FuzzedDataProvider.h>

#include <map>
#include <string>
#include <vector>

#include "track/track.h"

class FuzzTags final : public TagSource {
 public:
  explicit FuzzTags(FuzzedDataProvider& input, bool cStrings = false) : input_(input), cStrings_(cStrings) {}
  std::string Tag(const std::string&, const std::string& name) override {
    const auto known = values_.find(name);
    if (known != values_.end()) return known->second;
    // Empty often enough that the file-name fall-back is reached.
    std::string value = input_.ConsumeBool() ? std::string() : input_.ConsumeRandomLengthString(40);
    if (cStrings_) value = value.c_str();
    return values_[name] = value;
  }
  std::vector<std::string> Values() const {
    std::vector<std::string> values;
    for (const auto& [name, value] : values_) values.push_back(value);
    return values;
  }

 private:
  FuzzedDataProvider& input_;
  bool cStrings_;
  std::map<std::string, std::string> values_;
};
