// Text insertion, and replacement on the page's content stream.
#include <qpdf/QPDFPageObjectHelper.hh>

#include <algorithm>
#include <cmath>
#include <set>

#include "core/pdfium/content_edit.h"
#include "core/pdfium/pdfium_document.h"
#include "core/search.h"
#include "core/pdfium/pdfium_fonts.h"
#include "core/text_codec.h"

namespace quorvel::pdfium {

namespace {

std::u32string code_points(const std::string& utf8) {
  const std::vector<unsigned short> units = utf8_to_utf16le(utf8);
  std::u32string out;
  for (size_t i = 0; i < units.size() && units[i] != 0; ++i) {
    char32_t u = units[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      u = 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    }
    out.push_back(u);
  }
  return out;
}

bool blank(char32_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == 0xA0; }

// The reader's characters of each occurrence of `find` in the page's runs, as search finds them.
std::vector<std::vector<size_t>> occurrences(const TextPage& text, const std::string& find, const PageOrigin& o,
                                             const std::vector<PdfChar>& chars) {
  // Runs carry the reader's character boxes: a character is found again by its box.
  std::vector<PdfChar> corners = chars;
  for (PdfChar& c : corners) {
    c.x = c.left;
    c.y = c.bottom;
  }
  const OriginIndex by_box(corners);
  std::vector<std::vector<size_t>> out;
  search::Options exact;
  exact.case_sensitive = true;
  for (const TextRun& run : text.runs) {
    for (const search::Match& m : search::find_all(run.text, find, exact)) {
      std::vector<size_t> found;
      for (const CharBox& cb : run.chars) {
        if (cb.offset < m.offset || cb.offset >= m.offset + m.length) continue;
        const double l = o.to_user_x(cb.left), b = o.to_user_y(cb.bottom);
        const double r = o.to_user_x(cb.right), t = o.to_user_y(cb.top);
        for (size_t k : by_box.at(l, b)) {
          if (std::fabs(chars[k].right - r) <= 0.011 && std::fabs(chars[k].top - t) <= 0.011) {
            found.push_back(k);
            break;
          }
        }
      }
      out.push_back(std::move(found));
    }
  }
  return out;
}

// How far the occurrence reaches from the start of its first glyph to the end of its last, in
// the first glyph's text space: the room its replacement may take.
double room_of(const content::PageContent& c, std::pair<size_t, size_t> first, std::pair<size_t, size_t> last) {
  const content::Show& s1 = c.shows[first.first];
  const content::Show& sn = c.shows[last.first];
  const content::Glyph& g1 = c.glyphs[s1.first + first.second];
  const content::Glyph& gn = c.glyphs[sn.first + last.second];
  content::Matrix inv;
  if (sn.size == 0 || !g1.place.inverse(inv)) return -1;
  double ex = 0, ey = 0, u = 0, v = 0;
  gn.place.apply(gn.advance / sn.size, 0, ex, ey);
  inv.apply(ex, ey, u, v);
  return std::max(0.0, u * s1.size);
}

}  // namespace

int PdfiumDocument::replace_text(int page, const std::string& find, const std::string& replacement) {
  return replace_text_pages({page}, find, replacement).front();
}

std::vector<int> PdfiumDocument::replace_text_pages(const std::vector<int>& pages, const std::string& find,
                                                    const std::string& replacement) {
  std::vector<int> out(pages.size(), 0);
  if (find.empty()) return out;
  std::set<int> listed(pages.begin(), pages.end());
  if (listed.size() != pages.size()) return IDocument::replace_text_pages(pages, find, replacement);
  // The runs that search reads (extract_text takes the lock itself).
  std::vector<TextPage> texts;
  for (int page : pages) texts.push_back(extract_text(page));
  bool any = false;
  const bool written = edit_pages([&](ContentSession& session) {
    for (size_t i = 0; i < pages.size(); ++i) {
      out[i] = replace_in(session, pages[i], texts[i], find, replacement);
      any = any || out[i] > 0;
    }
  });
  if (any && !written) {
    for (int& r : out) r = r > 0 ? -1 : r;  // nothing of it reached the document
  }
  return out;
}

int PdfiumDocument::replace_in(ContentSession& session, int page, const TextPage& text, const std::string& find,
                               const std::string& replacement) {
  // PDFium's reading of the page holds the lock; the session's qpdf work does not.
  std::unique_lock<std::mutex> held(lock());
  if (!doc_ || page < 0 || page >= FPDF_GetPageCount(doc_)) return 0;
  FPDF_PAGE p = shown_page(page);
  if (!p) return 0;
  const std::vector<PdfChar> before = read_chars(p);
  const PageOrigin origin = page_origin(p);
  held.unlock();
  const std::vector<std::vector<size_t>> found = occurrences(text, find, origin, before);
  if (found.empty()) return 0;
  const std::u32string with = code_points(replacement);

  std::vector<size_t> gone;
  std::u32string expected;  // the printable characters the page gains
  int shows_changed = 0;
  const bool done = edit_page(
      session, page,
      [&](QPDFPageObjectHelper& qp, content::PageContent& c) {
        // Each reader character's glyph, by the glyph's origin; what the reader saw a code stand
        // for tells which codes can show the replacement.
        const OriginIndex index(before);
        constexpr size_t none = static_cast<size_t>(-1);
        std::vector<std::pair<size_t, size_t>> glyph_of(before.size(), {none, none});
        for (size_t si = 0; si < c.shows.size(); ++si) {
          const content::Show& s = c.shows[si];
          for (size_t k = 0; k < s.count; ++k) {
            const content::Glyph& gl = c.glyphs[s.first + k];
            for (size_t r : index.at(gl.reader_x, gl.reader_y)) {
              glyph_of[r] = {si, k};
              if (s.font && gl.known) s.font->learn(gl.code.value, gl.code.length, before[r].code);
            }
          }
        }
        std::map<size_t, std::vector<content::GlyphEdit>> edits;
        for (const std::vector<size_t>& occurrence : found) {
          std::vector<std::pair<size_t, size_t>> glyphs;
          for (size_t r : occurrence)
            if (glyph_of[r].first != none) glyphs.push_back(glyph_of[r]);
          std::sort(glyphs.begin(), glyphs.end());
          glyphs.erase(std::unique(glyphs.begin(), glyphs.end()), glyphs.end());
          if (glyphs.empty()) continue;
          bool ok = true;
          for (const auto& [si, k] : glyphs) {
            ok = ok && c.shows[si].editable;
            auto it = edits.find(si);
            ok = ok && (it == edits.end() || (!it->second[k].drop && it->second[k].insert.empty()));
          }
          const content::Show& first = c.shows[glyphs.front().first];
          std::vector<content::Font::Code> codes;
          for (char32_t ch : with) {
            if (!ok) break;
            if (std::optional<content::Font::Code> code = first.font->encode(ch)) codes.push_back(*code);
            else if (ch == ' ') codes.push_back({0, 0});
            else ok = false;
          }
          if (!ok) continue;  // the font cannot draw the replacement there
          for (const auto& [si, k] : glyphs) {
            std::vector<content::GlyphEdit>& e = edits[si];
            e.resize(c.shows[si].count);
            e[k].drop = true;
          }
          content::GlyphEdit& start = edits[glyphs.front().first][glyphs.front().second];
          start.insert = codes;
          start.room = room_of(c, glyphs.front(), glyphs.back());
          gone.insert(gone.end(), occurrence.begin(), occurrence.end());
          for (char32_t ch : with)
            if (!blank(ch)) expected.push_back(ch);
        }
        if (edits.empty()) return false;
        std::map<std::pair<size_t, size_t>, std::string> replaced;
        for (const auto& [si, e] : edits) {
          std::string op = content::rewrite_show(c, c.shows[si], e);
          if (op.empty()) return false;
          replaced[{c.shows[si].stream, c.shows[si].op}] = std::move(op);
        }
        shows_changed = static_cast<int>(replaced.size());
        content::write_page(qp, c, replaced, {});
        return true;
      },
      [&](FPDF_PAGE, FPDF_PAGE after_page) {
        // The rest of the page reads as before, and what is new is the replacement, whatever
        // spaces a reader puts around it.
        std::u32string added;
        if (!kept_text(before, gone, read_chars(after_page), added)) return false;
        std::sort(added.begin(), added.end());
        std::u32string want = expected;
        std::sort(want.begin(), want.end());
        return added == want;
      });
  return done ? shows_changed : -1;
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
