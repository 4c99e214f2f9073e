// Replace-all in one pass of Horspool's search, with case folding through a table.
#include "track/faststrings.h"

#include <array>
#include <cstdint>

#include "track/case_fold.h"

namespace replace_detail {

std::size_t InitialCapacity(std::size_t source, std::size_t find, std::size_t replacement) {
  // Room for the worst case, every position a match, when the text can only grow.
  std::size_t size = replacement > find ? source * replacement / find : source;
  if (size == 0) size = (3 * (source + replacement) + 1) / 2;
  return size;
}

std::size_t Grown(std::size_t capacity) { return (3 * capacity + 1) / 2; }

}  // namespace replace_detail

namespace {

class Searcher {
 public:
  Searcher(std::string_view find, bool caseSensitive) : fold_(caseSensitive ? nullptr : CaseFoldTable()) {
    const std::size_t f = find.size();
    skip_.fill(static_cast<std::uint32_t>(f));
    pattern_.resize(f);
    for (std::size_t i = 0; i < f; ++i) pattern_[i] = static_cast<char>(Fold(find[i]));
    for (std::size_t i = 0; i + 1 < f; ++i) skip_[Fold(find[i])] = static_cast<std::uint32_t>(f - 1 - i);
  }

  // Position of the first match at or after from, or npos.
  std::size_t Find(std::string_view text, std::size_t from) const {
    const std::size_t f = pattern_.size();
    const std::size_t last = f - 1;
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* p = reinterpret_cast<const unsigned char*>(pattern_.data());
    std::size_t pos = from;
    while (text.size() - pos >= f) {
      const unsigned char tail = Fold(s[pos + last]);
      if (tail == p[last]) {
        std::size_t j = last;
        while (j > 0 && Fold(s[pos + j - 1]) == p[j - 1]) --j;
        if (j == 0) return pos;
      }
      pos += skip_[tail];
      if (pos > text.size()) break;
    }
    return std::string_view::npos;
  }

 private:
  unsigned char Fold(char c) const { return Fold(static_cast<unsigned char>(c)); }
  unsigned char Fold(unsigned char c) const { return fold_ ? fold_[c] : c; }

  const unsigned char* fold_;
  std::string pattern_;
  std::array<std::uint32_t, 256> skip_;
};

// Appends into a buffer sized by the rule above; the string's own growth never decides.
class ResultBuffer {
 public:
  explicit ResultBuffer(std::size_t capacity) : capacity_(capacity) { out_.reserve(capacity); }
  void Append(const char* data, std::size_t size) {
    const std::size_t need = out_.size() + size;
    if (need > capacity_) {
      while (capacity_ < need) capacity_ = replace_detail::Grown(capacity_);
      out_.reserve(capacity_);
    }
    out_.append(data, size);
  }
  std::string Take() { return std::move(out_); }

 private:
  std::string out_;
  std::size_t capacity_;
};

}  // namespace

std::string ReplaceAll(std::string_view source, std::string_view find, std::string_view replacement,
                       bool caseSensitive) {
  if (source.empty() || find.empty()) return std::string(source);
  const Searcher searcher(find, caseSensitive);
  ResultBuffer result(replace_detail::InitialCapacity(source.size(), find.size(), replacement.size()));
  std::size_t pos = 0;
  while (source.size() - pos >= find.size()) {
    const std::size_t match = searcher.Find(source, pos);
    if (match == std::string_view::npos) break;
    result.Append(source.data() + pos, match - pos);
    result.Append(replacement.data(), replacement.size());
    pos = match + find.size();
  }
  result.Append(source.data() + pos, source.size() - pos);
  return result.Take();
}

std::size_t FindText(std::string_view source, std::string_view find, std::size_t from, bool caseSensitive) {
  if (find.empty() || from > source.size()) return std::string_view::npos;
  return Searcher(find, caseSensitive).Find(source, from);
}
