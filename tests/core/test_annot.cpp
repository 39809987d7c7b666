#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>

#include "core/annot.h"

using namespace quorvel::annot;

namespace {

struct DecodeCase {
  const char* text;
  std::vector<Point> expected;
};

class Locales : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    if (!std::setlocale(LC_ALL, GetParam())) GTEST_SKIP() << "locale " << GetParam() << " missing";
  }
  void TearDown() override { std::setlocale(LC_ALL, "C"); }
};

TEST_P(Locales, EncodeUsesPointAndThreeDecimals) {
  EXPECT_EQ(encode_path({}), "");
  EXPECT_EQ(encode_path({{10, 20.5}, {-3.25, 0}}), "10.000,20.500;-3.250,0.000");
  EXPECT_EQ(encode_path({{0.0005, -0.0004}}), "0.001,-0.000");
  // Large magnitudes keep every digit.
  EXPECT_EQ(encode_path({{1e30, 1}}), "1000000000000000019884624838656.000,1.000");
  const std::string huge = encode_path({{std::numeric_limits<double>::max(), 0}});
  EXPECT_EQ(huge.size(), 309 + 4 + 6);
}

TEST_P(Locales, DecodeTable) {
  const DecodeCase cases[] = {
      {"", {}},
      {";;", {}},
      {"1.5,2.5;;3,4;", {{1.5, 2.5}, {3, 4}}},
      {"7;8,9", {{8, 9}}},
      {" 1e2 , -0.5x", {{100, -0.5}}},
      {"1,2,3", {{1, 2}}},
      {"a,b", {{0, 0}}},
      {"1,5;2,5", {{1, 5}, {2, 5}}},  // a comma is never a decimal point here
      {";1,2", {{1, 2}}},
  };
  for (const DecodeCase& c : cases) {
    const auto got = decode_path(c.text);
    ASSERT_EQ(got.size(), c.expected.size()) << c.text;
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_DOUBLE_EQ(got[i].x, c.expected[i].x) << c.text;
      EXPECT_DOUBLE_EQ(got[i].y, c.expected[i].y) << c.text;
    }
  }
}

TEST_P(Locales, RoundTripKeepsThreeDecimals) {
  const std::vector<Point> pts{{1.23456, -7.8916}, {1e6 + 0.0004, 3.0}, {-0.0, 42.1}};
  const auto back = decode_path(encode_path(pts));
  ASSERT_EQ(back.size(), pts.size());
  for (size_t i = 0; i < pts.size(); ++i) {
    EXPECT_NEAR(back[i].x, std::round(pts[i].x * 1000) / 1000, 1e-9);
    EXPECT_NEAR(back[i].y, std::round(pts[i].y * 1000) / 1000, 1e-9);
  }
}

INSTANTIATE_TEST_SUITE_P(AnyLocale, Locales, ::testing::Values("C", "ru_RU.UTF-8"));

TEST(AnnotModel, Defaults) {
  Annotation a;
  EXPECT_EQ(a.type, AnnotType::Highlight);
  EXPECT_EQ(a.color, 0xFFEB3Bu);
  EXPECT_EQ(a.width, 1.0);
  EXPECT_EQ(a.opacity, 255);
  EXPECT_EQ(a.page, 0);
}

TEST(AnnotModel, Names) {
  const struct {
    int value;
    const char* name;
  } table[] = {{0, "highlight"}, {1, "ink"},       {2, "note"},   {3, "underline"},
               {4, "strikeout"}, {5, "squiggly"},  {6, "rectangle"}, {7, "ellipse"},
               {8, "line"},      {9, "arrow"},     {10, "freetext"}, {11, "highlight"},
               {-1, "highlight"}};
  for (const auto& row : table) {
    EXPECT_STREQ(type_name(static_cast<AnnotType>(row.value)), row.name) << row.value;
    if (row.value >= 0 && row.value <= 10) {
      EXPECT_EQ(type_from_name(row.name), static_cast<AnnotType>(row.value));
    }
  }
  for (const char* bad : {"Highlight", "free text", "", " ink", "ink "}) {
    EXPECT_FALSE(type_from_name(bad).has_value()) << bad;
  }
  for (int v = -2; v < 14; ++v) {
    const bool path = v == 1 || v == 8 || v == 9;
    EXPECT_EQ(uses_path(static_cast<AnnotType>(v)), path) << v;
  }
}

TEST(AnnotModel, BoundingRect) {
  Annotation ink;
  ink.type = AnnotType::Ink;
  ink.x0 = 5;
  ink.x1 = 99;
  Rect r = bounding_rect(ink);
  EXPECT_EQ(r.x0, 0);
  EXPECT_EQ(r.x1, 0);
  ink.points = {{10, 5}, {-2, 8}, {4, -1}};
  r = bounding_rect(ink);
  EXPECT_EQ(r.x0, -2);
  EXPECT_EQ(r.y0, -1);
  EXPECT_EQ(r.x1, 10);
  EXPECT_EQ(r.y1, 8);

  Annotation box;
  box.type = AnnotType::Rectangle;
  box.x0 = 50;
  box.y0 = 1;
  box.x1 = 10;
  box.y1 = 2;
  r = bounding_rect(box);
  EXPECT_EQ(r.x0, 50);
  EXPECT_EQ(r.x1, 10);
}

TEST(AnnotModel, HitTestTable) {
  Annotation line;
  line.type = AnnotType::Line;
  line.points = {{0, 0}, {100, 0}};
  Annotation hl;
  hl.x0 = 10;
  hl.y0 = 10;
  hl.x1 = 20;
  hl.y1 = 20;
  Annotation reversed = hl;
  reversed.x0 = 30;
  reversed.x1 = 10;
  Annotation empty_ink;
  empty_ink.type = AnnotType::Ink;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    const Annotation* a;
    Point p;
    double tol;
    bool hit;
  } table[] = {
      {&line, {50, 0}, 4, false},   // segments do not count
      {&line, {103, 3}, 4, true},
      {&line, {104.5, 0}, 4, false},
      {&hl, {24, 15}, 4, true},     // exactly x1 + tol
      {&hl, {24.01, 15}, 4, false},
      {&hl, {6, 6}, 4, true},
      {&hl, {nan, 15}, 4, false},
      {&hl, {15, nan}, 100, false},
      {&reversed, {20, 15}, 4, false},
      {&reversed, {20, 15}, 10, true},
      {&empty_ink, {0, 0}, 100, false},
  };
  for (const auto& row : table) {
    EXPECT_EQ(hit_test(*row.a, row.p, row.tol), row.hit) << row.p.x << "," << row.p.y;
  }
}

}  // namespace
