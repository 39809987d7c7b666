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
// box, widened by kSlack, holds its centre, or no run at all. A space that no rectangle holds
// joins the run of the character before it. Runs left without text are dropped.
std::vector<TextRun> group(const std::vector<Rect>& rects, const std::vector<Char>& chars);

// Joins runs that continue one line: PDFium makes a rectangle per text object, and writers that
// place every glyph or syllable on its own give a run per piece, which every reader of runs takes
// as separate lines. A run joins the one before it when the two overlap vertically by at least
// half the lower one's height and it starts no more than kSlack left of the previous run's end and
// at most kLineGap times the taller height to its right. No space is made up: PDFium already puts
// a generated space at the end of a piece that a word gap follows.
inline constexpr double kLineGap = 1.0;
std::vector<TextRun> join_line_pieces(std::vector<TextRun> runs);

// Leaves each run the text of its line alone, as every export, report and prompt wants it:
// PDFium ends a line with a generated "\r\n" and marks a hyphen that ends a line with U+0002.
// A line break inside a run (pieces joined above) becomes one space between the words; at the
// end it goes. U+0002 becomes the hyphen it stands for; every other control character except
// tab loses its text and keeps its box. A run without character boxes (the whole page's text)
// is split into one run per line, each with the run's box. Runs left without text are dropped.
std::vector<TextRun> line_text(std::vector<TextRun> runs);

}  // namespace quorvel::textruns
