// CountFields and GetField against references written from their steps, for any separator and
// any index.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "track/globals_misc.h"

namespace {

int ReferenceCount(const std::string& text, char separator) {
  int fields = 0;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (text[i] != separator && (i == 0 || text[i - 1] == separator)) ++fields;
  return fields;
}

std::string ReferenceField(const std::string& text, char separator, int index) {
  std::vector<std::string> pieces(1);
  for (char c : text) {
    if (c == separator)
      pieces.emplace_back();
    else
      pieces.back() += c;
  }
  if (pieces.size() == 1) return text;
  int number = 0;
  for (std::size_t i = 0; i + 1 < pieces.size(); ++i)
    if (!pieces[i].empty() && ++number == index) return pieces[i];
  return pieces.back();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const char separator = input.ConsumeIntegral<char>();
  const int index = input.ConsumeIntegral<int>();
  const std::string text = input.ConsumeRemainingBytesAsString();
  if (CountFields(text, separator) != ReferenceCount(text, separator)) std::abort();
  if (GetField(text, separator, index) != ReferenceField(text, separator, index)) std::abort();
  return 0;
}
