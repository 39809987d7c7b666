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

}  // namespace
