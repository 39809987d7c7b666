// Text insertion and replacement.
#include <algorithm>
#include <cmath>

#include "core/pdfium/pdfium_document.h"
#include "core/pdfium/pdfium_fonts.h"
#include "core/text_codec.h"

namespace quorvel::pdfium {

namespace {

// The object's whole text; only the terminating zero units are dropped. An embedded U+0000
// stays, so that the caller sees it and leaves the object alone.
std::vector<unsigned short> object_units(FPDF_PAGEOBJECT obj, FPDF_TEXTPAGE tp) {
  const unsigned long bytes = FPDFTextObj_GetText(obj, tp, nullptr, 0);
  if (bytes <= 2) return {};
  std::vector<unsigned short> units(bytes / 2, 0);
  FPDFTextObj_GetText(obj, tp, units.data(), static_cast<unsigned long>(units.size() * 2));
  while (!units.empty() && units.back() == 0) units.pop_back();
  return units;
}

bool holds_zero(const std::vector<unsigned short>& units) {
  return std::find(units.begin(), units.end(), 0) != units.end();
}

// Where the page shows a glyph that stands for no text (a code the font maps to U+0000). Text
// objects are rewritten from their text, which has no room for such a glyph: it would vanish.
std::vector<FS_RECTF> textless_glyphs(FPDF_TEXTPAGE tp) {
  std::vector<FS_RECTF> out;
  const int n = FPDFText_CountChars(tp);
  for (int i = 0; i < n; ++i) {
    if (FPDFText_GetUnicode(tp, i) != 0) continue;
    double l = 0, r = 0, b = 0, t = 0;
    if (FPDFText_GetCharBox(tp, i, &l, &r, &b, &t)) {
      out.push_back({static_cast<float>(l), static_cast<float>(t), static_cast<float>(r), static_cast<float>(b)});
    }
  }
  return out;
}

// Whether a glyph box lies in the object's bounds, edges included (an empty glyph box is a
// point at the glyph's origin).
bool covers_any(FPDF_PAGEOBJECT obj, const std::vector<FS_RECTF>& glyphs) {
  if (glyphs.empty()) return false;
  float l = 0, b = 0, r = 0, t = 0;
  if (!FPDFPageObj_GetBounds(obj, &l, &b, &r, &t)) return true;
  for (const FS_RECTF& g : glyphs) {
    const float cx = (g.left + g.right) / 2, cy = (g.top + g.bottom) / 2;
    if (cx >= l && cx <= r && cy >= b && cy <= t) return true;
  }
  return false;
}

std::string object_text(FPDF_PAGEOBJECT obj, FPDF_TEXTPAGE tp) {
  const std::vector<unsigned short> u = object_units(obj, tp);
  return utf16le_to_utf8(std::vector<uint16_t>(u.begin(), u.end()));
}

// Every occurrence, left to right; what the replacement brings in is never searched again.
bool replace_all(std::string& text, const std::string& from, const std::string& to) {
  size_t pos = text.find(from);
  if (pos == std::string::npos) return false;
  while (pos != std::string::npos) {
    text.replace(pos, from.size(), to);
    pos = text.find(from, pos + to.size());
  }
  return true;
}

}  // namespace

int PdfiumDocument::replace_text(int page, const std::string& find, const std::string& replacement) {
  std::lock_guard<std::mutex> g(lock());
  if (!doc_ || find.empty() || page < 0 || page >= FPDF_GetPageCount(doc_)) return 0;
  FPDF_PAGE p = cached_page(page);
  if (!p) return 0;
  FPDF_TEXTPAGE tp = FPDFText_LoadPage(p);
  if (!tp) return 0;
  const int count = FPDFPage_CountObjects(p);
  const std::vector<FS_RECTF> textless = textless_glyphs(tp);

  struct Changed {
    FPDF_PAGEOBJECT obj;
    std::vector<unsigned short> old_text;  // zero-terminated, to put back
    std::string new_text;
  };
  std::vector<Changed> changed;
  for (int i = 0; i < count; ++i) {
    FPDF_PAGEOBJECT obj = FPDFPage_GetObject(p, i);
    if (!obj || FPDFPageObj_GetType(obj) != QV_FPDF_PAGEOBJ_TEXT) continue;
    std::vector<unsigned short> old_units = object_units(obj, tp);
    // Text with a U+0000 cannot be set again whole: setting stops at the first zero unit.
    if (old_units.empty() || holds_zero(old_units) || covers_any(obj, textless)) continue;
    std::string text = utf16le_to_utf8(std::vector<uint16_t>(old_units.begin(), old_units.end()));
    if (!replace_all(text, find, replacement)) continue;
    if (!FPDFText_SetText(obj, utf8_to_utf16le(text).data())) continue;
    old_units.push_back(0);
    changed.push_back({obj, std::move(old_units), std::move(text)});
  }
  FPDFText_ClosePage(tp);
  if (changed.empty()) return 0;

  // A font without glyphs for the new characters takes the text silently and shows something
  // else; only reading the object back tells. Such objects get their old text again.
  int done = 0;
  FPDF_TEXTPAGE check = FPDFText_LoadPage(p);
  for (const Changed& c : changed) {
    if (check && object_text(c.obj, check) == c.new_text) {
      ++done;
    } else {
      FPDFText_SetText(c.obj, c.old_text.data());
    }
  }
  if (check) FPDFText_ClosePage(check);
  if (done == 0) return 0;
  FPDFPage_GenerateContent(p);
  content_removed_ = true;
  return done;
}

bool PdfiumDocument::insert_text(int page, const std::string& text, double x, double y, double font_size,
                                 unsigned rgb) {
  std::lock_guard<std::mutex> g(lock());
  if (!doc_ || text.empty() || page < 0 || page >= FPDF_GetPageCount(doc_)) return false;
  if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(font_size)) return false;
  FPDF_PAGE p = cached_page(page);
  if (!p) return false;
  FPDF_FONT font = document_text_font(*this);
  if (!font) return false;
  if (needs_unicode_font(text) && !has_truetype_font(*this)) return false;
  FPDF_PAGEOBJECT obj = FPDFPageObj_CreateTextObj(doc_, font, static_cast<float>(font_size));
  if (!obj) return false;
  if (!FPDFText_SetText(obj, utf8_to_utf16le(text).data())) {
    FPDFPageObj_Destroy(obj);
    return false;
  }
  FPDFPageObj_SetFillColor(obj, (rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF, 255);
  const PageOrigin o = page_origin(p);
  FPDFPageObj_Transform(obj, 1, 0, 0, 1, o.to_user_x(x), o.to_user_y(y));
  FPDFPage_InsertObject(p, obj);
  return FPDFPage_GenerateContent(p) != 0;
}

}  // namespace quorvel::pdfium
