#include "core/pdfium/replace_appearances.h"

#include <qpdf/QPDF.hh>

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/pdfium/replace_plan.h"
#include "core/text_codec.h"

namespace quorvel::content {

namespace {

constexpr size_t kNone = static_cast<size_t>(-1);

std::u32string without_blanks(const std::u32string& s) {
  std::u32string out;
  for (char32_t c : s)
    if (!blank_char(c)) out.push_back(c);
  return out;
}

std::string utf8(const std::u32string& s) {
  std::string out;
  for (char32_t c : s) append_utf8(out, c);
  return out;
}

// Every occurrence of `find` in `text`, left to right, none overlapping.
std::vector<size_t> positions(const std::u32string& text, const std::u32string& find) {
  std::vector<size_t> out;
  for (size_t at = text.find(find); !find.empty() && at != std::u32string::npos; at = text.find(find, at + find.size()))
    out.push_back(at);
  return out;
}

QPDFObjectHandle stream_like(QPDF& q, QPDFObjectHandle original, const std::string& data) {
  QPDFObjectHandle copy = QPDFObjectHandle::newStream(&q, data);
  QPDFObjectHandle dict = copy.getDict();
  for (const std::string& key : original.getDict().getKeys())
    if (key != "/Length" && key != "/Filter" && key != "/DecodeParms") dict.replaceKey(key, original.getDict().getKey(key));
  return copy;
}

}  // namespace

AppearanceText appearance_text(const PageContent& c) {
  AppearanceText out;
  const Glyph* prev = nullptr;
  for (size_t si = 0; si < c.shows.size(); ++si) {
    const Show& s = c.shows[si];
    for (size_t k = 0; k < s.count; ++k) {
      const Glyph& g = c.glyphs[s.first + k];
      if (prev) {
        Matrix inv;
        double u = 0, v = 0;
        if (prev->place.inverse(inv)) inv.apply(g.place.e, g.place.f, u, v);
        if (std::fabs(v) > 0.5) {
          out.text.push_back('\n');
          out.glyph.push_back({kNone, kNone});
        } else if (u - prev->width > 0.15 || u < -0.05) {
          out.text.push_back(' ');
          out.glyph.push_back({kNone, kNone});
        }
      }
      std::u32string t = s.font ? s.font->text(g.code.value) : std::u32string();
      if (t.empty()) t.assign(1, 0xFFFD);
      for (char32_t ch : t) {
        out.text.push_back(ch);
        out.glyph.push_back({si, k});
      }
      prev = &g;
    }
  }
  return out;
}

bool replace_in_appearances(QPDFPageObjectHelper& page, const Font::StandardWidth& widths, const std::u32string& find,
                            const std::u32string& with, TextReplacement& r) {
  QPDFObjectHandle annots = page.getObjectHandle().getKey("/Annots");
  if (!annots.isArray() || find.empty()) return false;
  QPDF* q = page.getObjectHandle().getOwningQPDF();
  bool changed = false;
  for (int i = 0; i < annots.getArrayNItems(); ++i) {
    QPDFObjectHandle a = annots.getArrayItem(i);
    if (!a.isDictionary()) continue;
    QPDFObjectHandle ap = a.getKey("/AP");
    QPDFObjectHandle normal = ap.isDictionary() ? ap.getKey("/N") : QPDFObjectHandle();
    if (!normal.isStream()) continue;
    PageContent c;
    try {
      if (!read_form(normal, widths, c)) continue;
    } catch (...) {
      continue;
    }
    const AppearanceText shown = appearance_text(c);
    const std::vector<size_t> at = positions(shown.text, find);
    if (at.empty()) continue;
    const bool field = a.getKey("/Subtype").isName() && a.getKey("/Subtype").getName() == "/Widget";
    if (field || !q) {
      r.in_fields += static_cast<int>(at.size());
      continue;
    }
    // The glyphs of each occurrence, with a ligature's letters outside it drawn again.
    std::vector<Occurrence> occ;
    std::vector<bool> inner(at.size(), true);  // drawn by the appearance itself, not a form in it
    for (size_t n = 0; n < at.size(); ++n) {
      Occurrence o;
      for (size_t p = at[n]; p < at[n] + find.size(); ++p) {
        const auto g = shown.glyph[p];
        if (g.first == kNone) continue;
        if (c.shows[g.first].stream != 0) inner[n] = false;
        if (o.glyphs.empty() || o.glyphs.back() != g) o.glyphs.push_back(g);
      }
      if (!o.glyphs.empty()) {
        for (size_t p = at[n]; p-- > 0 && shown.glyph[p] == o.glyphs.front();) o.before.insert(o.before.begin(), shown.text[p]);
        for (size_t p = at[n] + find.size(); p < shown.text.size() && shown.glyph[p] == o.glyphs.back(); ++p)
          o.after.push_back(shown.text[p]);
      }
      if (!inner[n]) o.glyphs.clear();  // planned as not editable
      occ.push_back(std::move(o));
    }
    // The appearance's box bounds it, less a point of padding; beyond it nothing is drawn.
    content::LineLimits right;
    QPDFObjectHandle bbox = normal.getDict().getKey("/BBox");
    if (bbox.isArray() && bbox.getArrayNItems() == 4 && bbox.getArrayItem(0).isNumber() && bbox.getArrayItem(2).isNumber())
      right.text = std::max(bbox.getArrayItem(0).getNumericValue(), bbox.getArrayItem(2).getNumericValue()) - 1;
    ReplacementPlan plan = plan_replacement(c, occ, with, right);
    for (char32_t ch : plan.missing)
      if (r.missing.find(ch) == std::u32string::npos) r.missing.push_back(ch);
    const auto replaced = rewritten_shows(c, plan);
    const int planned = static_cast<int>(std::count(plan.outcome.begin(), plan.outcome.end(), LeftReason::None));
    bool kept = false;
    if (planned > 0 && !replaced.empty()) {
      // Read back: the appearance shows what it showed, with the replaced occurrences' text
      // changed, whatever spaces stand around it.
      std::u32string want;
      size_t from = 0;
      for (size_t n = 0; n < at.size(); ++n) {
        if (plan.outcome[n] != LeftReason::None) continue;
        want += shown.text.substr(from, at[n] - from) + with;
        from = at[n] + find.size();
      }
      want += shown.text.substr(from);
      QPDFObjectHandle fresh = stream_like(*q, normal, spliced_stream(c, 0, replaced));
      PageContent after;
      try {
        kept = read_form(fresh, widths, after) && without_blanks(appearance_text(after).text) == without_blanks(want);
      } catch (...) {
        kept = false;
      }
      if (kept) {
        QPDFObjectHandle own = ap.shallowCopy();
        own.replaceKey("/N", fresh);
        a.replaceKey("/AP", own);
        // A viewer that draws the annotation again from its text shows the same.
        QPDFObjectHandle contents = a.getKey("/Contents");
        if (contents.isString()) {
          std::string text = contents.getUTF8Value();
          const std::string f = utf8(find), w = utf8(with);
          for (size_t p = text.find(f); p != std::string::npos; p = text.find(f, p + w.size())) text.replace(p, f.size(), w);
          a.replaceKey("/Contents", QPDFObjectHandle::newUnicodeString(text));
        }
        r.operators += static_cast<int>(replaced.size());
        for (size_t n = 0; n < plan.moves.size(); ++n) r.moved_words += plan.moves[n] && plan.outcome[n] == LeftReason::None;
        changed = true;
      }
    }
    for (LeftReason why : plan.outcome) {
      if (why == LeftReason::None && !kept) ++r.not_read_back;
      else count_outcome(r, why);
    }
  }
  return changed;
}

}  // namespace quorvel::content
