#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "common/text_doc.h"
#include "core/search.h"
#include "core/search_cache.h"

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
    // Case folding follows Unicode, in both modes.
    {"say hello", "HELLO", kCaseless, {{4, 5}}},
    {"привет", "ПРИВЕТ", kCaseless, {{0, 12}}},
    {"Ёлка, ёлка", "ёлка", kCaseless, {{0, 8}, {10, 8}}},
    {"say hello", "HELLO", kRegexCaseless, {{4, 5}}},
    {"привет", "ПРИВЕТ", kRegexCaseless, {{0, 12}}},
    {"Hello", "hello", kPlain, {}},
    {"Привет", "привет", kPlain, {}},
    // Whole words: letters of every script are word characters.
    {"a cat.", "cat", kWord, {{2, 3}}},
    {"кот cat", "cat", kWord, {{7, 3}}},
    {"cats", "cat", kWord, {}},
    {"cat_1", "cat", kWord, {}},
    {"привет", "при", kWord, {}},
    {"договора договор", "договор", kWord, {{17, 14}}},
    {"cat catы cat", "cat", kWord, {{0, 3}, {10, 3}}},
    // A plain needle that ends in punctuation is a word when no word character touches it.
    {"x c++ y c++z", "c++", kWord, {{2, 3}}},
    {"при этом", "при", kRegexWord, {{0, 6}}},
    {"xприy", "при", kRegexWord, {}},
    {"договора договор", "договор", kRegexWord, {{17, 14}}},
    {"a cat.", "cat", kRegexWord, {{2, 3}}},
    {"cats", "cat", kRegexWord, {}},
    // A plain needle is no pattern, and one that is no UTF-8 still finds its bytes.
    {"a.b a+b (a+b)", "(a+b)", kPlain, {{8, 5}}},
    {"1x5 1.5", "1.5", kPlain, {{4, 3}}},
    {"a\xff" "b", "\xff", kPlain, {{1, 1}}},
    {"a b a\tb", "a\tb", kPlain, {{4, 3}}},
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
    // \w knows every script.
    {"abc привет d", "\\w+", kRegex, {{0, 3}, {4, 12}, {17, 1}}},
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

// Kept page text gives the hits of the page read afresh: the same places, boxes to 1/100 point,
// the same fallback to the run's box and characters.
TEST(CachedPage, GivesTheHitsOfThePageReadAfresh) {
  TextRun unordered;
  unordered.text = "ab";
  unordered.left = 0, unordered.top = 100, unordered.right = 100, unordered.bottom = 0;
  unordered.chars = {CharBox{0, 10, 30, 20, 5}, CharBox{1, 5, 40, 15, 8}};
  TextRun bare;
  bare.text = "ab at the end";
  bare.left = 0, bare.top = 792, bare.right = 612, bare.bottom = 0;
  TextRun partial = laid_out("xx ab", 3.25, 17.125);
  partial.chars.resize(2);
  TextRun wide = laid_out(std::string(58, '.') + "ab", 1.5, 700.3);  // a page-wide line
  const TextPage page{{laid_out("Договор: ab", 72.4, 512.6), unordered, bare, partial, wide}};
  const CachedPage kept(page);

  for (const char* query : {"ab", "договор", "b"}) {
    SCOPED_TRACE(query);
    const Query q(query, kCaseless);
    std::vector<DocMatch> fresh, cached;
    EXPECT_FALSE(search_page(3, page, q, 100, fresh));
    EXPECT_FALSE(search_page(3, kept, q, 100, cached));
    ASSERT_EQ(cached.size(), fresh.size());
    ASSERT_FALSE(fresh.empty());
    for (size_t i = 0; i < fresh.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(std::tie(cached[i].page, cached[i].run, cached[i].offset, cached[i].length, cached[i].text),
                std::tie(fresh[i].page, fresh[i].run, fresh[i].offset, fresh[i].length, fresh[i].text));
      EXPECT_NEAR(cached[i].left, fresh[i].left, 0.01);
      EXPECT_NEAR(cached[i].top, fresh[i].top, 0.01);
      EXPECT_NEAR(cached[i].right, fresh[i].right, 0.01);
      EXPECT_NEAR(cached[i].bottom, fresh[i].bottom, 0.01);
      ASSERT_EQ(cached[i].chars.size(), fresh[i].chars.size());
      for (size_t c = 0; c < fresh[i].chars.size(); ++c) {
        EXPECT_EQ(cached[i].chars[c].offset, fresh[i].chars[c].offset);
        EXPECT_NEAR(cached[i].chars[c].left, fresh[i].chars[c].left, 0.01);
        EXPECT_NEAR(cached[i].chars[c].bottom, fresh[i].chars[c].bottom, 0.01);
      }
    }
  }
  // The limit ends the page's hits in both forms alike.
  std::vector<DocMatch> two;
  EXPECT_TRUE(search_page(0, kept, Query("ab", kCaseless), 2, two));
  EXPECT_EQ(two.size(), 2u);

  size_t chars = 0;
  for (const TextRun& r : page.runs) chars += r.chars.size();
  EXPECT_LT(kept.bytes(), chars * sizeof(CharBox) / 2 + 1024);
}

// A document that lets a test act while a page is being read, as the window's thread may.
class ReadHookDoc : public TextDoc {
 public:
  using TextDoc::TextDoc;
  std::function<void(int)> whileReading;
  TextPage extract_text(int page) const override {
    TextPage text = TextDoc::extract_text(page);
    if (whileReading) whileReading(page);
    return text;
  }
};

TEST(PageTextCache, ReadsOnceWithinItsBudgetAndForgetsEditedPages) {
  ReadHookDoc doc({TextPage{{laid_out("page one")}}, TextPage{{laid_out("page two")}},
                   TextPage{{laid_out("page three")}}});
  PageTextCache cache(1 << 20);
  for (int round = 0; round < 2; ++round)
    for (int p = 0; p < 3; ++p) EXPECT_EQ(cache.read(doc, p)->text(0), doc.extract_text(p).runs[0].text);
  doc.reads = 0;
  for (int p = 0; p < 3; ++p) cache.read(doc, p);
  EXPECT_EQ(doc.reads, 0);

  cache.drop(1);  // its content changed: only that page is read again
  EXPECT_EQ(cache.pages(), 2u);
  cache.read(doc, 0);
  cache.read(doc, 1);
  cache.read(doc, 1);
  EXPECT_EQ(doc.reads, 1);
  cache.clear();
  EXPECT_EQ(cache.bytes(), 0u);
  cache.read(doc, 2);
  EXPECT_EQ(doc.reads, 2);

  // Room for one page: the first one read stays, later ones are read every time but still given.
  PageTextCache small(cache.bytes() + 16);
  doc.reads = 0;
  for (int round = 0; round < 2; ++round)
    for (int p : {2, 0}) EXPECT_EQ(small.read(doc, p)->run_count(), 1u);
  EXPECT_EQ(doc.reads, 3);
  EXPECT_EQ(small.pages(), 1u);
  EXPECT_LE(small.bytes(), cache.bytes() + 16);
}

TEST(PageTextCache, CachesSharingABudgetGiveBackWhatTheyHeld) {
  ReadHookDoc doc({TextPage{{laid_out("one page of text")}}});
  const size_t page = CachedPage(doc.extract_text(0)).bytes();
  auto budget = std::make_shared<TextBudget>(page + page / 2);
  auto first = std::make_unique<PageTextCache>(budget);
  PageTextCache second(budget);
  first->read(doc, 0);
  second.read(doc, 0);
  EXPECT_EQ(second.pages(), 0u);
  EXPECT_EQ(budget->used(), page);
  first.reset();
  EXPECT_EQ(budget->used(), 0u);
  second.read(doc, 0);
  EXPECT_EQ(second.pages(), 1u);
  second.drop(0);
  EXPECT_EQ(budget->used(), 0u);
}

TEST(PageTextCache, APageReadAcrossAnEditIsNotKept) {
  ReadHookDoc doc({TextPage{{laid_out("before")}}});
  PageTextCache cache(1 << 20);
  doc.whileReading = [&](int page) { cache.drop(page); };
  cache.read(doc, 0);
  doc.whileReading = nullptr;
  doc.reads = 0;
  cache.read(doc, 0);
  cache.read(doc, 0);
  EXPECT_EQ(doc.reads, 1);
}

}  // namespace
