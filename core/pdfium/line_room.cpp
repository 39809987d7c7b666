#include "core/pdfium/line_room.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

#include "core/pdfium/replace_plan.h"

namespace quorvel::content {

LineState::LineState(const PageContent& c)
    : show_of(c.glyphs.size(), 0),
      dropped(c.glyphs.size(), false),
      offset(c.glyphs.size(), {0.0, 0.0}),
      movable(c.shows.size(), false) {
  std::map<std::pair<size_t, size_t>, int> drawn;
  for (const Show& s : c.shows) ++drawn[{s.stream, s.op}];
  for (size_t si = 0; si < c.shows.size(); ++si) {
    const Show& s = c.shows[si];
    for (size_t k = 0; k < s.count && s.first + k < c.glyphs.size(); ++k) show_of[s.first + k] = si;
    // A form drawn twice shares its operators between both drawings; an array that readers read
    // differently is left as it is unless its own text changes.
    movable[si] = s.movable && !s.foreign && s.font && s.size > 0 && drawn[{s.stream, s.op}] == 1;
  }
}

namespace {

constexpr size_t kOwn = std::numeric_limits<size_t>::max();
constexpr size_t kWord = kOwn - 1;
// In ems of the occurrence's font: a gap this wide parts words; a glyph this close to the
// baseline stands on it; one within the band belongs to the line (lower down, a raised glyph of
// the next line may reach into it).
constexpr double kWordGap = 0.15;
// A gap wider than this parts columns, a label from its item or a tab stop: it never shrinks,
// and nothing moves across it.
constexpr double kWideGap = 1.0;
constexpr double kOnBaseline = 0.05;
constexpr double kBandBelow = 0.5, kBandAbove = 0.75;
constexpr double kLowered = 0.25;

bool script(double v) { return v > kOnBaseline || (v < -kOnBaseline && v > -kLowered); }

struct Item {
  double u0, u1;
  size_t glyph;  // or kOwn, kWord
  bool movable;
  bool baseline;
  bool script;  // raised, or lowered less than the next line's glyphs could reach: an exponent, an index
  bool mono;  // of a fixed-pitch font, whose gaps are part of its layout
};

struct Block {
  double b0, b1;
  std::vector<size_t> items;
  bool movable = true;
  bool mono_start = false, mono_end = false;
};

// What the gap after block `i` may give: nothing between fixed-pitch glyphs (TeX does not
// shrink them either), nor after a line's first block, which may be a label (a bullet, a section
// number) whose item lines up with other lines.
double shrink(const std::vector<Block>& blocks, size_t i) {
  const double gap = blocks[i + 1].b0 - blocks[i].b1;
  const bool first = i == 0 || blocks[i].b0 - blocks[i - 1].b1 > kWideGap;
  if (gap < kWordGap || gap > kWideGap || first || (blocks[i].mono_end && blocks[i + 1].mono_start)) return 0;
  return std::max(0.0, gap - kNarrowestGap);
}

}  // namespace

Fit fit_on_line(const PageContent& c, const Occurrence& o, const LineState& st, double natural,
                const LineLimits& limits) {
  Fit f;
  if (o.glyphs.empty()) return f;
  const Show& s1 = c.shows[o.glyphs.front().first];
  const Show& sn = c.shows[o.glyphs.back().first];
  const size_t first = s1.first + o.glyphs.front().second;
  const Glyph& g1 = c.glyphs[first];
  const Glyph& gn = c.glyphs[sn.first + o.glyphs.back().second];
  // Where an earlier occurrence on the line moved this one.
  Matrix at = g1.place, inv;
  at.e += st.offset[first].first;
  at.f += st.offset[first].second;
  const double ax = at.a, ay = at.b, ox = at.e, oy = at.f;
  const double alen = std::hypot(ax, ay);
  if (!at.inverse(inv) || !(s1.size > 0) || !(sn.size > 0) || !(alen > 0) || !(natural >= 0)) return f;
  const double moved_by = (st.offset[first].first * inv.a + st.offset[first].second * inv.c) * s1.size;
  // Positions in the glyph space of the occurrence's first glyph: a unit along is an em of it.
  auto local = [&](size_t gi, double along, double& u, double& v) {
    double x = 0, y = 0;
    c.glyphs[gi].place.apply(along, 0, x, y);
    inv.apply(x + st.offset[gi].first, y + st.offset[gi].second, u, v);
  };
  std::vector<bool> own(c.glyphs.size(), false);
  for (const auto& [si, k] : o.glyphs) own[c.shows[si].first + k] = true;
  double end = 0, v_end = 0;
  local(sn.first + o.glyphs.back().second, gn.advance / sn.size, end, v_end);
  end = std::max(0.0, end);
  const double want = natural / s1.size;

  // The glyphs of the line, and how far the page's text of the same direction reaches.
  std::vector<Item> items;
  double edge = end, next = INFINITY;
  std::map<long long, double> line_ends;  // by baseline, a tenth of an em apart
  auto seen = [&](double u0, double v0, double u1) {
    edge = std::max(edge, u1);
    // What follows the word, kerned into it or not (TeX tucks a period under a "y").
    if (std::fabs(v0) < 0.3 && (u0 > end - 0.05 || (u0 > 0 && u1 > end + 0.05))) next = std::min(next, u0);
    if (std::fabs(v0) < 1e6) {
      double& e = line_ends.try_emplace(std::llround(v0 * 10), -INFINITY).first->second;
      e = std::max(e, u1);
    }
  };
  for (size_t si = 0; si < c.shows.size(); ++si) {
    const Show& s = c.shows[si];
    for (size_t k = 0; k < s.count; ++k) {
      const size_t gi = s.first + k;
      const Glyph& g = c.glyphs[gi];
      if (!g.known || st.dropped[gi] || own[gi] || blank_glyph(s, g)) continue;
      const double gx = g.place.a, gy = g.place.b;
      if (ax * gx + ay * gy <= 0 || std::fabs(ax * gy - ay * gx) > 1e-3 * alen * std::hypot(gx, gy)) continue;
      double u0 = 0, v0 = 0, u1 = 0, v1 = 0;
      local(gi, 0, u0, v0);
      local(gi, g.width, u1, v1);
      seen(u0, v0, u1);
      if (v0 <= -kBandBelow || v0 >= kBandAbove) continue;
      items.push_back({u0, std::max(u0, u1), gi, s.stream == s1.stream && st.movable[si],
                       std::fabs(v0) <= kOnBaseline, script(v0), s.font && s.font->monospaced});
    }
  }
  for (const auto& w : st.words) {
    double u0 = 0, v0 = 0, u1 = 0, v1 = 0;
    inv.apply(w[0], w[1], u0, v0);
    inv.apply(w[2], w[3], u1, v1);
    if (u1 < u0 || std::fabs(v1 - v0) > 0.01) continue;
    seen(u0, v0, u1);
    if (v0 > -kBandBelow && v0 < kBandAbove)
      items.push_back({u0, u1, kWord, false, std::fabs(v0) <= kOnBaseline, script(v0), false});
  }
  const bool upright = ax > 0 && std::fabs(ay) < 1e-6 * ax;
  auto along = [&](double x) {
    double u = NAN, v = 0;
    if (upright && std::isfinite(x)) inv.apply(x, oy, u, v);
    return u;
  };
  const double text_end = along(limits.text);
  const double line_end = std::isfinite(text_end) ? std::max(edge, text_end) : edge;
  auto fitted = [&](double left, double width, double room) {
    f.ok = true;
    f.room = room;
    f.insert_shift = moved_by - left * s1.size;
    f.word = {ox - left * ax, oy - left * ay, ox + (width - left) * ax, oy + (width - left) * ay};
    return f;
  };

  // Into the free space after it, at full width or narrowed a little, before anything moves; the
  // gap left to the next word is one a reader still parts words at, and a wide one keeps more
  // than its least width (as below).
  const double after = next - end;
  const double free = std::max(end, !std::isfinite(next) ? line_end
                                    : after > kWideGap ? end + (after - kWideGap) / 2
                                                       : next - kNarrowestGap);
  if (want <= free + 1e-9) return fitted(0, want, -1);
  if (want * kNarrowestScale <= free + 1e-9) return fitted(0, free, free * s1.size);

  // A glyph off the baseline goes with the glyph it stands over (an accent), and an exponent or an
  // index with the glyphs it touches; any other (one standing alone, a formula's parts) stays,
  // and nothing moves across it. Further below the baseline, a glyph may be the next line's.
  items.push_back({0, end, kOwn, true, true, false, s1.font && s1.font->monospaced});
  std::vector<Item> line = std::move(items);
  std::vector<bool> attached(line.size(), false);
  for (size_t i = 0; i < line.size(); ++i) {
    const Item& it = line[i];
    attached[i] = it.baseline || std::any_of(line.begin(), line.end(), [&](const Item& b) {
                    return b.baseline && std::min(it.u1, b.u1) - std::max(it.u0, b.u0) >= (it.u1 - it.u0) / 2;
                  });
  }
  // Scripts chain: the "3" of an exponent "-308" touches its "-", which touches the "10".
  for (bool grew = true; grew;) {
    grew = false;
    for (size_t i = 0; i < line.size(); ++i) {
      if (attached[i] || !line[i].script) continue;
      for (size_t j = 0; j < line.size() && !attached[i]; ++j)
        attached[i] = attached[j] && line[j].u0 < line[i].u1 + kWordGap && line[i].u0 < line[j].u1 + kWordGap;
      grew = grew || attached[i];
    }
  }
  for (size_t i = 0; i < line.size(); ++i) line[i].movable = line[i].movable && attached[i];
  std::sort(line.begin(), line.end(), [](const Item& a, const Item& b) { return a.u0 < b.u0; });
  std::vector<Block> blocks;
  size_t ob = 0;
  for (size_t i = 0; i < line.size(); ++i) {
    if (blocks.empty() || line[i].u0 - blocks.back().b1 >= kWordGap) blocks.push_back({line[i].u0, line[i].u1, {}});
    Block& b = blocks.back();
    if (b.items.empty()) b.mono_start = line[i].mono;
    b.items.push_back(i);
    if (line[i].u1 >= b.b1) b.mono_end = line[i].mono;
    b.b1 = std::max(b.b1, line[i].u1);
    b.movable = b.movable && line[i].movable;
    if (line[i].glyph == kOwn) ob = blocks.size() - 1;
  }
  // Leaders (a row of the same glyph, alone between gaps, as dots towards a page number) line up
  // with those of the lines around them: they stay, and nothing moves across them. A longer
  // entry before them may take the place of their first ones, as a typesetter's would.
  auto single = [&](const Block& b) -> const Glyph* {
    return b.items.size() == 1 && line[b.items[0]].glyph < c.glyphs.size() ? &c.glyphs[line[b.items[0]].glyph] : nullptr;
  };
  std::vector<size_t> leaders(blocks.size(), 0);  // at a row's first block: how many it has
  for (size_t i = 0; i < blocks.size();) {
    size_t j = i + 1;
    const Glyph* g = single(blocks[i]);
    while (g && j < blocks.size() && single(blocks[j]) && single(blocks[j])->code.value == g->code.value &&
           st.show_of[line[blocks[j].items[0]].glyph] == st.show_of[line[blocks[i].items[0]].glyph])
      ++j;
    if (j - i >= 3) {
      for (size_t k = i; k < j; ++k) blocks[k].movable = false;
      if (c.shows[st.show_of[line[blocks[i].items[0]].glyph]].editable) leaders[i] = j - i;
    }
    i = j;
  }
  // The rest of the word's own block: letters before it go left with it, letters after go right.
  enum Part { Before, Over, After };
  auto part = [&](const Item& it) {
    const double mid = (it.u0 + it.u1) / 2;
    return mid < 0 ? Before : mid > end ? After : Over;
  };
  bool before_ok = true, after_ok = true;
  for (size_t i : blocks[ob].items) {
    if (line[i].glyph == kOwn || line[i].movable) continue;
    if (part(line[i]) == Before) before_ok = false;
    if (part(line[i]) == After) after_ok = false;
  }
  std::vector<double> left, right;  // shrinkable gaps, nearest first
  if (before_ok) {
    for (size_t i = ob; i-- > 0 && blocks[i + 1].b0 - blocks[i].b1 <= kWideGap;) {
      left.push_back(shrink(blocks, i));
      if (!blocks[i].movable) break;
    }
  }
  // The free end: half of what a wide gap has beyond its least width, so that what stands apart
  // (a right-aligned tag, a column) still reads apart; or up to the page's text edge unless the
  // line ends where other lines do (a justified line has none).
  double tail = 0, margin = 0;
  size_t leader = blocks.size();  // the row of leaders the line runs into
  if (after_ok) {
    bool open = true;
    size_t j = ob + 1;
    for (; j < blocks.size() && open; ++j) {
      if (blocks[j].b0 - blocks[j - 1].b1 > kWideGap) break;
      right.push_back(shrink(blocks, j - 1));
      open = blocks[j].movable;
    }
    if (!open && leaders[j - 1] > 0) {
      // Up to the row's last leader, which stays.
      right.pop_back();
      leader = j - 1;
      tail = std::max(0.0, blocks[leader + leaders[leader] - 1].b0 - kNarrowestGap - blocks[leader - 1].b1);
    } else if (open && j < blocks.size()) {
      tail = (blocks[j].b0 - blocks[j - 1].b1 - kWideGap) / 2;
    } else if (open) {
      // The text block's right edge: the furthest end that several lines share (lines of
      // program text may share another one further left).
      const double last = blocks.back().b1;
      auto sharing = [&](double at) {
        int n = 0;
        for (const auto& [v, e] : line_ends) n += std::fabs(e - at) < 0.1;
        return n;
      };
      double block_edge = -INFINITY;
      for (const auto& [v, e] : line_ends)
        if (e > block_edge && sharing(e) >= 3) block_edge = e;
      if (std::fabs(last - block_edge) >= 0.1) tail = std::max(0.0, line_end - last);
      const double m = along(limits.margin);
      if (std::isfinite(m)) margin = std::max(0.0, m - (last + tail));
    }
  }
  double sum_left = 0, sum_right = 0;
  for (double g : left) sum_left += g;
  for (double g : right) sum_right += g;
  const double capacity = sum_left + sum_right + tail;
  double scale = 1;
  if (want - end > capacity + 1e-9) {
    scale = (end + capacity) / want;
    // Every gap at its least and the word narrowed as far as it goes: the line's end runs into
    // the margin for the rest.
    if (scale < kNarrowestScale - 1e-9) {
      scale = kNarrowestScale;
      if (want * scale - end > capacity + margin + 1e-9) return f;
    }
  }
  // The line's free end first; the rest is shared by every gap in proportion to what it can
  // give, so that the line keeps an even look, and what they cannot give goes into the margin.
  const double width = want * scale, need = std::max(0.0, width - end);
  const double from_tail = std::min(need, tail), gaps = sum_left + sum_right;
  const double share = gaps > 0 ? std::min(1.0, (need - from_tail) / gaps) : 0;
  const double to_left = share * sum_left, to_right = need - to_left;
  std::vector<double> shift(blocks.size(), 0);
  double s = -to_left;
  for (size_t j = 0; j < left.size(); ++j) shift[ob - 1 - j] = s += share * left[j];
  s = to_right;
  for (size_t j = 0; j < right.size(); ++j) shift[ob + 1 + j] = s -= share * right[j];
  for (size_t b = 0; b < blocks.size(); ++b) {
    for (size_t i : blocks[b].items) {
      const Item& it = line[i];
      if (it.glyph == kOwn) continue;
      const double by = b != ob ? shift[b] : part(it) == Before ? -to_left : part(it) == After ? to_right : 0;
      if (std::fabs(by) < 1e-7) continue;
      if (!it.movable || it.glyph == kWord) return Fit{};
      const Glyph& g = c.glyphs[it.glyph];
      Matrix back;
      if (!g.place.inverse(back)) return Fit{};
      Move m;
      m.glyph = it.glyph;
      m.dx = by * ax;
      m.dy = by * ay;
      m.shift = (m.dx * back.a + m.dy * back.c) * c.shows[st.show_of[it.glyph]].size;
      f.moves.push_back(m);
    }
  }
  if (leader < blocks.size()) {
    // The leaders the line now reaches give way.
    double reach = width - to_left;
    for (size_t b = ob; b < leader; ++b)
      for (size_t i : blocks[b].items)
        if (line[i].glyph != kOwn) reach = std::max(reach, line[i].u1 + (b != ob ? shift[b] : to_right));
    for (size_t b = leader; b < leader + leaders[leader] && blocks[b].b0 < reach + kNarrowestGap - 1e-9; ++b)
      f.drops.push_back(line[blocks[b].items[0]].glyph);
  }
  return fitted(to_left, width, scale < 1 ? width * s1.size : -1);
}

void place(LineState& state, const PageContent& c, const Occurrence& o, const Fit& f) {
  for (const auto& [si, k] : o.glyphs) state.dropped[c.shows[si].first + k] = true;
  for (size_t g : f.drops) state.dropped[g] = true;
  state.words.push_back(f.word);
  for (const Move& m : f.moves) {
    state.offset[m.glyph].first += m.dx;
    state.offset[m.glyph].second += m.dy;
  }
}

}  // namespace quorvel::content
