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

// Positions in the text space of an occurrence's first glyph (its glyph space; times the size
// gives text space before horizontal scaling).
class Frame {
 public:
  Frame(const PageContent& c, const Glyph& g1, double right_limit) : c_(c), g1_(g1), right_limit_(right_limit) {
    ok_ = g1.place.inverse(inv_);
    g1.place.apply(1, 0, ax_, ay_);
  }
  bool ok() const { return ok_; }
  void local(const Glyph& g, double along, double& u, double& v) const {
    double x = 0, y = 0;
    g.place.apply(along, 0, x, y);
    inv_.apply(x, y, u, v);
  }
  // How far text may reach from `end` (on the baseline) without touching the next glyph of the
  // line, less a tenth of the size that keeps a word gap a reader still sees; at the end of a
  // line, up to the right edge of the page's text (or `right_limit`).
  double free_after(double end, const std::vector<bool>& skip) const {
    double next = INFINITY, edge = end;
    const double ox = g1_.place.e, oy = g1_.place.f;
    for (const Show& s : c_.shows) {
      for (size_t k = 0; k < s.count; ++k) {
        const Glyph& g = c_.glyphs[s.first + k];
        if (!g.known || skip[s.first + k] || blank_glyph(s, g)) continue;
        double gx = 0, gy = 0;
        g.place.apply(1, 0, gx, gy);
        // Only text running the same way counts.
        const double cross = (ax_ - ox) * (gy - g.place.f) - (ay_ - oy) * (gx - g.place.e);
        if (std::fabs(cross) > 1e-3 * (std::fabs(ax_ - ox) + std::fabs(ay_ - oy)) *
                                   (std::fabs(gx - g.place.e) + std::fabs(gy - g.place.f)) + 1e-9)
          continue;
        double u0 = 0, v0 = 0, u1 = 0, v1 = 0;
        local(g, 0, u0, v0);
        local(g, g.width, u1, v1);
        edge = std::max(edge, u1);
        if (std::fabs(v0) < 0.3 && u0 > end - 0.05) next = std::min(next, u0);
      }
    }
    if (!std::isfinite(next) && std::isfinite(right_limit_) && ax_ - ox > 0 && std::fabs(ay_ - oy) < 1e-6 * (ax_ - ox)) {
      double u = 0, v = 0;
      inv_.apply(right_limit_, oy, u, v);
      edge = std::max(edge, u);
    }
    return std::max(end, std::isfinite(next) ? next - 0.1 : edge);
  }

 private:
  const PageContent& c_;
  const Glyph& g1_;
  double right_limit_;
  Matrix inv_;
  double ax_ = 0, ay_ = 0;
  bool ok_ = false;
};

// Where the replacement goes: the width it may take, and how far the kept glyphs after it in
// its operator move to make room (their word gaps shrink, down to a fifth of the size, and the
// line's free end takes the rest).
struct Fit {
  bool ok = false;
  double room = -1;  // for GlyphEdit::room
  std::vector<std::pair<size_t, double>> shifts;  // glyph in the last show, its shift
};

Fit fit(const PageContent& c, const Occurrence& o, const std::vector<bool>& others, double natural, double right_limit) {
  Fit f;
  const auto [si, last] = o.glyphs.back();
  const Show& s1 = c.shows[o.glyphs.front().first];
  const Show& sn = c.shows[si];
  const Glyph& gn = glyph(c, o.glyphs.back());
  const Frame frame(c, glyph(c, o.glyphs.front()), right_limit);
  if (!frame.ok() || s1.size == 0 || sn.size == 0) return f;
  std::vector<bool> own(c.glyphs.size(), false);
  for (const auto& at : o.glyphs) own[c.shows[at.first].first + at.second] = true;
  double end = 0, v = 0;
  frame.local(gn, gn.advance / sn.size, end, v);
  const double size = s1.size, own_width = std::max(0.0, end * size);
  const double free = frame.free_after(end, own) * size;
  if (natural <= free + 1e-9) {
    f.ok = true;
    return f;
  }
  // The gaps after it in its operator, and the free end after the operator's last glyph.
  struct Gap {
    size_t k;
    double shrink;
  };
  std::vector<Gap> gaps;
  double pen = end;  // the end of the last visible glyph so far
  bool blocked = false;  // another occurrence's glyph follows: nothing past it may move
  for (size_t k = last + 1; k < sn.count && !blocked; ++k) {
    const Glyph& g = c.glyphs[sn.first + k];
    if (others[sn.first + k]) {
      blocked = true;
      break;
    }
    if (blank_glyph(sn, g)) continue;
    double u0 = 0, u1 = 0, w = 0;
    frame.local(g, 0, u0, w);
    frame.local(g, g.width, u1, w);
    const double gap = (u0 - pen) * size;
    gaps.push_back({k, gap >= 0.15 * size ? gap - 0.2 * size : 0});
    pen = std::max(pen, u1);
  }
  std::vector<bool> line_own = own;
  for (size_t k = last + 1; k < sn.count; ++k) line_own[sn.first + k] = true;
  const double tail = blocked ? 0 : std::max(0.0, frame.free_after(pen, line_own) * size - pen * size);
  // Narrowed a little into the free space beside it, before anything moves.
  if (natural * kNarrowestScale <= free + 1e-9) {
    f.ok = true;
    f.room = free;
    return f;
  }
  for (const double scale : {1.0, kNarrowestScale}) {
    double shift = natural * scale - own_width;
    std::vector<std::pair<size_t, double>> shifts;
    for (const Gap& g : gaps) {
      shift -= std::min(shift, g.shrink);
      if (shift <= 1e-9) break;
      shifts.push_back({g.k, shift});
    }
    if (shift > tail + 1e-9) continue;
    f.ok = true;
    f.room = scale == 1.0 ? -1 : natural * scale;
    f.shifts = std::move(shifts);
    return f;
  }
  return f;
}

}  // namespace

ReplacementPlan plan_replacement(const PageContent& c, const std::vector<Occurrence>& found, const std::u32string& with,
                                 double right_limit) {
  ReplacementPlan plan;
  std::vector<bool> taken(c.glyphs.size(), false), others(c.glyphs.size(), false);
  for (const Occurrence& o : found)
    for (const auto& [si, k] : o.glyphs) others[c.shows[si].first + k] = true;
  for (const Occurrence& o : found) {
    plan.outcome.push_back(LeftReason::NotEditable);
    plan.moves.push_back(false);
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
    const double natural = inserted_width(first, codes);
    if (natural < 0) continue;
    const Fit where = fit(c, o, others, natural, right_limit);
    if (!where.ok) {
      plan.outcome.back() = LeftReason::NoRoom;
      continue;
    }
    const double limit = where.room;
    for (const auto& [si, k] : o.glyphs) {
      std::vector<GlyphEdit>& e = plan.edits[si];
      e.resize(c.shows[si].count);
      e[k].drop = true;
      taken[c.shows[si].first + k] = true;
    }
    GlyphEdit& start = plan.edits[o.glyphs.front().first][o.glyphs.front().second];
    start.insert = codes;
    start.room = limit;
    plan.moves.back() = !where.shifts.empty();
    if (!where.shifts.empty()) {
      // Each kept glyph up to the last one moved takes the shift of the next listed glyph.
      const size_t si = o.glyphs.back().first;
      std::vector<GlyphEdit>& e = plan.edits[si];
      e.resize(c.shows[si].count);
      size_t at = 0;
      for (size_t k = o.glyphs.back().second + 1; k < c.shows[si].count && at < where.shifts.size(); ++k) {
        e[k].shift = where.shifts[at].second;
        if (!blank_glyph(c.shows[si], c.glyphs[c.shows[si].first + k])) plan.moved.push_back({si, k});
        if (k == where.shifts[at].first) ++at;
      }
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
