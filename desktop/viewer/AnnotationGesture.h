// What a drag of the viewer's drawing tools makes, and how a handle resizes an annotation:
// plain rules over page points, kept apart from the widget so a table can check them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/annot.h"

namespace quorvel::desktop::viewer {

// The viewer's pointer tools; PdfView takes the names into its own scope.
enum ToolMode : int {
  Select = 0,
  Highlight = 1,
  Ink = 2,
  Underline = 3,
  Strikeout = 4,
  Squiggly = 5,
  Rectangle = 6,
  Ellipse = 7,
  Line = 8,
  Arrow = 9,
  FreeText = 10,
  Eraser = 11,
  Note = 12,
  Stamp = 13,
  AddText = 14,
};

// A tool that draws: pressed, dragged and released over one page.
bool drawsOnPage(int mode);

struct GestureStyle {
  uint32_t penColor = 0;
  uint32_t highlightColor = 0;
  double penWidth = 0;
};

struct Gesture {
  int mode = Select;
  int page = -1;
  annot::Point start;
  annot::Point end;
  std::vector<annot::Point> ink;
  GestureStyle style;
  // What the user typed for a tool that asks for text (empty: cancelled or nothing typed).
  std::string text;
};

// Whether the gesture asks the user for text before anything is made.
bool gestureAsksText(const Gesture& g);

// The annotation a finished gesture makes, without an id; nothing for a gesture too small for
// its tool, a text tool without text, and the tools that make no annotation.
std::optional<annot::Annotation> annotationFromGesture(const Gesture& g);

// The grips of a selected annotation: eight around a box, or the two ends of a line.
enum class ResizeHandle : int {
  None = 0,
  TopLeft,
  Top,
  TopRight,
  Right,
  BottomRight,
  Bottom,
  BottomLeft,
  Left,
  LineStart,
  LineEnd,
};

// Drags a handle by (dx, dy) page points; a box stays normalised and keeps a least size.
void resizeByHandle(annot::Annotation& a, ResizeHandle handle, double dx, double dy);

}  // namespace quorvel::desktop::viewer
