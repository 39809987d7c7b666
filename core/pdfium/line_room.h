// How a line of text makes room for a wider word: it may run into free space after it, and the
// glyphs of its line, across operators, move along as their word gaps shrink. Knows nothing of
// PDFium.
#pragma once

#ifndef QUORVEL_CORE_PRIVATE
#error "private header of the core's PDFium adapter: include core/engine.h instead"
#endif

#include <array>
#include <limits>
#include <utility>
#include <vector>

#include "core/pdfium/content_stream.h"

namespace quorvel::content {

struct Occurrence;

// What the replacements planned so far do to a content's glyphs, so that the next occurrence
// sees its line as it will be drawn. Any glyph may move more than once, a later occurrence's too.
struct LineState {
  explicit LineState(const PageContent& c);
  std::vector<size_t> show_of;                   // by glyph
  std::vector<bool> dropped;                     // by glyph: replaced
  std::vector<std::pair<double, double>> offset;  // by glyph: its planned moves, user space
  std::vector<std::array<double, 4>> words;      // inserted words: start and end on the baseline
  std::vector<bool> movable;                     // by show: its glyphs can move, and it is drawn once
};

// A glyph moved to make room, and by how much more than before.
struct Move {
  size_t glyph = 0;
  double shift = 0;       // text space of its show, to add to GlyphEdit::shift
  double dx = 0, dy = 0;  // user space
};

struct Fit {
  bool ok = false;
  double room = -1;          // for GlyphEdit::room
  double insert_shift = 0;   // where the word starts, for GlyphEdit::shift of its first glyph
  std::vector<Move> moves;   // every glyph drawn but blanks
  std::vector<size_t> drops;  // leaders the longer line takes the place of
  std::array<double, 4> word{};  // the word as it will be drawn: start and end, user space
};

// Word gaps shrink no further than this (ems): a little below where TeX's own shrink stops, and
// still wider than a thin space, so that the eye and every reader part the words.
constexpr double kNarrowestGap = 0.18;
// Narrowing a wider replacement below this looks condensed.
constexpr double kNarrowestScale = 0.9;

// How far upright text ending a line may run, as x in user space; NaN where nothing says.
struct LineLimits {
  double text = std::numeric_limits<double>::quiet_NaN();  // a ragged line's free end reaches this
  // A line with no other room runs into the margin up to this, rather than leave the word as it was.
  double margin = std::numeric_limits<double>::quiet_NaN();
};

// Where a replacement of `natural` width (text space of the occurrence's first show, before
// horizontal scaling) goes on its line.
Fit fit_on_line(const PageContent& c, const Occurrence& o, const LineState& state, double natural,
                const LineLimits& limits);

// Records a fitted occurrence in `state`.
void place(LineState& state, const PageContent& c, const Occurrence& o, const Fit& f);

}  // namespace quorvel::content
