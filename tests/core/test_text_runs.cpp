// Grouping of characters into runs, on exact numbers.
#include <gtest/gtest.h>

#include <random>

#include "core/text_runs.h"

using quorvel::TextRun;
using quorvel::textruns::Char;
using quorvel::textruns::group;
using quorvel::textruns::Rect;

namespace {

// A 1 x 1 character centred on (cx, cy).
Char at(double cx, double cy, char32_t code = 'x') { return {cx - 0.5, cy + 0.5, cx + 0.5, cy - 0.5, code}; }

TEST(TextRuns, CentreWithinOnePointJoins) {
  const Rect r{100, 20, 200, 10};
  const struct {
    const char* name;
    double cx, cy;
    bool joins;
  } table[] = {
      {"inside", 150, 15, true},
      {"right +1.0", 201.0, 15, true},
      {"right +1.01", 201.01, 15, false},
      {"left -1.0", 99.0, 15, true},
      {"left -1.01", 98.99, 15, false},
      {"top +1.0", 150, 21.0, true},
      {"top +1.01", 150, 21.01, false},
      {"bottom -1.0", 150, 9.0, true},
      {"bottom -1.01", 150, 8.99, false},
      {"corner +1.0 both", 201.0, 21.0, true},
  };
  for (const auto& row : table) {
    const std::vector<TextRun> runs = group({r}, {at(row.cx, row.cy)});
    ASSERT_EQ(runs.size(), row.joins ? 1u : 0u) << row.name;
    if (row.joins) {
      EXPECT_EQ(runs[0].text, "x") << row.name;
      ASSERT_EQ(runs[0].chars.size(), 1u) << row.name;
      EXPECT_DOUBLE_EQ(runs[0].chars[0].left, row.cx - 0.5) << row.name;
      EXPECT_DOUBLE_EQ(runs[0].left, 100) << row.name;
      EXPECT_DOUBLE_EQ(runs[0].top, 20) << row.name;
    }
  }
}

TEST(TextRuns, OverlapGoesToFirstRectangleAndEmptyRunsDrop) {
  const std::vector<Rect> rects = {{0, 10, 50, 0}, {40, 10, 100, 0}, {200, 10, 300, 0}};
  const std::vector<TextRun> runs =
      group(rects, {at(45, 5, 'a'), at(80, 5, 'b'), at(10, 5, 'c'), at(500, 500, 'd')});
  ASSERT_EQ(runs.size(), 2u);  // the third rectangle got nothing; 'd' lies outside all
  EXPECT_EQ(runs[0].text, "ac");
  EXPECT_EQ(runs[1].text, "b");
  EXPECT_DOUBLE_EQ(runs[1].left, 40);
}

TEST(TextRuns, OffsetsCountBytes) {
  const Rect r{0, 10, 100, 0};
  const std::vector<TextRun> runs =
      group({r}, {at(1, 5, 'A'), at(2, 5, 0x0416), at(3, 5, 0), at(4, 5, 0x20AC), at(5, 5, 'B')});
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].text, "A\xD0\x96\xE2\x82\xAC" "B");
  std::vector<size_t> offsets;
  for (const auto& c : runs[0].chars) offsets.push_back(c.offset);
  // The code-0 character keeps its box but adds no bytes.
  EXPECT_EQ(offsets, (std::vector<size_t>{0, 1, 3, 3, 6}));
  EXPECT_DOUBLE_EQ(runs[0].chars[2].left, 2.5);
}

TEST(TextRuns, RunWithOnlyCodeZeroCharactersDrops) {
  EXPECT_TRUE(group({{0, 10, 100, 0}}, {at(5, 5, 0), at(6, 5, 0)}).empty());
  EXPECT_TRUE(group({}, {at(5, 5, 'a')}).empty());
}

TEST(TextRuns, SurrogateHalvesMakeOneCharacter) {
  const Rect r{0, 10, 100, 0};
  const struct {
    const char* name;
    std::vector<char32_t> codes;
    std::string text;
    std::vector<size_t> offsets;
  } table[] = {
      {"pair", {'a', 0xD83D, 0xDE00, 'b'}, "a\xF0\x9F\x98\x80" "b", {0, 1, 5, 5}},
      {"lone high", {0xD83D, 'b'}, "\xEF\xBF\xBD" "b", {0, 3}},
      {"lone low", {0xDE00}, "\xEF\xBF\xBD", {0}},
      {"reversed halves", {0xDE00, 0xD83D}, "\xEF\xBF\xBD\xEF\xBF\xBD", {0, 3}},
      {"beyond Unicode", {0x110000}, "\xEF\xBF\xBD", {0}},
  };
  for (const auto& row : table) {
    std::vector<Char> chars;
    for (size_t i = 0; i < row.codes.size(); ++i) chars.push_back(at(1.0 + static_cast<double>(i), 5, row.codes[i]));
    const std::vector<TextRun> runs = group({r}, chars);
    ASSERT_EQ(runs.size(), 1u) << row.name;
    EXPECT_EQ(runs[0].text, row.text) << row.name;
    std::vector<size_t> offsets;
    for (const auto& c : runs[0].chars) offsets.push_back(c.offset);
    EXPECT_EQ(offsets, row.offsets) << row.name;
  }
}

// Dense pages take the banded lookup; it must pick exactly the rectangle a plain scan picks.
TEST(TextRuns, ManyRectanglesGroupLikeAPlainScan) {
  std::mt19937 rng(7);
  auto uniform = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); };
  for (const size_t count : {5u, 33u, 300u, 3000u}) {
    std::vector<Rect> rects;
    for (size_t i = 0; i < count; ++i) {
      const double x = uniform(0, 600), y = uniform(0, 800);
      const double w = uniform(0, 80);
      // Mostly line-high boxes, some tall ones, some inverted or empty.
      const double h = i % 17 == 0 ? uniform(100, 800) : i % 29 == 0 ? -uniform(0, 5) : uniform(0, 14);
      rects.push_back({x, y + h, x + w, y});
    }
    std::vector<Char> chars;
    for (size_t k = 0; k < 4000; ++k) {
      const char32_t code = 'a' + static_cast<char32_t>(k % 26);
      if (k % 5 == 0) {
        // Exactly on a widened edge, or just past it.
        const Rect& r = rects[k % count];
        const double past = k % 10 == 0 ? 0.0 : 0.01;
        chars.push_back(at(r.right + 1.0 + past, (r.top + r.bottom) / 2, code));
      } else {
        chars.push_back(at(uniform(-10, 700), uniform(-10, 900), code));
      }
    }
    std::vector<TextRun> want(count);
    for (const Char& c : chars) {
      const double cx = (c.left + c.right) * 0.5, cy = (c.bottom + c.top) * 0.5;
      for (size_t i = 0; i < count; ++i) {
        const Rect& r = rects[i];
        if (r.left - 1.0 <= cx && cx <= r.right + 1.0 && r.bottom - 1.0 <= cy && cy <= r.top + 1.0) {
          want[i].text.push_back(static_cast<char>(c.code));
          break;
        }
      }
    }
    std::vector<std::string> want_texts;
    for (const TextRun& r : want) {
      if (!r.text.empty()) want_texts.push_back(r.text);
    }
    std::vector<std::string> got_texts;
    size_t got_chars = 0;
    for (const TextRun& r : group(rects, chars)) {
      got_texts.push_back(r.text);
      got_chars += r.chars.size();
    }
    EXPECT_EQ(got_texts, want_texts) << count << " rectangles";
    size_t want_chars = 0;
    for (const std::string& t : want_texts) want_chars += t.size();
    EXPECT_EQ(got_chars, want_chars) << count << " rectangles";
  }
}

TEST(TextRuns, AStraySpaceJoinsTheRunOfTheCharacterBeforeIt) {
  const std::vector<Rect> rects = {{0, 10, 10, 0}, {20, 10, 30, 0}};
  const struct {
    const char* name;
    std::vector<Char> chars;
    std::vector<std::string> texts;
  } table[] = {
      {"space past the glyph", {at(5, 5, 'a'), at(15, 5, ' '), at(25, 5, 'b')}, {"a ", "b"}},
      {"other characters outside still drop", {at(5, 5, 'a'), at(15, 5, 'x'), at(25, 5, 'b')}, {"a", "b"}},
      {"no character before it", {at(15, 5, ' '), at(25, 5, 'b')}, {"b"}},
      {"the character before it dropped too", {at(15, 50, 'x'), at(15, 5, ' '), at(25, 5, 'b')}, {"b"}},
  };
  for (const auto& row : table) {
    const std::vector<TextRun> runs = group(rects, row.chars);
    std::vector<std::string> texts;
    for (const TextRun& r : runs) texts.push_back(r.text);
    EXPECT_EQ(texts, row.texts) << row.name;
  }
  const std::vector<TextRun> runs = group(rects, {at(5, 5, 'a'), at(15, 5, ' ')});
  ASSERT_EQ(runs[0].chars.size(), 2u);
  EXPECT_EQ(runs[0].chars[1].offset, 1u);
  EXPECT_DOUBLE_EQ(runs[0].chars[1].left, 14.5);
  EXPECT_DOUBLE_EQ(runs[0].right, 10);  // the run keeps its rectangle
}

// A run of text with one box per UTF-8 character, side by side across the run's box.
TextRun piece(const std::string& text, double left, double top, double right, double bottom) {
  TextRun r{text, left, top, right, bottom, {}};
  std::vector<size_t> starts;
  for (size_t i = 0; i < text.size(); ++i)
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) starts.push_back(i);
  const double w = (right - left) / static_cast<double>(starts.size());
  for (size_t k = 0; k < starts.size(); ++k)
    r.chars.push_back({starts[k], left + w * static_cast<double>(k), top, left + w * static_cast<double>(k + 1), bottom});
  return r;
}

TEST(TextRuns, PiecesOfOneLineJoin) {
  const TextRun first = piece("ab", 0, 10, 20, 0);  // 10 high
  const struct {
    const char* name;
    double left, top, right, bottom;
    bool joins;
  } table[] = {
      {"abutting", 20, 10, 30, 0, true},
      {"gap of the height", 30, 10, 40, 0, true},
      {"gap past the height", 30.01, 10, 40, 0, false},
      {"gap of a taller piece's height", 40, 20, 50, 0, true},
      {"overlapping back by the slack", 19, 10, 30, 0, true},
      {"overlapping back further", 18.99, 10, 30, 0, false},
      {"raised by half its height", 20, 15, 30, 5, true},
      {"raised further", 20, 15.01, 30, 5.01, false},
      {"small piece inside the line", 20, 6, 24, 4, true},
      {"next line", 0, -2, 20, -12, false},
      {"no height", 20, 5, 30, 5, false},
  };
  for (const auto& row : table) {
    const std::vector<TextRun> out =
        quorvel::textruns::join_line_pieces({first, piece("cd", row.left, row.top, row.right, row.bottom)});
    ASSERT_EQ(out.size(), row.joins ? 1u : 2u) << row.name;
    if (!row.joins) continue;
    const TextRun& line = out[0];
    EXPECT_EQ(line.text, "abcd") << row.name;
    EXPECT_DOUBLE_EQ(line.left, 0) << row.name;
    EXPECT_DOUBLE_EQ(line.right, row.right) << row.name;
    EXPECT_DOUBLE_EQ(line.top, std::max(10.0, row.top)) << row.name;
    EXPECT_DOUBLE_EQ(line.bottom, std::min(0.0, row.bottom)) << row.name;
    ASSERT_EQ(line.chars.size(), 4u) << row.name;
    EXPECT_EQ(line.chars[2].offset, 2u) << row.name;
    EXPECT_EQ(line.chars[3].offset, 3u) << row.name;
    EXPECT_DOUBLE_EQ(line.chars[2].left, row.left) << row.name;
  }
}

TEST(TextRuns, AWholeLineOfPiecesBecomesOneRunAndTheNextLineStaysApart) {
  std::vector<TextRun> pieces;
  const std::string word = "Договор";  // two bytes a letter
  for (size_t i = 0; i < word.size(); i += 2) {
    const double x = 6.0 * static_cast<double>(i / 2);
    pieces.push_back(piece(word.substr(i, 2), x, 10, x + 5, 0));
  }
  pieces.push_back(piece("next", 0, -4, 20, -14));
  const std::vector<TextRun> out = quorvel::textruns::join_line_pieces(pieces);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].text, word);
  ASSERT_EQ(out[0].chars.size(), 7u);
  for (size_t i = 0; i < 7; ++i) EXPECT_EQ(out[0].chars[i].offset, 2 * i);
  EXPECT_EQ(out[1].text, "next");
}

TEST(TextRuns, LinesHoldTheirTextOnly) {
  const struct {
    const char* name;
    std::string text;
    std::string want;
  } table[] = {
      {"line end goes", "abc\r\n", "abc"},
      {"break inside a joined line is one space", "foo\r\nbar", "foo bar"},
      {"no second space", "foo \r\nbar", "foo bar"},
      {"nor before a space", "foo\r\n bar", "foo bar"},
      {"hyphen mark", "manip\x02", "manip-"},
      {"other controls lose their text", "a\x01" "b\x7F" "c\xC2\x85" "d\te\x0C", "abcd\te"},
      {"Cyrillic and tab pass", "Договор\t№ 1", "Договор\t№ 1"},
      {"only a line end", "\r\n", ""},
  };
  for (const auto& row : table) {
    const TextRun in = piece(row.text, 0, 10, 100, 0);
    const std::vector<TextRun> out = quorvel::textruns::line_text({in});
    if (row.want.empty()) {
      EXPECT_TRUE(out.empty()) << row.name;
      continue;
    }
    ASSERT_EQ(out.size(), 1u) << row.name;
    EXPECT_EQ(out[0].text, row.want) << row.name;
    // Every box still starts a character of the text, in order; control characters keep theirs.
    size_t last = 0;
    for (const quorvel::CharBox& c : out[0].chars) {
      EXPECT_GE(c.offset, last) << row.name;
      EXPECT_LE(c.offset, out[0].text.size()) << row.name;
      last = c.offset;
    }
    EXPECT_DOUBLE_EQ(out[0].right, 100) << row.name;
  }
  // The space that stands for a break has the break's box.
  const TextRun joined = piece("ab\r\ncd", 0, 10, 60, 0);
  const std::vector<TextRun> out = quorvel::textruns::line_text({joined});
  ASSERT_EQ(out[0].chars.size(), 5u);
  EXPECT_EQ(out[0].chars[2].offset, 2u);
  EXPECT_DOUBLE_EQ(out[0].chars[2].left, 20);
  EXPECT_EQ(out[0].chars[3].offset, 3u);
  EXPECT_DOUBLE_EQ(out[0].chars[3].left, 40);
}

// The page's whole text, read when no rectangle received characters, comes as one run per line.
TEST(TextRuns, TextWithoutBoxesSplitsIntoLines) {
  const TextRun page{"one\r\ntwo\r\n\r\nthr\x02" "ee\r\n", 0, 792, 612, 0, {}};
  std::vector<std::string> texts;
  for (const TextRun& r : quorvel::textruns::line_text({page})) {
    texts.push_back(r.text);
    EXPECT_DOUBLE_EQ(r.top, 792);
    EXPECT_TRUE(r.chars.empty());
  }
  EXPECT_EQ(texts, (std::vector<std::string>{"one", "two", "thr-ee"}));
}

}  // namespace
