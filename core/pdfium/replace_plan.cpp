#include "core/pdfium/replace_plan.h"

#include <algorithm>
#include <cmath>
#include <limits>

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

namespace {

const Glyph& glyph(const PageContent& c, std::pair<size_t, size_t> at) {
  return c.glyphs[c.shows[at.first].first + at.second];
}

bool blank_glyph(const Show& s, const Glyph& g) {
  const std::u32string t = s.font ? s.font->text(g.code.value) : std::u32string();
  return t.empty() ? (g.code.length == 1 && g.code.value == 32) : std::all_of(t.begin(), t.end(), blank_char);
}

// How far the occurrence reaches from the start of its first glyph to the end of its last, and
// how far its replacement may reach without touching the next glyph on its line (or, at the end
// of a line, past the right edge of the page's text): both in the first glyph's text space.
struct Room {
  double own = -1, free = -1;
};

Room room_of(const PageContent& c, const Occurrence& o, double right_limit) {
  const std::pair<size_t, size_t> first = o.glyphs.front(), last = o.glyphs.back();
  const Show& s1 = c.shows[first.first];
  const Show& sn = c.shows[last.first];
  const Glyph& g1 = glyph(c, first);
  const Glyph& gn = glyph(c, last);
  Matrix inv;
  Room r;
  if (sn.size == 0 || s1.size == 0 || !g1.place.inverse(inv)) return r;
  auto local = [&](const Glyph& g, double along, double& u, double& v) {
    double x = 0, y = 0;
    g.place.apply(along, 0, x, y);
    inv.apply(x, y, u, v);
  };
  double end = 0, v = 0;
  local(gn, gn.advance / sn.size, end, v);
  r.own = std::max(0.0, end * s1.size);
  // The glyphs after it on its baseline, and the right edge of text running the same way.
  double next = INFINITY, edge = end;
  double ax = 0, ay = 0;
  g1.place.apply(1, 0, ax, ay);
  const double ox = g1.place.e, oy = g1.place.f;
  std::vector<bool> own(c.glyphs.size(), false);
  for (const auto& at : o.glyphs) own[c.shows[at.first].first + at.second] = true;
  for (const Show& s : c.shows) {
    for (size_t k = 0; k < s.count; ++k) {
      const Glyph& g = c.glyphs[s.first + k];
      if (!g.known || own[s.first + k] || blank_glyph(s, g)) continue;
      double gx = 0, gy = 0;
      g.place.apply(1, 0, gx, gy);
      // Only text running the same way counts.
      const double cross = (ax - ox) * (gy - g.place.f) - (ay - oy) * (gx - g.place.e);
      if (std::fabs(cross) > 1e-3 * (std::fabs(ax - ox) + std::fabs(ay - oy)) * (std::fabs(gx - g.place.e) + std::fabs(gy - g.place.f)) + 1e-9)
        continue;
      double u0 = 0, v0 = 0, u1 = 0, v1 = 0;
      local(g, 0, u0, v0);
      local(g, g.width, u1, v1);
      edge = std::max(edge, u1);
      if (std::fabs(v0) < 0.3 && u0 > end - 0.05) next = std::min(next, u0);
    }
  }
  if (!std::isfinite(next) && std::isfinite(right_limit) && ax - ox > 0 && std::fabs(ay - oy) < 1e-6 * (ax - ox)) {
    double u = 0, v2 = 0;
    inv.apply(right_limit, oy, u, v2);
    edge = std::max(edge, u);
  }
  // A tenth of the size keeps a word gap a reader still sees.
  const double limit = std::isfinite(next) ? next - 0.1 : edge;
  r.free = std::max(r.own, limit * s1.size);
  return r;
}

}  // namespace

ReplacementPlan plan_replacement(const PageContent& c, const std::vector<Occurrence>& found, const std::u32string& with,
                                 double right_limit) {
  ReplacementPlan plan;
  std::vector<bool> taken(c.glyphs.size(), false);
  for (const Occurrence& o : found) {
    plan.outcome.push_back(LeftReason::NotEditable);
    if (o.glyphs.empty()) continue;
    bool ok = true;
    for (const auto& [si, k] : o.glyphs) ok = ok && c.shows[si].editable && !taken[c.shows[si].first + k];
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
    const Room room = room_of(c, o, right_limit);
    const double natural = inserted_width(first, codes);
    if (room.own < 0 || natural < 0) continue;
    double limit = -1;  // drawn at its own width
    if (natural > room.free + 1e-9) {
      if (natural * kNarrowestScale > room.free + 1e-9) {
        plan.outcome.back() = LeftReason::NoRoom;
        continue;
      }
      limit = room.free;
    }
    for (const auto& [si, k] : o.glyphs) {
      std::vector<GlyphEdit>& e = plan.edits[si];
      e.resize(c.shows[si].count);
      e[k].drop = true;
      taken[c.shows[si].first + k] = true;
    }
    GlyphEdit& start = plan.edits[o.glyphs.front().first][o.glyphs.front().second];
    start.insert = codes;
    start.room = limit;
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
