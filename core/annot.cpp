#include "core/annot.h"

#include <cmath>

#include "core/c_locale.h"

namespace quorvel::annot {

namespace {
constexpr const char* kNames[] = {"highlight", "ink",     "note",    "underline",
                                  "strikeout", "squiggly", "rectangle", "ellipse",
                                  "line",      "arrow",   "freetext"};
constexpr int kTypeCount = static_cast<int>(sizeof kNames / sizeof kNames[0]);
}  // namespace

bool uses_path(AnnotType type) {
  return type == AnnotType::Ink || type == AnnotType::Line || type == AnnotType::Arrow;
}

bool is_text_markup(AnnotType type) {
  return type == AnnotType::Highlight || type == AnnotType::Underline ||
         type == AnnotType::StrikeOut || type == AnnotType::Squiggly;
}

Rect bounding_rect(const Annotation& a) {
  if (!uses_path(a.type)) return {a.x0, a.y0, a.x1, a.y1};
  if (a.points.empty()) return {};
  Rect r{a.points[0].x, a.points[0].y, a.points[0].x, a.points[0].y};
  for (const Point& p : a.points) {
    if (p.x < r.x0) r.x0 = p.x;
    if (p.x > r.x1) r.x1 = p.x;
    if (p.y < r.y0) r.y0 = p.y;
    if (p.y > r.y1) r.y1 = p.y;
  }
  return r;
}

bool hit_test(const Annotation& a, Point p, double tol) {
  if (std::isnan(p.x) || std::isnan(p.y)) return false;
  if (uses_path(a.type)) {
    for (const Point& q : a.points) {
      if (std::fabs(p.x - q.x) <= tol && std::fabs(p.y - q.y) <= tol) return true;
    }
    return false;
  }
  return p.x >= a.x0 - tol && p.x <= a.x1 + tol && p.y >= a.y0 - tol && p.y <= a.y1 + tol;
}

const char* type_name(AnnotType type) {
  const int v = static_cast<int>(type);
  return (v >= 0 && v < kTypeCount) ? kNames[v] : kNames[0];
}

std::optional<AnnotType> type_from_name(std::string_view name) {
  for (int i = 0; i < kTypeCount; ++i) {
    if (name == kNames[i]) return static_cast<AnnotType>(i);
  }
  return std::nullopt;
}

std::string encode_path(const std::vector<Point>& points) {
  std::string out;
  out.reserve(points.size() * 16);
  for (size_t i = 0; i < points.size(); ++i) {
    if (i) out.push_back(';');
    append_fixed(out, points[i].x, 3);
    out.push_back(',');
    append_fixed(out, points[i].y, 3);
  }
  return out;
}

std::vector<Point> decode_path(std::string_view text) {
  std::vector<Point> out;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t semi = text.find(';', pos);
    if (semi == std::string_view::npos) semi = text.size();
    const std::string_view piece = text.substr(pos, semi - pos);
    pos = semi < text.size() ? semi + 1 : text.size();
    const size_t comma = piece.find(',');
    if (piece.empty() || comma == std::string_view::npos) continue;
    out.push_back({c_strtod(piece.substr(0, comma)), c_strtod(piece.substr(comma + 1))});
  }
  return out;
}

}  // namespace quorvel::annot
