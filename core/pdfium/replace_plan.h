// Which glyphs of a content stream the replacement of found text rewrites, with which codes of
// their font, and why an occurrence is left as it was. Shared by page content and annotation
// appearances; knows nothing of PDFium.
#pragma once

#ifndef QUORVEL_CORE_PRIVATE
#error "private header of the core's PDFium adapter: include core/engine.h instead"
#endif

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "core/engine.h"
#include "core/pdfium/content_stream.h"
#include "core/pdfium/line_room.h"

namespace quorvel::content {

// One occurrence of the searched text as glyphs (show index, glyph index in the show), in the
// order they are read; `before` and `after` are the letters of a ligature at either end that lie
// outside the occurrence and must be drawn again.
struct Occurrence {
  std::vector<std::pair<size_t, size_t>> glyphs;
  std::u32string before, after;
};

enum class LeftReason { None, MissingGlyph, NoRoom, NotEditable };

// A kept glyph (show index, glyph index in the show) drawn elsewhere on its line to make room,
// and how far from where it was, in user space; a glyph moved again is listed again, its later
// entry holding the whole move.
struct MovedGlyph {
  size_t show = 0, glyph = 0;
  double dx = 0, dy = 0;
};

struct ReplacementPlan {
  std::map<size_t, std::vector<GlyphEdit>> edits;  // by show
  std::vector<LeftReason> outcome;                  // by occurrence
  std::u32string missing;                           // characters no glyph of the font shows
  std::u32string expected;                          // printable characters the content gains
  std::vector<MovedGlyph> moved;                    // kept glyphs moved to make room
  std::vector<std::pair<size_t, size_t>> dropped;   // leaders a longer line took the place of
  std::vector<bool> moves;                          // by occurrence: whether it moved any
};

ReplacementPlan plan_replacement(const PageContent& c, const std::vector<Occurrence>& found, const std::u32string& with,
                                 const LineLimits& limits);

// The rewritten operators of a plan, by stream and operator; empty when one cannot be written.
std::map<std::pair<size_t, size_t>, std::string> rewritten_shows(const PageContent& c, const ReplacementPlan& plan);

// Adds one occurrence's outcome to a page's counts.
void count_outcome(TextReplacement& r, LeftReason why);

bool blank_char(char32_t c);
// Whether a glyph draws nothing a reader sees: a space, or a code the font reads as blanks.
bool blank_glyph(const Show& s, const Glyph& g);
std::u32string code_points(const std::string& utf8);

}  // namespace quorvel::content
