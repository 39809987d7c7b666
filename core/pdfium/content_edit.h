// What the content edits (redaction, image removal, text replacement) share on the PDFium side:
// the characters a reader sees on a page, found again by where they stand, and the widths of
// the standard fonts that files use without /Widths.
#pragma once

#ifndef QUORVEL_CORE_PRIVATE
#error "private header of the core's PDFium adapter: include core/engine.h instead"
#endif

#include <map>
#include <optional>
#include <string>
#include <string>
#include <tuple>
#include <vector>

#include "core/pdfium/content_stream.h"
#include "core/pdfium/pdfium_api.h"

namespace quorvel::pdfium {

// One character of PDFium's text page, in user space: its glyph's origin and its box.
struct PdfChar {
  char32_t code = 0;
  double x = 0, y = 0;
  double left = 0, bottom = 0, right = 0, top = 0;
  bool blank() const { return code == ' ' || code == '\t' || code == '\r' || code == '\n' || code == 0xA0; }
  double cx() const { return (left + right) / 2; }
  double cy() const { return (bottom + top) / 2; }
};
std::vector<PdfChar> read_chars(FPDF_PAGE page);

// Characters found by the origin of their glyph, `tolerance` points either way.
class OriginIndex {
 public:
  explicit OriginIndex(const std::vector<PdfChar>& chars, double tolerance = 0.011);
  // Indices of the characters whose origin is at (x, y).
  std::vector<size_t> at(double x, double y) const;

 private:
  const std::vector<PdfChar>& chars_;
  double tolerance_;
  std::multimap<std::pair<long long, long long>, size_t> cells_;
};

// Whether every printable character of `before` but those of `gone` (indices) is still in
// `after`, at the same place (a quarter point either way: an edit moves PDFium's reading of the
// glyphs after it by what PDFium's rounded widths of the edited glyphs were off); `added` gets the printable characters of `after` that are new, in
// their order there. A character of `moved` is looked for at its new origin instead.
bool kept_text(const std::vector<PdfChar>& before, const std::vector<size_t>& gone,
               const std::vector<PdfChar>& after, std::u32string& added,
               const std::map<size_t, std::pair<double, double>>& moved = {});

// Widths of the standard fonts from PDFium's own copies; closes what it loaded.
class StandardFonts {
 public:
  StandardFonts() = default;
  ~StandardFonts();
  StandardFonts(const StandardFonts&) = delete;
  StandardFonts& operator=(const StandardFonts&) = delete;
  content::Font::StandardWidth widths();

 private:
  FPDF_DOCUMENT scratch_ = nullptr;
  std::map<std::string, FPDF_FONT> fonts_;
  // Widths already asked for: a page asks for the same few glyphs over and over, and each
  // question of PDFium takes the engine's lock.
  std::map<std::pair<std::string, char32_t>, std::optional<double>> known_;
};

}  // namespace quorvel::pdfium
