// Name tokens and literal strings as the scanner reads them from raw bytes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scanner/scan.h"

namespace {

using quorvel_scan::parser::NameScanner;
using quorvel_scan::parser::read_following_string;

std::span<const std::uint8_t> bytes_of(const std::string& s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

struct Tok {
  std::string text;
  std::size_t start;
  std::size_t end;
  bool operator==(const Tok&) const = default;
};

void PrintTo(const Tok& t, std::ostream* os) {
  *os << "{\"" << testing::PrintToString(t.text) << "\", " << t.start << ", " << t.end << "}";
}

std::vector<Tok> names_of(const std::string& s) {
  std::vector<Tok> out;
  NameScanner scanner(bytes_of(s));
  while (auto n = scanner.next()) out.push_back({n->text, n->start, n->end});
  EXPECT_FALSE(scanner.next()) << "the end stays the end";
  return out;
}

const std::string kFffd = "\xEF\xBF\xBD";

TEST(NameScanner, EveryDelimiterEndsANameAndNothingElseDoes) {
  const std::string delimiters("\0\t\n\f\r %()/<>[]{}", 16);
  for (int b = 0; b < 256; ++b) {
    const char c = static_cast<char>(b);
    const std::string input = std::string("/AB") + c + "C";
    const bool is_delim = delimiters.find(c) != std::string::npos;
    const auto toks = names_of(input);
    ASSERT_FALSE(toks.empty());
    SCOPED_TRACE("byte " + std::to_string(b));
    EXPECT_EQ(quorvel_scan::parser::is_delimiter(static_cast<std::uint8_t>(b)), is_delim);
    if (is_delim) {
      EXPECT_EQ(toks[0].text, "AB");
      EXPECT_EQ(toks[0].end, 3u);
    } else {
      EXPECT_EQ(toks[0].end, 5u);
      EXPECT_EQ(toks.size(), 1u);
    }
  }
}

TEST(NameScanner, Tokens) {
  const struct {
    std::string input;
    std::vector<Tok> expected;
  } cases[] = {
      {"", {}},
      {"no names here", {}},
      {"/", {{"", 0, 1}}},
      {"/ /(", {{"", 0, 1}, {"", 2, 3}}},
      {"/A/B", {{"A", 0, 2}, {"B", 2, 4}}},
      {"/JS/JS", {{"JS", 0, 3}, {"JS", 3, 6}}},
      {"x /Type /Page>>", {{"Type", 2, 7}, {"Page", 8, 13}}},
      {"/JS\x0B", {{"JS\x0B", 0, 4}}},   // vertical tab is no delimiter
      {"/A\x01\x7F", {{"A\x01\x7F", 0, 4}}},
      // #xx: two hex digits, either case, inside the input.
      {"/Java#53cript", {{"JavaScript", 0, 13}}},
      {"/#4A#53", {{"JS", 0, 7}}},
      {"/#4a#5a", {{"JZ", 0, 7}}},
      {"/A#2FB", {{"A/B", 0, 6}}},        // a decoded delimiter does not end the name
      {"/A#20B", {{"A B", 0, 6}}},
      {"/A#00B", {{std::string("A\0B", 3), 0, 6}}},
      {"/JS#4", {{"JS#4", 0, 5}}},        // too short at the end of the input
      {"/JS#", {{"JS#", 0, 4}}},
      {"/A#G1", {{"A#G1", 0, 5}}},
      {"/A#1G", {{"A#1G", 0, 5}}},
      {"/A##41", {{"A#A", 0, 6}}},
      {"/A#4/", {{"A#4", 0, 4}, {"", 4, 5}}},
      // UTF-8 of the decoded bytes, one U+FFFD per maximal ill-formed subpart.
      {"/\xC3\xA9", {{"\xC3\xA9", 0, 3}}},
      {"/#C3#A9", {{"\xC3\xA9", 0, 7}}},
      {"/\xF0\x9F\x98\x80", {{"\xF0\x9F\x98\x80", 0, 5}}},
      {"/\x80", {{kFffd, 0, 2}}},
      {"/\xC0\xAF", {{kFffd + kFffd, 0, 3}}},                 // overlong lead
      {"/\xC1\xBF", {{kFffd + kFffd, 0, 3}}},
      {"/\xE0\x80\x80", {{kFffd + kFffd + kFffd, 0, 4}}},     // E0 needs A0..BF next
      {"/\xE0\xA0", {{kFffd, 0, 3}}},                         // truncated: one subpart
      {"/\xE1\x80" "A", {{kFffd + "A", 0, 4}}},
      {"/\xED\xA0\x80", {{kFffd + kFffd + kFffd, 0, 4}}},     // surrogate
      {"/\xED\x9F\xBF", {{"\xED\x9F\xBF", 0, 4}}},
      {"/\xF0\x80\x80\x80", {{kFffd + kFffd + kFffd + kFffd, 0, 5}}},
      {"/\xF0\x90\x80", {{kFffd, 0, 4}}},
      {"/\xF4\x90\x80\x80", {{kFffd + kFffd + kFffd + kFffd, 0, 5}}},  // above U+10FFFF
      {"/\xF4\x8F\xBF\xBF", {{"\xF4\x8F\xBF\xBF", 0, 5}}},
      {"/\xF5\xFF", {{kFffd + kFffd, 0, 3}}},
      {"/\xF1\x80\x80\xE1\x80\xC2", {{kFffd + kFffd + kFffd, 0, 7}}},
      {"/\xC2\x41\x80", {{kFffd + "A" + kFffd, 0, 4}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.input));
    EXPECT_EQ(names_of(c.input), c.expected);
  }
}

TEST(NameScanner, RawFastPathAgreesWithDecodedNames) {
  // The scan matches rules on the #xx-decoded bytes; a name longer than the buffer must be
  // flagged, not cut to a prefix that could match.
  const std::string input = "/JavaScriptJavaScriptX /Java#53cript /AB#43DEFGHIJKLMNOP /ABCDEFGHIJKLMNOPQ";
  NameScanner raw(bytes_of(input));
  NameScanner full(bytes_of(input));
  NameScanner::RawName r;
  int count = 0;
  while (raw.next_raw(r)) {
    const auto n = full.next();
    ASSERT_TRUE(n);
    EXPECT_EQ(r.start, n->start);
    EXPECT_EQ(r.end, n->end);
    if (n->text.size() <= NameScanner::raw_cap) {
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.bytes), r.size), n->text);
    } else {
      EXPECT_EQ(r.size, NameScanner::raw_cap + 1);
    }
    ++count;
  }
  EXPECT_FALSE(full.next());
  EXPECT_EQ(count, 4);
}

TEST(ReadFollowingString, Cases) {
  const struct {
    std::string input;
    std::size_t pos;
    std::optional<std::string> expected;
  } cases[] = {
      {"(abc)", 0, "abc"},
      {std::string(" \t\r\n\f\0(abc)", 12), 0, "abc"},
      {"x(abc)", 1, "abc"},
      {"(abc)", 5, std::nullopt},    // at the end
      {"(abc)", 99, std::nullopt},   // past the end
      {"   ", 0, std::nullopt},      // input ends while skipping white space
      {"\x0B(abc)", 0, std::nullopt},  // vertical tab is not PDF white space
      {"<6A61>", 0, std::nullopt},
      {"12 0 R", 0, std::nullopt},
      {"/Name", 0, std::nullopt},
      {"()", 0, ""},
      {"(", 0, ""},                  // a '(' as the last byte
      {"(a(b)c)d)", 0, "a(b)c"},     // nesting keeps inner parentheses
      {"(a(b(c", 0, "a(b(c"},        // unterminated: runs to the end
      {"(abc", 0, "abc"},
      {"(a\\(b)c)", 0, "a(b"},       // an escaped '(' does not nest
      {"(a\\)b)", 0, "a)b"},
      {"(a\\\\)b)", 0, "a\\"},
      {"(\\n\\t\\053)", 0, "nt053"},  // no translation of escapes
      {"(ab\\", 0, "ab"},            // trailing backslash is dropped
      {"(a\\\nb)", 0, "a\nb"},
      {"(\xC3\xA9\x80)", 0, "\xC3\xA9" + kFffd},
      {"(\\\xC3\xA9)", 0, "\xC3\xA9"},  // escape keeps the byte; decoding sees the pair
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.input) + " at " + std::to_string(c.pos));
    EXPECT_EQ(read_following_string(bytes_of(c.input), c.pos), c.expected);
  }
}

TEST(ReadFollowingString, CapCutsBetweenCharacters) {
  const std::string e_acute = "\xC3\xA9";
  std::string body;
  for (int i = 0; i < 10; ++i) body += e_acute;
  const std::string input = "(" + body + ")";
  EXPECT_EQ(read_following_string(bytes_of(input), 0, 5), e_acute + e_acute);
  EXPECT_EQ(read_following_string(bytes_of(input), 0, 6), e_acute + e_acute + e_acute);
  EXPECT_EQ(read_following_string(bytes_of(input), 0, 1), "");
  // The default cap bounds what an unterminated string gives.
  const std::string big = "(" + std::string(100000, 'x');
  EXPECT_EQ(read_following_string(bytes_of(big), 0)->size(), quorvel_scan::kDetailCap);
}

}  // namespace
