#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/regex.h"

namespace {

using quorvel::regex::Pattern;

std::vector<std::string> matches(const Pattern& p, const std::string& text) {
  std::vector<std::string> out;
  EXPECT_TRUE(p.for_each_match(text, [&](std::span<const quorvel::regex::Group> g) {
    out.push_back(text.substr(g[0].offset, g[0].length));
    return true;
  }));
  return out;
}

TEST(RegexUnicode, CaseAndWordsFollowUnicodeOnlyWhenAsked) {
  struct Case {
    const char* pattern;
    bool caseless;
    const char* text;
    std::vector<std::string> unicode, bytes;
  } cases[] = {
      {"ДОГОВОР", true, "Настоящий договор и ДОГОВОР", {"договор", "ДОГОВОР"}, {"ДОГОВОР"}},
      {"ёлка", true, "Ёлка, ёлка", {"Ёлка", "ёлка"}, {"ёлка"}},
      // A Cyrillic letter is a word character, so a word ends only where letters end; as bytes
      // no boundary is found at all.
      {"\\bдоговор\\b", false, "договора договор", {"договор"}, {}},
      {"\\w+", false, "цена 5%", {"цена", "5"}, {"5"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    EXPECT_EQ(matches(Pattern(c.pattern, c.caseless, Pattern::Text::Unicode), c.text), c.unicode);
    EXPECT_EQ(matches(Pattern(c.pattern, c.caseless), c.text), c.bytes);
  }
}

TEST(RegexUnicode, EmptyMatchesStepWholeCharactersAndBadBytesDoNotStop) {
  // An empty pattern matches between characters, never inside one.
  EXPECT_EQ(matches(Pattern("", false, Pattern::Text::Unicode), "жё").size(), 3u);
  // Invalid UTF-8 in page text is skipped over, the search goes on behind it.
  EXPECT_EQ(matches(Pattern("да", true, Pattern::Text::Unicode), "\xff\xfe ДА \xc3 да"),
            (std::vector<std::string>{"ДА", "да"}));
}

}  // namespace
