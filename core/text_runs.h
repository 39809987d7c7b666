// Grouping a page's characters into the text rectangles the engine reports. Kept apart from
// PDFium so the grouping rules can be checked on exact numbers.
#pragma once

#include <vector>

#include "core/engine.h"

namespace quorvel::textruns {

struct Rect {
  double left = 0.0;
  double top = 0.0;
  double right = 0.0;
  double bottom = 0.0;
};

struct Char {
  double left = 0.0;
  double top = 0.0;
  double right = 0.0;
  double bottom = 0.0;
  char32_t code = 0;  // 0: the character has a box but no text
};

// How far outside a rectangle a character's centre may lie and still join its run.
inline constexpr double kSlack = 1.0;

// One run per rectangle, in rectangle order; each character joins the first rectangle whose
// box, widened by kSlack, holds its centre, or no run at all. Runs left without text are dropped.
std::vector<TextRun> group(const std::vector<Rect>& rects, const std::vector<Char>& chars);

}  // namespace quorvel::textruns
