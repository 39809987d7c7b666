#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/text_doc.h"
#include "core/search.h"

using namespace quorvel;
using namespace quorvel::search;

using quorvel::test::TextDoc;

namespace {

// A run whose characters sit side by side, 10 points wide each, one box per UTF-8 character.
TextRun laid_out(const std::string& text, double x = 0, double y = 0) {
  TextRun run;
  run.text = text;
  double left = x;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    run.chars.push_back(CharBox{i, left, y + 12, left + 10, y});
    left += 10;
  }
  run.left = x;
  run.right = left;
  run.top = y + 12;
  run.bottom = y;
  return run;
}

using Hits = std::vector<std::pair<size_t, size_t>>;

Hits hits_of(const std::vector<Match>& matches) {
  Hits out;
  for (const Match& m : matches) out.emplace_back(m.offset, m.length);
  return out;
}

struct FindCase {
  const char* text;
  const char* needle;
  Options options;
  Hits expected;
};

constexpr Options kPlain{true, false, false};
constexpr Options kCaseless{false, false, false};
constexpr Options kWord{true, true, false};
constexpr Options kRegex{true, false, true};
constexpr Options kRegexCaseless{false, false, true};
constexpr Options kRegexWord{true, true, true};

const FindCase kFindCases[] = {
    // Hits never overlap: the search resumes after a hit.
    {"aaaa", "aa", kPlain, {{0, 2}, {2, 2}}},
    {"aaaa", "aa", kRegex, {{0, 2}, {2, 2}}},
    // Case folding is ASCII only, in both modes.
    {"say hello", "HELLO", kCaseless, {{4, 5}}},
    {"привет", "ПРИВЕТ", kCaseless, {}},
    {"say hello", "HELLO", kRegexCaseless, {{4, 5}}},
    {"привет", "ПРИВЕТ", kRegexCaseless, {}},
    {"Hello", "hello", kPlain, {}},
    // Whole words in plain mode: Cyrillic bytes are not word bytes.
    {"a cat.", "cat", kWord, {{2, 3}}},
    {"кот cat", "cat", kWord, {{7, 3}}},
    {"cats", "cat", kWord, {}},
    {"cat_1", "cat", kWord, {}},
    {"привет", "при", kWord, {{0, 6}}},
    {"cat cats cat", "cat", kWord, {{0, 3}, {9, 3}}},
    // Whole words in pattern mode: \b sits only next to an ASCII word character.
    {"при этом", "при", kRegexWord, {}},
    {"xприy", "при", kRegexWord, {{1, 6}}},
    {"a cat.", "cat", kRegexWord, {{2, 3}}},
    {"cats", "cat", kRegexWord, {}},
    // The alternation stays inside the boundaries.
    {"ab a b", "a|b", kRegexWord, {{3, 1}, {5, 1}}},
    // An invalid pattern must not be made valid by the wrapping.
    {"a)|(b a b", "a)|(b", kRegexWord, {}},
    {"((", "(", kRegex, {}},
    // Empty and over-long needles.
    {"abc", "", kPlain, {}},
    {"abc", "", kRegex, {}},
    {"ab", "abc", kPlain, {}},
    // Empty matches are never reported.
    {"baa", "a*", kRegex, {{1, 2}}},
    {"abc", "x*", kRegex, {}},
    // ECMAScript rather than PCRE defaults: '.' stops at CR and LF, '$' only at the very end, an
    // unset group's back reference matches empty, \u takes four hex digits.
    {"ab\r\ncd", ".+", kRegex, {{0, 2}, {4, 2}}},
    {"a\n", "a$", kRegex, {}},
    {"xb", "(a)?\\1b", kRegex, {{1, 1}}},
    {"xAx", "\\u0041", kRegex, {{1, 1}}},
    // \w is ASCII only.
    {"abc привет d", "\\w+", kRegex, {{0, 3}, {17, 1}}},
};

TEST(FindAll, Table) {
  for (const FindCase& c : kFindCases) {
    SCOPED_TRACE(std::string("text '") + c.text + "' needle '" + c.needle + "' cs=" +
                 std::to_string(c.options.case_sensitive) + " ww=" + std::to_string(c.options.whole_word) +
                 " re=" + std::to_string(c.options.regex));
    EXPECT_EQ(hits_of(find_all(c.text, c.needle, c.options)), c.expected);
  }
}

TEST(FindAll, HostileInputEndsWithoutCrash) {
  const std::string megabyte(1 << 20, 'x');
  EXPECT_EQ(hits_of(find_all(megabyte, ".*", kRegex)), (Hits{{0, megabyte.size()}}));
  // Exponential backtracking runs into the match limit; that counts as a pattern error.
  const std::string trap = std::string(100000, 'a') + "b!";
  EXPECT_TRUE(find_all(trap, "(a|a)+!", kRegex).empty());
  // A limit hit is an error for the whole text: the hit before it is dropped as well.
  EXPECT_TRUE(find_all("aa! " + trap, "(a|a)+!", kRegex).empty());
  // The same pattern still matches where it can without backtracking.
  EXPECT_EQ(hits_of(find_all("aaaa!", "(a|a)+!", kRegex)), (Hits{{0, 5}}));
}

TEST(SearchDocument, BoxesAndCharacterLists) {
  TextRun boxed = laid_out("find me", 100, 500);
  TextRun bare;  // the engine's fallback run: the whole page text, no characters
  bare.text = "me too";
  bare.left = 0, bare.top = 792, bare.right = 612, bare.bottom = 0;
  TextRun partial = laid_out("xx me", 0, 0);
  partial.chars.resize(2);  // no character inside the hit
  TextDoc doc({TextPage{{boxed, bare, partial}}});

  const auto hits = search_document(doc, "me", kPlain, 100);
  ASSERT_EQ(hits.size(), 3u);
  EXPECT_EQ(hits[0].run, 0u);
  EXPECT_EQ(hits[0].offset, 5u);
  EXPECT_EQ(hits[0].length, 2u);
  EXPECT_EQ(hits[0].text, "find me");
  EXPECT_DOUBLE_EQ(hits[0].left, 150);
  EXPECT_DOUBLE_EQ(hits[0].right, 170);
  EXPECT_DOUBLE_EQ(hits[0].top, 512);
  EXPECT_DOUBLE_EQ(hits[0].bottom, 500);
  EXPECT_TRUE(hits[0].chars.empty());

  EXPECT_EQ(hits[1].run, 1u);
  EXPECT_DOUBLE_EQ(hits[1].left, 0);
  EXPECT_DOUBLE_EQ(hits[1].top, 792);
  EXPECT_DOUBLE_EQ(hits[1].right, 612);
  EXPECT_DOUBLE_EQ(hits[1].bottom, 0);
  EXPECT_TRUE(hits[1].chars.empty());

  EXPECT_EQ(hits[2].run, 2u);
  EXPECT_DOUBLE_EQ(hits[2].right, partial.right);
  ASSERT_EQ(hits[2].chars.size(), 2u);
  EXPECT_EQ(hits[2].chars[1].offset, 1u);
}

TEST(SearchDocument, UnionOfUnorderedCharacterBoxes) {
  TextRun run;
  run.text = "ab";
  run.left = 0, run.top = 100, run.right = 100, run.bottom = 0;
  run.chars = {CharBox{0, 10, 30, 20, 5}, CharBox{1, 5, 40, 15, 8}};
  TextDoc doc({TextPage{{run}}});
  const auto hits = search_document(doc, "ab", kPlain, 10);
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_DOUBLE_EQ(hits[0].left, 5);
  EXPECT_DOUBLE_EQ(hits[0].top, 40);
  EXPECT_DOUBLE_EQ(hits[0].right, 20);
  EXPECT_DOUBLE_EQ(hits[0].bottom, 5);
}

TEST(SearchDocument, OrderLimitAndEarlyEnd) {
  TextDoc doc({TextPage{{laid_out("nothing here")}}, TextPage{},
               TextPage{{laid_out("one cat"), laid_out("cat cat")}}, TextPage{{laid_out("last cat")}}});
  auto all = search_document(doc, "cat", kPlain, 5000);
  ASSERT_EQ(all.size(), 4u);
  std::vector<std::tuple<int, size_t, size_t>> where;
  for (const auto& m : all) where.emplace_back(m.page, m.run, m.offset);
  EXPECT_EQ(where, (std::vector<std::tuple<int, size_t, size_t>>{{2, 0, 4}, {2, 1, 0}, {2, 1, 4}, {3, 0, 5}}));

  doc.reads = 0;
  auto first = search_document(doc, "cat", kPlain, 1);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].page, 2);
  EXPECT_EQ(first[0].offset, 4u);
  EXPECT_EQ(doc.reads, 3);  // the last page is never read

  doc.reads = 0;
  EXPECT_TRUE(search_document(doc, "", kPlain, 10).empty());
  EXPECT_TRUE(search_document(doc, "cat", kPlain, 0).empty());
  EXPECT_EQ(doc.reads, 0);
}

TEST(SearchDocument, InvalidPatternAndEmptyDocument) {
  TextDoc doc({TextPage{{laid_out("(a) (b)")}}});
  EXPECT_TRUE(search_document(doc, "(", kRegex, 10).empty());
  EXPECT_TRUE(search_document(doc, "a)|(b", kRegexWord, 10).empty());
  EXPECT_EQ(search_document(doc, "\\(\\w\\)", kRegex, 10).size(), 2u);
  TextDoc empty({});
  EXPECT_TRUE(search_document(empty, "a", kPlain, 10).empty());
}

}  // namespace
