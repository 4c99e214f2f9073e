// The mIRC command for any template, file name and tag values: no byte below 32 from a value, or
// from a file name that stands in for them, reaches the command; only the template's own do.
#include "publish/mirc.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_tags.h"

namespace {

std::string Blanked(std::string text) {
  std::replace_if(
      text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 32; }, ' ');
  return text;
}

// The same answers with their control bytes already made blanks.
class BlankedTags final : public TagSource {
 public:
  explicit BlankedTags(TagSource& inner) : inner_(inner) {}
  std::string Tag(const std::string& fileName, const std::string& name) override {
    return Blanked(inner_.Tag(fileName, name));
  }

 private:
  TagSource& inner_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string fileName = input.ConsumeRandomLengthString(40);
  const std::string commandTemplate = input.ConsumeRandomLengthString(80);
  FuzzTags tags(input);
  const std::string command = MircCommand(tags, TTrackMetaData{fileName}, commandTemplate);
  // Nothing of the command may depend on the control bytes of the values...
  BlankedTags blanked(tags);
  if (command != MircCommand(blanked, TTrackMetaData{fileName}, commandTemplate)) std::abort();
  // ...and a template without control bytes gives a command without any, the file name's included.
  if (Blanked(commandTemplate) == commandTemplate && Blanked(command) != command) std::abort();
  return 0;
}
