// Text insertion, and replacement on the page's content stream.
#include <qpdf/QPDFPageObjectHelper.hh>

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>

#include "core/pdfium/content_edit.h"
#include "core/pdfium/replace_plan.h"
#include "core/pdfium/replace_appearances.h"
#include "core/pdfium/pdfium_document.h"
#include "core/search.h"
#include "core/pdfium/pdfium_fonts.h"
#include "core/text_codec.h"

namespace quorvel::pdfium {

namespace {

using content::blank_char;

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
        // A ligature's letters share one box: each is taken once.
        for (size_t k : by_box.at(l, b)) {
          if (std::find(found.begin(), found.end(), k) != found.end()) continue;
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

constexpr size_t kNone = static_cast<size_t>(-1);

// How far upright text ending a line may run: the crop box's right edge less a margin as wide as
// the page's left one (taken from its leftmost glyph), and where there is no other room, into
// half of that margin.
content::LineLimits line_limits(QPDFPageObjectHelper& page, const content::PageContent& c) {
  QPDFObjectHandle box = page.getCropBox(false);
  if (!box.isRectangle()) return {};
  const QPDFObjectHandle::Rectangle r = box.getArrayAsRectangle();
  const double left = std::min(r.llx, r.urx), right = std::max(r.llx, r.urx);
  double first = INFINITY;
  for (const content::Glyph& g : c.glyphs)
    if (g.known) first = std::min(first, g.place.e);
  if (!std::isfinite(first) || first < left || first > right) return {};
  return {right - (first - left), right - (first - left) / 2};
}

// Each reader character's glyph, and each glyph's reader characters (a ligature has several),
// found by the glyph's origin; what the reader saw a code stand for teaches its font.
struct GlyphMap {
  std::vector<std::pair<size_t, size_t>> glyph_of;  // by reader character
  std::map<std::pair<size_t, size_t>, std::vector<size_t>> chars_of;

  GlyphMap(const content::PageContent& c, const std::vector<PdfChar>& chars) : glyph_of(chars.size(), {kNone, kNone}) {
    const OriginIndex index(chars);
    for (size_t si = 0; si < c.shows.size(); ++si) {
      const content::Show& s = c.shows[si];
      for (size_t k = 0; k < s.count; ++k) {
        const content::Glyph& gl = c.glyphs[s.first + k];
        std::vector<size_t> mine = index.at(gl.reader_x, gl.reader_y);
        std::sort(mine.begin(), mine.end());
        // A space the reader puts between words stands where the next word's first glyph does.
        if (std::any_of(mine.begin(), mine.end(), [&](size_t r) { return !chars[r].blank(); }))
          mine.erase(std::remove_if(mine.begin(), mine.end(), [&](size_t r) { return chars[r].blank(); }), mine.end());
        // A ligature's later letters may stand apart from its origin: they follow it.
        const size_t letters = s.font ? s.font->text(gl.code.value).size() : 0;
        if (mine.size() == 1 && letters > 1) {
          for (size_t r = mine[0] + 1; r < chars.size() && mine.size() < letters && !chars[r].blank(); ++r)
            mine.push_back(r);
        }
        if (mine.empty()) continue;
        std::u32string seen;
        for (size_t r : mine) {
          glyph_of[r] = {si, k};
          seen.push_back(chars[r].code);
        }
        chars_of[{si, k}] = mine;
        if (s.font && gl.known) s.font->learn(gl.code.value, gl.code.length, seen);
      }
    }
  }
};

// The glyphs of an occurrence given as reader characters, with the letters of a ligature at its
// ends that lie outside it (their characters join `gone`).
content::Occurrence occurrence_of(const GlyphMap& map, const std::vector<size_t>& chars,
                                  const std::vector<PdfChar>& reader, std::vector<size_t>& gone) {
  content::Occurrence o;
  for (size_t r : chars)
    if (map.glyph_of[r].first != kNone) o.glyphs.push_back(map.glyph_of[r]);
  std::sort(o.glyphs.begin(), o.glyphs.end());
  o.glyphs.erase(std::unique(o.glyphs.begin(), o.glyphs.end()), o.glyphs.end());
  if (o.glyphs.empty() || chars.empty()) return o;
  const size_t lo = *std::min_element(chars.begin(), chars.end()), hi = *std::max_element(chars.begin(), chars.end());
  gone.insert(gone.end(), chars.begin(), chars.end());
  for (size_t r : map.chars_of.at(o.glyphs.front()))
    if (r < lo) {
      o.before.push_back(reader[r].code);
      gone.push_back(r);
    }
  for (size_t r : map.chars_of.at(o.glyphs.back()))
    if (r > hi) {
      o.after.push_back(reader[r].code);
      gone.push_back(r);
    }
  return o;
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
  const std::map<int, TextReplacement> done = replace_counted(pages, false, find, replacement);
  for (size_t i = 0; i < pages.size(); ++i) {
    auto it = done.find(pages[i]);
    if (it == done.end()) continue;
    // A page whose occurrences all stayed gives -1, as does one whose rewrite was not kept.
    out[i] = it->second.replaced > 0 ? std::max(it->second.operators, 1) : -1;
  }
  return out;
}

std::map<int, TextReplacement> PdfiumDocument::replace_text_everywhere(const std::vector<int>& text_pages,
                                                                       const std::string& find,
                                                                       const std::string& replacement) {
  if (find.empty()) return {};
  const std::set<int> listed(text_pages.begin(), text_pages.end());
  return replace_counted(std::vector<int>(listed.begin(), listed.end()), true, find, replacement);
}

std::map<int, TextReplacement> PdfiumDocument::replace_counted(const std::vector<int>& text_pages,
                                                               bool every_page_annotations, const std::string& find,
                                                               const std::string& replacement) {
  std::map<int, TextReplacement> out;
  // The runs that search reads (extract_text takes the lock itself).
  std::vector<TextPage> texts;
  for (int page : text_pages) texts.push_back(extract_text(page));
  const std::u32string from = content::code_points(find), with = content::code_points(replacement);
  int count = 0;
  {
    std::lock_guard<std::mutex> g(lock());
    if (!doc_) return out;
    count = FPDF_GetPageCount(doc_);
  }
  // The rewrite takes the lock only for PDFium's calls: the qpdf work leaves every tab free.
  const bool written = edit_pages([&](ContentSession& session) {
    for (size_t i = 0; i < text_pages.size(); ++i) {
      TextReplacement r = replace_in(session, text_pages[i], texts[i], find, replacement);
      if (r.replaced + r.left() > 0) out[text_pages[i]] = r;
    }
    std::vector<int> annotated = text_pages;
    if (every_page_annotations) {
      annotated.clear();
      for (int p = 0; p < count; ++p) annotated.push_back(p);
    }
    for (int p : annotated) {
      TextReplacement r;
      edit_appearances(session, p, [&](QPDFPageObjectHelper& qp, const content::Font::StandardWidth& widths) {
        return content::replace_in_appearances(qp, widths, from, with, r);
      });
      if (r.replaced + r.left() == 0) continue;
      out[p] += r;
    }
  });
  if (!written) {
    // Nothing of it reached the document.
    for (auto& [page, r] : out) {
      r.not_read_back += r.replaced;
      r.replaced = 0;
      r.moved_words = 0;
      r.operators = 0;
    }
  }
  return out;
}

TextReplacement PdfiumDocument::replace_in(ContentSession& session, int page, const TextPage& text,
                                           const std::string& find, const std::string& replacement) {
  TextReplacement result;
  // PDFium's reading of the page holds the lock; the session's qpdf work does not.
  std::unique_lock<std::mutex> held(lock());
  if (!doc_ || page < 0 || page >= FPDF_GetPageCount(doc_)) return result;
  FPDF_PAGE p = shown_page(page);
  if (!p) return result;
  const std::vector<PdfChar> before = read_chars(p);
  const PageOrigin origin = page_origin(p);
  held.unlock();
  const std::vector<std::vector<size_t>> found = occurrences(text, find, origin, before);
  if (found.empty()) return result;
  const std::u32string with = content::code_points(replacement);

  // Everything the page's edits so far took away and added, which the check of the next one
  // expects as well.
  std::vector<size_t> gone_total;
  std::u32string expected_total;
  std::map<size_t, std::pair<double, double>> moved_total;  // reader characters' new origins
  // One attempt with the given occurrences; their outcomes go to `outcome`.
  int moved = 0;  // occurrences kept that moved words along their line
  auto attempt = [&](const std::vector<size_t>& which, std::vector<content::LeftReason>& outcome) {
    std::vector<size_t> gone = gone_total;
    std::u32string expected = expected_total;
    std::map<size_t, std::pair<double, double>> relocated = moved_total;
    int shows = 0;
    content::ReplacementPlan plan;
    const bool kept = edit_page(
        session, page,
        [&](QPDFPageObjectHelper& qp, content::PageContent& c) {
          const GlyphMap map(c, before);
          std::vector<content::Occurrence> occ;
          for (size_t i : which) occ.push_back(occurrence_of(map, found[i], before, gone));
          plan = content::plan_replacement(c, occ, with, line_limits(qp, c));
          // Characters of occurrences that stay are not gone.
          std::vector<size_t> really = gone_total;
          for (size_t n = 0; n < occ.size(); ++n) {
            if (plan.outcome[n] != content::LeftReason::None) continue;
            std::vector<size_t> one;
            occurrence_of(map, found[which[n]], before, one);
            really.insert(really.end(), one.begin(), one.end());
          }
          // So are the leaders a longer line took the place of.
          for (const auto& g : plan.dropped) {
            auto it = map.chars_of.find(g);
            if (it != map.chars_of.end()) really.insert(really.end(), it->second.begin(), it->second.end());
          }
          // Words moved along their line to make room read the same, where they went.
          for (const content::MovedGlyph& g : plan.moved) {
            auto it = map.chars_of.find({g.show, g.glyph});
            if (it == map.chars_of.end()) continue;
            for (size_t r : it->second) relocated[r] = {before[r].x + g.dx, before[r].y + g.dy};
          }
          gone = std::move(really);
          expected += plan.expected;
          const auto replaced = content::rewritten_shows(c, plan);
          if (replaced.empty()) return false;
          shows = static_cast<int>(replaced.size());
          content::write_page(qp, c, replaced, {});
          return true;
        },
        [&](FPDF_PAGE, FPDF_PAGE after_page) {
          // The rest of the page reads as before, and what is new is the replacement, whatever
          // spaces a reader puts around it.
          std::u32string added;
          if (!kept_text(before, gone, read_chars(after_page), added, relocated)) return false;
          std::sort(added.begin(), added.end());
          std::u32string want = expected;
          std::sort(want.begin(), want.end());
          return added == want;
        });
    outcome = plan.outcome;
    if (outcome.size() != which.size()) outcome.assign(which.size(), content::LeftReason::NotEditable);
    for (char32_t ch : plan.missing)
      if (result.missing.find(ch) == std::u32string::npos) result.missing.push_back(ch);
    if (kept) {
      gone_total = std::move(gone);
      expected_total = std::move(expected);
      moved_total = std::move(relocated);
      result.operators += shows;
      for (size_t n = 0; n < plan.moves.size(); ++n) moved += plan.moves[n] && plan.outcome[n] == content::LeftReason::None;
    }
    return kept;
  };

  std::vector<size_t> all(found.size());
  for (size_t i = 0; i < all.size(); ++i) all[i] = i;
  std::vector<content::LeftReason> outcome;
  const bool kept = attempt(all, outcome);
  const bool any_planned =
      std::any_of(outcome.begin(), outcome.end(), [](content::LeftReason r) { return r == content::LeftReason::None; });
  if (kept || !any_planned) {
    for (content::LeftReason r : outcome) content::count_outcome(result, r);
    result.moved_words = moved;
    return result;
  }
  // The page as a whole did not read back as intended: each occurrence on its own, so that one
  // that does not spoil the rest.
  for (size_t i = 0; i < found.size(); ++i) {
    std::vector<content::LeftReason> one;
    if (outcome[i] != content::LeftReason::None) {
      content::count_outcome(result, outcome[i]);
    } else if (attempt({i}, one)) {
      content::count_outcome(result, one.front());
    } else if (!one.empty() && one.front() != content::LeftReason::None) {
      content::count_outcome(result, one.front());
    } else {
      ++result.not_read_back;
    }
  }
  result.moved_words = moved;
  return result;
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
