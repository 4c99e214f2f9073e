// ReplaceAll against a plain left-to-right search written from its description, over any texts,
// any find text and both letter-case modes.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <string>

#include "track/case_fold.h"
#include "track/faststrings.h"

namespace {

std::string Reference(const std::string& source, const std::string& find, const std::string& replacement,
                      bool caseSensitive) {
  if (source.empty() || find.empty()) return source;
  const unsigned char* fold = CaseFoldTable();
  auto same = [&](unsigned char a, unsigned char b) { return caseSensitive ? a == b : fold[a] == fold[b]; };
  std::string result;
  std::size_t i = 0;
  while (i + find.size() <= source.size()) {
    std::size_t k = 0;
    while (k < find.size() && same(source[i + k], find[k])) ++k;
    if (k == find.size()) {
      result += replacement;
      i += find.size();
    } else {
      result += source[i++];
    }
  }
  return result + source.substr(i);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const bool caseSensitive = input.ConsumeBool();
  const std::string find = input.ConsumeRandomLengthString(16);
  const std::string replacement = input.ConsumeRandomLengthString(16);
  const std::string source = input.ConsumeRemainingBytesAsString();
  if (ReplaceAll(source, find, replacement, caseSensitive) !=
      Reference(source, find, replacement, caseSensitive))
    std::abort();
  return 0;
}
