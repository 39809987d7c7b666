// The annotation model: the value type in which markup travels between viewer, store, XFDF
// and saved copies, with its geometry helpers and the path text kept in the database.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::annot {

struct Point {
  double x = 0.0;
  double y = 0.0;
};

struct Rect {
  double x0 = 0.0;
  double y0 = 0.0;
  double x1 = 0.0;
  double y1 = 0.0;
};

enum class AnnotType : int32_t {
  Highlight = 0,
  Ink = 1,
  Note = 2,
  Underline = 3,
  StrikeOut = 4,
  Squiggly = 5,
  Rectangle = 6,
  Ellipse = 7,
  Line = 8,
  Arrow = 9,
  FreeText = 10,
};

inline constexpr uint32_t kDefaultColor = 0xFFEB3B;

struct Annotation {
  std::string id;
  int page = 0;
  AnnotType type = AnnotType::Highlight;
  uint32_t color = kDefaultColor;
  double x0 = 0.0;
  double y0 = 0.0;
  double x1 = 0.0;
  double y1 = 0.0;
  std::vector<Point> points;
  std::string text;
  double width = 1.0;
  uint8_t opacity = 255;
};

bool uses_path(AnnotType type);
// The kinds that mark up a run of the page's text rather than draw on the page.
bool is_text_markup(AnnotType type);
Rect bounding_rect(const Annotation& a);
bool hit_test(const Annotation& a, Point p, double tol);
const char* type_name(AnnotType type);
std::optional<AnnotType> type_from_name(std::string_view name);
std::string encode_path(const std::vector<Point>& points);
std::vector<Point> decode_path(std::string_view text);

}  // namespace quorvel::annot
