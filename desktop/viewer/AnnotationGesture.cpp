#include "desktop/viewer/AnnotationGesture.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace quorvel::desktop::viewer {

namespace {

constexpr double kMinLineExtent = 1.0;  // page points
constexpr double kMinBoxSide = 4.0;     // page points, after a resize
constexpr double kNoteSize = 16.0;
constexpr uint32_t kNoteColor = 0xFF8A00;
constexpr uint32_t kStampColor = 0xC62828;
constexpr double kStampFontSize = 14.0;

bool hasArea(const Gesture& g) { return g.start.x != g.end.x && g.start.y != g.end.y; }

// The stamp's box fits its words at the stamp's font size, counted in UTF-16 units as the
// dialog counts them.
double stampWidth(const std::string& text) {
  size_t units = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if ((b & 0xC0) == 0x80) continue;
    units += b >= 0xF0 ? 2 : 1;
  }
  return (static_cast<double>(units) * kStampFontSize * 0.62) + 24.0;
}

}  // namespace

bool drawsOnPage(int mode) {
  return (mode >= Highlight && mode <= FreeText) || (mode >= Note && mode <= AddText);
}

bool gestureAsksText(const Gesture& g) {
  switch (g.mode) {
    case FreeText: return hasArea(g);
    case Note:
    case Stamp:
    case AddText: return true;
    default: return false;
  }
}

std::optional<annot::Annotation> annotationFromGesture(const Gesture& g) {
  if (g.page < 0) return std::nullopt;
  annot::Annotation a;
  a.page = g.page;
  a.width = g.style.penWidth;
  a.opacity = 255;
  a.color = g.style.penColor;
  a.x0 = std::min(g.start.x, g.end.x);
  a.y0 = std::min(g.start.y, g.end.y);
  a.x1 = std::max(g.start.x, g.end.x);
  a.y1 = std::max(g.start.y, g.end.y);
  switch (g.mode) {
    case Highlight:
      a.type = annot::AnnotType::Highlight;
      a.color = g.style.highlightColor;
      return hasArea(g) ? std::optional(a) : std::nullopt;
    case Underline:
    case Strikeout:
    case Squiggly:
    case Rectangle:
    case Ellipse: {
      static constexpr annot::AnnotType kinds[] = {
          annot::AnnotType::Underline, annot::AnnotType::StrikeOut, annot::AnnotType::Squiggly,
          annot::AnnotType::Rectangle, annot::AnnotType::Ellipse};
      a.type = kinds[g.mode - Underline];
      return hasArea(g) ? std::optional(a) : std::nullopt;
    }
    case Ink:
      if (g.ink.size() < 2) return std::nullopt;
      a.type = annot::AnnotType::Ink;
      a.x0 = a.y0 = a.x1 = a.y1 = 0.0;
      a.points = g.ink;
      return a;
    case Line:
    case Arrow:
      if (std::abs(g.end.x - g.start.x) <= kMinLineExtent &&
          std::abs(g.end.y - g.start.y) <= kMinLineExtent)
        return std::nullopt;
      a.type = g.mode == Line ? annot::AnnotType::Line : annot::AnnotType::Arrow;
      a.x0 = a.y0 = a.x1 = a.y1 = 0.0;
      a.points = {g.start, g.end};
      return a;
    case FreeText:
      if (!hasArea(g) || g.text.empty()) return std::nullopt;
      a.type = annot::AnnotType::FreeText;
      a.text = g.text;
      return a;
    case Note:
      if (g.text.empty()) return std::nullopt;
      a.type = annot::AnnotType::Note;
      a.color = kNoteColor;
      a.x0 = g.end.x;
      a.y0 = g.end.y;
      a.x1 = g.end.x + kNoteSize;
      a.y1 = g.end.y + kNoteSize;
      a.text = g.text;
      return a;
    case Stamp:
      if (g.text.empty()) return std::nullopt;
      a.type = annot::AnnotType::FreeText;
      a.color = kStampColor;
      a.width = 2.0;
      a.x0 = g.end.x;
      a.y0 = g.end.y;
      a.x1 = a.x0 + stampWidth(g.text);
      a.y1 = a.y0 + 28.0;
      a.text = g.text;
      return a;
    default:
      return std::nullopt;  // AddText edits the page itself
  }
}

void resizeByHandle(annot::Annotation& a, ResizeHandle handle, double dx, double dy) {
  using H = ResizeHandle;
  switch (handle) {
    case H::TopLeft: a.x0 += dx; a.y1 += dy; break;
    case H::Top: a.y1 += dy; break;
    case H::TopRight: a.x1 += dx; a.y1 += dy; break;
    case H::Right: a.x1 += dx; break;
    case H::BottomRight: a.x1 += dx; a.y0 += dy; break;
    case H::Bottom: a.y0 += dy; break;
    case H::BottomLeft: a.x0 += dx; a.y0 += dy; break;
    case H::Left: a.x0 += dx; break;
    case H::LineStart:
    case H::LineEnd: {
      const size_t i = handle == H::LineStart ? 0 : 1;
      if (i < a.points.size()) {
        a.points[i].x += dx;
        a.points[i].y += dy;
      }
      return;
    }
    case H::None: return;
  }
  if (a.x1 < a.x0) std::swap(a.x0, a.x1);
  if (a.y1 < a.y0) std::swap(a.y0, a.y1);
  if (a.x1 - a.x0 < kMinBoxSide) a.x1 = a.x0 + kMinBoxSide;
  if (a.y1 - a.y0 < kMinBoxSide) a.y1 = a.y0 + kMinBoxSide;
}

}  // namespace quorvel::desktop::viewer
