// Text replacement inside the appearances of a page's annotations, which a page's text reader
// does not see but readers of the file show.
#pragma once

#ifndef QUORVEL_CORE_PRIVATE
#error "private header of the core's PDFium adapter: include core/engine.h instead"
#endif

#include <string>

#include "core/engine.h"
#include "core/pdfium/content_stream.h"

namespace quorvel::content {

// The characters an appearance shows, in order, with a space or a line break where its glyphs
// stand apart; `glyph` gives each character's glyph (show, index), or none for an added break.
struct AppearanceText {
  std::u32string text;
  std::vector<std::pair<size_t, size_t>> glyph;
};
AppearanceText appearance_text(const PageContent& c);

// Replaces `find` by `with` in the normal appearances of the page's annotations (and in their
// /Contents); a form field's appearance is counted as left, since its value draws it again.
// Adds to `r`; true when something changed.
bool replace_in_appearances(QPDFPageObjectHelper& page, const Font::StandardWidth& widths, const std::u32string& find,
                            const std::u32string& with, TextReplacement& r);

}  // namespace quorvel::content
