#include "core/diff.h"
#include "core/c_locale.h"

#include <algorithm>
#include <cstdint>
#include <span>
#include <string_view>
#include <unordered_map>

namespace quorvel::diff {
namespace {

// The exact table costs four bytes a cell; beyond this many cells (128 MB) the linear-space path
// takes over, so that two long pages cannot exhaust memory.
constexpr size_t kMaxTableCells = size_t{32} << 20;

using Ids = std::vector<uint32_t>;

struct Step {
  int kind;        // as Line::kind
  uint32_t index;  // into A for kinds 0 and 2, into B for kind 1
};

// Where each line id occurs in B, ascending, in one flat array.
struct Positions {
  std::vector<uint32_t> first;  // per id, index into `at`; one entry more than there are ids
  std::vector<uint32_t> at;

  Positions(const Ids& b, uint32_t ids) : first(ids + 1, 0), at(b.size()) {
    for (uint32_t id : b) ++first[id + 1];
    for (uint32_t i = 0; i < ids; ++i) first[i + 1] += first[i];
    std::vector<uint32_t> fill(first.begin(), first.end() - 1);
    for (uint32_t j = 0; j < b.size(); ++j) at[fill[b[j]]++] = j;
  }

  // Occurrences of `id` within [lo, hi).
  std::span<const uint32_t> of(uint32_t id, size_t lo, size_t hi) const {
    auto begin = at.begin() + first[id], end = at.begin() + first[id + 1];
    auto from = std::lower_bound(begin, end, static_cast<uint32_t>(lo));
    auto to = std::lower_bound(from, end, static_cast<uint32_t>(hi));
    return {at.data() + (from - at.begin()), static_cast<size_t>(to - from)};
  }
};

bool fits_table(size_t n, size_t m, size_t max_cells) { return n + 1 <= max_cells / (m + 1); }

class LineDiff {
 public:
  LineDiff(const Ids& a, const Ids& b, uint32_t ids, size_t max_cells)
      : a_(a), b_(b), positions_(b, ids), max_cells_(max_cells) {}

  std::vector<Step> run() {
    const size_t n = a_.size(), m = b_.size();
    size_t prefix = 0;
    while (prefix < n && prefix < m && a_[prefix] == b_[prefix]) ++prefix;
    size_t suffix = 0;
    while (suffix < n - prefix && suffix < m - prefix && a_[n - 1 - suffix] == b_[m - 1 - suffix]) ++suffix;
    for (size_t i = 0; i < prefix; ++i) emit(0, i);
    const size_t a1 = n - suffix, b1 = m - suffix;
    if (fits_table(a1 - prefix, b1 - prefix, max_cells_)) {
      // Exactly the walk over the whole table: inside the middle its decisions are the same, and
      // once one side's middle is used up the whole table's walk matches greedily against the
      // common suffix, which needs no table.
      auto [i, j] = walk(prefix, a1, prefix, b1, false);
      if (i == a1) {
        greedy_tail(j, m, n - suffix, n, /*side_b=*/true);
      } else {
        greedy_tail(i, n, m - suffix, m, /*side_b=*/false);
      }
    } else {
      solve(prefix, a1, prefix, b1);
      for (size_t i = a1; i < n; ++i) emit(0, i);
    }
    return std::move(steps_);
  }

 private:
  void emit(int kind, size_t index) { steps_.push_back(Step{kind, static_cast<uint32_t>(index)}); }

  // The table walk over A[a0, a1) and B[b0, b1). With `finish` the leftover lines of either side
  // are emitted; otherwise the place where the walk stopped is returned for the caller to finish.
  std::pair<size_t, size_t> walk(size_t a0, size_t a1, size_t b0, size_t b1, bool finish) {
    const size_t n = a1 - a0, m = b1 - b0, w = m + 1;
    std::vector<uint32_t> L;
    if (n > 0 && m > 0) {
      L.assign((n + 1) * w, 0);
      for (size_t i = n; i-- > 0;) {
        for (size_t j = m; j-- > 0;) {
          L[i * w + j] = a_[a0 + i] == b_[b0 + j] ? L[(i + 1) * w + j + 1] + 1
                                                  : std::max(L[(i + 1) * w + j], L[i * w + j + 1]);
        }
      }
    }
    size_t i = 0, j = 0;
    while (i < n && j < m) {
      if (a_[a0 + i] == b_[b0 + j]) {
        emit(0, a0 + i);
        ++i, ++j;
      } else if (L[(i + 1) * w + j] < L[i * w + j + 1]) {
        emit(1, b0 + j);
        ++j;
      } else {
        emit(2, a0 + i);
        ++i;
      }
    }
    if (finish) {
      for (; i < n; ++i) emit(2, a0 + i);
      for (; j < m; ++j) emit(1, b0 + j);
    }
    return {a0 + i, b0 + j};
  }

  // The rest of one side, [from, to), against the common suffix, which the other side holds at
  // [s0, s1): equal heads pair up, any other line is added (side B) or removed (side A).
  void greedy_tail(size_t from, size_t to, size_t s0, size_t s1, bool side_b) {
    const Ids& rest = side_b ? b_ : a_;
    const Ids& common = side_b ? a_ : b_;
    size_t k = s0;
    for (size_t x = from; x < to; ++x) {
      if (k < s1 && rest[x] == common[k]) {
        emit(0, side_b ? k : x);
        ++k;
      } else {
        emit(side_b ? 1 : 2, x);
      }
    }
  }

  // Hirschberg's split: halve A, find where an optimal path crosses the middle, recurse.
  void solve(size_t a0, size_t a1, size_t b0, size_t b1) {
    const size_t n = a1 - a0, m = b1 - b0;
    if (n == 0 || m == 0 || fits_table(n, m, max_cells_)) {
      walk(a0, a1, b0, b1, true);
      return;
    }
    if (n == 1) {
      auto hits = positions_.of(a_[a0], b0, b1);
      if (hits.empty()) {
        emit(2, a0);
        for (size_t j = b0; j < b1; ++j) emit(1, j);
      } else {
        for (size_t j = b0; j < hits[0]; ++j) emit(1, j);
        emit(0, a0);
        for (size_t j = hits[0] + size_t{1}; j < b1; ++j) emit(1, j);
      }
      return;
    }
    const size_t mid = a0 + n / 2;
    const std::vector<uint32_t> fwd = lcs_row(a0, mid, b0, b1, false);
    const std::vector<uint32_t> bwd = lcs_row(mid, a1, b0, b1, true);
    size_t best = 0;
    uint64_t best_sum = 0;
    for (size_t k = 0; k <= m; ++k) {
      const uint64_t sum = uint64_t{fwd[k]} + bwd[m - k];
      if (sum > best_sum || k == 0) best_sum = sum, best = k;
    }
    solve(a0, mid, b0, b0 + best);
    solve(mid, a1, b0 + best, b1);
  }

  // Bit-parallel LCS lengths of A[a0, a1) against every prefix of B[b0, b1) (or, reversed,
  // against every suffix: entry k then belongs to the last k lines). A zero bit of V marks a
  // column where the length grows by one.
  std::vector<uint32_t> lcs_row(size_t a0, size_t a1, size_t b0, size_t b1, bool reversed) {
    const size_t m = b1 - b0, words = (m + 63) / 64;
    std::vector<uint64_t> v(words, ~uint64_t{0}), match(words, 0);
    for (size_t r = 0; r < a1 - a0; ++r) {
      const uint32_t id = a_[reversed ? a1 - 1 - r : a0 + r];
      auto hits = positions_.of(id, b0, b1);
      if (hits.empty()) continue;
      size_t lowest = words;
      for (uint32_t p : hits) {
        const size_t bit = reversed ? b1 - 1 - p : p - b0;
        match[bit >> 6] |= uint64_t{1} << (bit & 63);
        lowest = std::min(lowest, bit >> 6);
      }
      uint64_t carry = 0;
      for (size_t w = lowest; w < words; ++w) {
        const uint64_t x = v[w], u = x & match[w];
        uint64_t s = x + u;
        const uint64_t c1 = s < x;
        const uint64_t s2 = s + carry;
        carry = c1 | (s2 < s);
        v[w] = s2 | (x & ~match[w]);
      }
      for (uint32_t p : hits) {
        const size_t bit = reversed ? b1 - 1 - p : p - b0;
        match[bit >> 6] = 0;
      }
    }
    std::vector<uint32_t> row(m + 1, 0);
    for (size_t k = 0; k < m; ++k) row[k + 1] = row[k] + (((v[k >> 6] >> (k & 63)) & 1) == 0 ? 1 : 0);
    return row;
  }

  const Ids& a_;
  const Ids& b_;
  Positions positions_;
  size_t max_cells_;
  std::vector<Step> steps_;
};

// A page past the document's end reads as empty.
std::string text_of_page(const IDocument& doc, int page) {
  return page < doc.page_count() ? page_text(doc.extract_text(page)) : std::string();
}

}  // namespace

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::string current;
  for (char c : text) {
    if (c == '\n') {
      lines.push_back(std::move(current));
      current.clear();
    } else if (c != '\r') {
      current.push_back(c);
    }
  }
  if (!current.empty()) lines.push_back(std::move(current));
  return lines;
}

namespace detail {

std::vector<Line> diff_lines_capped(const std::string& a, const std::string& b, size_t max_cells) {
  const std::vector<std::string> la = split_lines(a), lb = split_lines(b);
  // Lines become small numbers once, so that comparing two lines costs one integer compare.
  std::unordered_map<std::string_view, uint32_t> ids;
  ids.reserve(la.size() + lb.size());
  auto intern = [&](const std::vector<std::string>& lines) {
    Ids out;
    out.reserve(lines.size());
    for (const std::string& line : lines) out.push_back(ids.try_emplace(line, static_cast<uint32_t>(ids.size())).first->second);
    return out;
  };
  const Ids ia = intern(la), ib = intern(lb);
  LineDiff diff(ia, ib, static_cast<uint32_t>(ids.size()), std::max<size_t>(max_cells, 1));
  std::vector<Line> out;
  for (const Step& s : diff.run()) out.push_back(Line{s.kind, s.kind == 1 ? lb[s.index] : la[s.index]});
  return out;
}

}  // namespace detail

std::vector<Line> diff_lines(const std::string& a, const std::string& b) {
  return detail::diff_lines_capped(a, b, kMaxTableCells);
}

std::vector<PageDiff> compare_documents(const IDocument& a, const IDocument& b) {
  const int n = std::max(a.page_count(), b.page_count());
  std::vector<PageDiff> out;
  if (n <= 0) return out;
  out.reserve(static_cast<size_t>(n));
  for (int p = 0; p < n; ++p) {
    PageDiff d;
    d.page = p;
    d.lines = diff_lines(text_of_page(a, p), text_of_page(b, p));
    for (const Line& line : d.lines) {
      if (line.kind == 1) ++d.added;
      if (line.kind == 2) ++d.removed;
    }
    d.changed = d.added > 0 || d.removed > 0;
    out.push_back(std::move(d));
  }
  return out;
}

std::string esc(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default:
        // No control character may stand in XML, and none belongs in a report line.
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F) break;
        out.push_back(c);
    }
  }
  return out;
}

std::string to_html(const std::vector<PageDiff>& diffs, const std::string& nameA, const std::string& nameB) {
  long long changed_pages = 0, added = 0, removed = 0;
  for (const PageDiff& d : diffs) {
    if (d.changed) ++changed_pages;
    added += d.added;
    removed += d.removed;
  }
  std::string out =
      "<!DOCTYPE html>\n<html><head><meta charset='utf-8'/><title>Сравнение версий — Quorvel</title><style>"
      "body{font-family:sans-serif;margin:2em;color:#222}.ins{color:#1a7f37;background:#e6ffec}"
      ".del{color:#cf222e;background:#ffebe9;text-decoration:line-through}"
      ".pg{margin:1.4em 0 .3em;font-weight:bold;color:#555}"
      ".sum{padding:.6em 1em;background:#f0f0f5;border-radius:6px}div.line{white-space:pre-wrap;padding:1px 4px}"
      "</style></head><body>\n"
      "<h1>Сравнение версий</h1>\n<div class='sum'>";
  out += "<b>A:</b> ";
  out += esc(nameA);
  // Written so that XML tools read the report as well as browsers do.
  out += " &#160; <b>B:</b> ";
  out += esc(nameB);
  out += "<br/>Изменённых страниц: ";
  append_int(out, changed_pages);
  out += " &#160; Добавлено строк: ";
  append_int(out, added);
  out += ", удалено: ";
  append_int(out, removed);
  out += "</div>\n";
  for (const PageDiff& d : diffs) {
    if (!d.changed) continue;
    out += "<div class='pg'>Страница ";
    append_int(out, static_cast<long long>(d.page) + 1);
    out += " (+";
    append_int(out, d.added);
    out += " / \u2212";
    append_int(out, d.removed);
    out += ")</div>\n";
    for (const Line& line : d.lines) {
      if (line.kind != 1 && line.kind != 2) continue;
      out += line.kind == 1 ? "<div class='line ins'>+ " : "<div class='line del'>\u2212 ";
      out += esc(line.text);
      out += "</div>\n";
    }
  }
  out += "</body></html>\n";
  return out;
}

}  // namespace quorvel::diff
