// The one wrapper around PCRE2 that searches and extraction share. Patterns use the ECMAScript
// grammar. By default they match bytes, and \w, \b and case folding know ASCII only; a Unicode
// pattern reads UTF-8 text as characters: case folding, \w, \b and \p{..} follow Unicode, and
// invalid sequences in the text never match anything but do not stop the search.
#pragma once

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>

struct pcre2_real_code_8;
struct pcre2_real_match_context_8;

namespace quorvel::regex {

// One capture group of a match; `matched` is false for a group that took no part in it.
struct Group {
  size_t offset = 0;
  size_t length = 0;
  bool matched = false;
};

class Pattern {
 public:
  Pattern() = default;
  enum class Text { Bytes, Unicode };
  // A pattern that fails to compile gives an invalid object; nothing is thrown.
  explicit Pattern(std::string_view source, bool caseless = false, Text text = Text::Bytes);
  Pattern(Pattern&& other) noexcept;
  Pattern& operator=(Pattern&& other) noexcept;
  Pattern(const Pattern&) = delete;
  Pattern& operator=(const Pattern&) = delete;
  ~Pattern();

  bool valid() const { return code_ != nullptr; }

  // Visits the matches left to right with the iterator rules of ECMAScript: the search resumes
  // at the end of a match, and after an empty one it first tries a non-empty match anchored at
  // the same place before moving one byte on. `groups[0]` is the whole match. `visit` returns
  // false to stop early. The result is false when the pattern is invalid or matching failed
  // (a match or depth limit was hit, or the JIT stack ran out); matches visited before that were
  // visited all the same.
  // Safe to call from several threads at once on one object.
  bool for_each_match(std::string_view text,
                      const std::function<bool(std::span<const Group> groups)>& visit) const;

 private:
  pcre2_real_code_8* code_ = nullptr;
  pcre2_real_match_context_8* context_ = nullptr;
  bool unicode_ = false;
};

// A pattern source that matches `text` as it stands, read as bytes or as Unicode.
std::string literal(std::string_view text);

}  // namespace quorvel::regex
