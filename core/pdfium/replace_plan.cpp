#include "core/pdfium/replace_plan.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>

#include "core/pdfium/line_room.h"
#include "core/text_codec.h"

namespace quorvel::content {

bool blank_char(char32_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == 0xA0; }

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

void count_outcome(TextReplacement& r, LeftReason why) {
  switch (why) {
    case LeftReason::None: ++r.replaced; break;
    case LeftReason::MissingGlyph: ++r.missing_glyphs; break;
    case LeftReason::NoRoom: ++r.no_room; break;
    case LeftReason::NotEditable: ++r.not_editable; break;
  }
}

bool blank_glyph(const Show& s, const Glyph& g) {
  const std::u32string t = s.font ? s.font->text(g.code.value) : std::u32string();
  return t.empty() ? (g.code.length == 1 && g.code.value == 32) : std::all_of(t.begin(), t.end(), blank_char);
}

namespace {

// A blank glyph of a show whose other glyphs moved goes with the kept glyph before it (the one
// after it when it leads), so that a reader finds its space where the words part.
void move_blanks(const PageContent& c, size_t si, std::vector<GlyphEdit>& e) {
  const Show& s = c.shows[si];
  double last = 0;
  bool have = false;
  std::vector<size_t> leading;
  for (size_t k = 0; k < s.count; ++k) {
    const Glyph& g = c.glyphs[s.first + k];
    const bool kept = !e[k].drop && e[k].insert.empty();
    if (!blank_glyph(s, g)) {
      const double now = kept ? e[k].shift : 0;
      if (!have)
        for (size_t b : leading) e[b].shift = now;
      last = now;
      have = true;
    } else if (kept) {
      if (have) e[k].shift = last;
      else leading.push_back(k);
    }
  }
}

}  // namespace

ReplacementPlan plan_replacement(const PageContent& c, const std::vector<Occurrence>& found, const std::u32string& with,
                                 const LineLimits& limits) {
  ReplacementPlan plan;
  LineState state(c);
  for (const Occurrence& o : found) {
    plan.outcome.push_back(LeftReason::NotEditable);
    plan.moves.push_back(false);
    if (o.glyphs.empty()) continue;
    bool ok = true;
    for (const auto& [si, k] : o.glyphs) ok = ok && c.shows[si].editable && !state.dropped[c.shows[si].first + k];
    if (!ok) continue;
    const Show& first = c.shows[o.glyphs.front().first];
    const std::u32string text = o.before + with + o.after;
    std::vector<Font::Code> codes;
    std::u32string missing;
    if (!first.font->encode_text(text, codes, missing)) {
      for (char32_t ch : missing)
        if (plan.missing.find(ch) == std::u32string::npos) plan.missing.push_back(ch);
      plan.outcome.back() = LeftReason::MissingGlyph;
      continue;
    }
    const double natural = inserted_width(first, codes);
    if (natural < 0) continue;
    const Fit where = fit_on_line(c, o, state, natural, limits);
    if (!where.ok) {
      plan.outcome.back() = LeftReason::NoRoom;
      continue;
    }
    auto edit = [&](size_t si, size_t k) -> GlyphEdit& {
      std::vector<GlyphEdit>& e = plan.edits[si];
      e.resize(c.shows[si].count);
      return e[k];
    };
    for (const auto& [si, k] : o.glyphs) edit(si, k).drop = true;
    GlyphEdit& start = edit(o.glyphs.front().first, o.glyphs.front().second);
    start.insert = codes;
    start.room = where.room;
    start.shift = where.insert_shift;
    for (size_t g : where.drops) {
      const size_t si = state.show_of[g], k = g - c.shows[si].first;
      edit(si, k).drop = true;
      plan.dropped.emplace_back(si, k);
    }
    std::set<size_t> moved_shows;
    for (const Move& m : where.moves) {
      const size_t si = state.show_of[m.glyph];
      edit(si, m.glyph - c.shows[si].first).shift += m.shift;
      moved_shows.insert(si);
    }
    for (size_t si : moved_shows) move_blanks(c, si, plan.edits[si]);
    plan.moves.back() = !where.moves.empty() || where.insert_shift != 0 || !where.drops.empty();
    place(state, c, o, where);
    // Where each moved glyph now stands, with what earlier occurrences did to it.
    for (const Move& m : where.moves) {
      const size_t si = state.show_of[m.glyph];
      plan.moved.push_back({si, m.glyph - c.shows[si].first, state.offset[m.glyph].first, state.offset[m.glyph].second});
    }
    for (char32_t ch : text)
      if (!blank_char(ch)) plan.expected.push_back(ch);
    plan.outcome.back() = LeftReason::None;
  }
  return plan;
}

std::map<std::pair<size_t, size_t>, std::string> rewritten_shows(const PageContent& c, const ReplacementPlan& plan) {
  std::map<std::pair<size_t, size_t>, std::string> out;
  for (const auto& [si, e] : plan.edits) {
    std::string op = rewrite_show(c, c.shows[si], e);
    if (op.empty()) return {};
    out[{c.shows[si].stream, c.shows[si].op}] = std::move(op);
  }
  return out;
}

}  // namespace quorvel::content
