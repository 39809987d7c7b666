// How a line of text makes room for a wider word: it may run into free space after it, and the
// glyphs of its line, across operators, move along as their word gaps shrink. Knows nothing of
// PDFium.
#pragma once

#ifndef QUORVEL_CORE_PRIVATE
#error "private header of the core's PDFium adapter: include core/engine.h instead"
#endif

#include <array>
#include <utility>
#include <vector>

#include "core/pdfium/content_stream.h"

namespace quorvel::content {

struct Occurrence;

// What the replacements planned so far do to a content's glyphs, so that the next occurrence
// sees its line as it will be drawn.
struct LineState {
  LineState(const PageContent& c, const std::vector<Occurrence>& found);
  std::vector<size_t> show_of;                   // by glyph
  std::vector<bool> fixed;                       // by glyph: an occurrence's, or already moved
  std::vector<bool> dropped;                     // by glyph: replaced
  std::vector<std::pair<double, double>> offset;  // by glyph: its planned move, user space
  std::vector<std::array<double, 4>> words;      // inserted words: start and end on the baseline
  std::vector<bool> movable;                     // by show: editable and drawn only once
};

// A glyph moved to make room, and by how much.
struct Move {
  size_t glyph = 0;
  double shift = 0;       // text space of its show, for GlyphEdit::shift
  double dx = 0, dy = 0;  // user space
};

struct Fit {
  bool ok = false;
  double room = -1;          // for GlyphEdit::room
  double insert_shift = 0;   // where the word starts, for GlyphEdit::shift of its first glyph
  std::vector<Move> moves;   // every glyph drawn but blanks
  std::array<double, 4> word{};  // the word as it will be drawn: start and end, user space
};

// Word gaps shrink no further than this (ems): a little below where TeX's own shrink stops, and
// still wider than a thin space, so that the eye and every reader part the words.
constexpr double kNarrowestGap = 0.18;
// Narrowing a wider replacement below this looks condensed.
constexpr double kNarrowestScale = 0.9;

// Where a replacement of `natural` width (text space of the occurrence's first show, before
// horizontal scaling) goes on its line. `right_limit`: the x in user space that upright text
// ending a line may run up to; NaN when there is none.
Fit fit_on_line(const PageContent& c, const Occurrence& o, const LineState& state, double natural,
                double right_limit);

// Records a fitted occurrence in `state`.
void place(LineState& state, const PageContent& c, const Occurrence& o, const Fit& f);

}  // namespace quorvel::content
