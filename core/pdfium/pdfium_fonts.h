// The TrueType font that text beyond Latin-1 is written in (PDFium adapter internals).
#pragma once

#ifndef QUORVEL_CORE_PRIVATE
#error "private header of the core's PDFium adapter: include core/engine.h instead"
#endif

#include <string>
#include <string_view>
#include <vector>

#include "core/pdfium/pdfium_api.h"

namespace quorvel::pdfium {

class PdfiumDocument;

// The font files tried, in order. Tests point the list at their own files.
std::vector<std::string> text_font_paths();
void set_text_font_paths(std::vector<std::string> paths);

// The document's text font, searched for once per document (lock held): the first listed
// TrueType file that PDFium loads as a CID font, else the standard Helvetica. Null when even
// that fails.
FPDF_FONT document_text_font(PdfiumDocument& doc);

// The first listed TrueType file that PDFium loads into `doc` as a CID font, its bytes left in
// `bytes`; null (and `bytes` empty) when none does.
FPDF_FONT load_truetype_font(FPDF_DOCUMENT doc, std::string& bytes);

// Whether the document's text font came from a TrueType file.
bool has_truetype_font(const PdfiumDocument& doc);

// Gives PDFium's form layer the first listed TrueType file for characters of the scripts that
// file covers and that the built-in fonts lack (Cyrillic, Greek and the like): without it a
// field's appearance draws such characters in a Latin-only font, that is not at all. Other
// requests keep PDFium's own answer. Called once, right after the library starts.
void install_fallback_fonts();

// The face name PDFium gives a font it takes from that file.
bool is_fallback_face(std::string_view base_font);

// The fallback font's file, as the form layer got it; false when no listed file can be read.
bool read_fallback_font(std::string& bytes);
// The name under which a saved copy embeds it, without a subset tag.
std::string fallback_font_name();

// Whether some character lies above U+00FF, where the standard fonts give wrong glyphs.
bool needs_unicode_font(std::string_view utf8);

}  // namespace quorvel::pdfium
