#include "core/text_runs.h"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "core/text_codec.h"

namespace quorvel::textruns {

namespace {

struct Box {
  double left, bottom, right, top;
  bool holds(double x, double y) const { return left <= x && x <= right && bottom <= y && y <= top; }
};

// Finds the first rectangle, in rectangle order, that holds a point. Dense pages have tens of
// thousands of rectangles, so past a few dozen they are sorted into horizontal bands; a
// rectangle that spans many bands is kept on one list that every lookup checks.
class FirstHolder {
 public:
  explicit FirstHolder(std::vector<Box> boxes) : boxes_(std::move(boxes)) {
    if (boxes_.size() <= kLinearUpTo) return;
    double lo = HUGE_VAL, hi = -HUGE_VAL;
    for (const Box& b : boxes_) {
      if (!std::isfinite(b.left) || !std::isfinite(b.right) || !std::isfinite(b.bottom) || !std::isfinite(b.top)) {
        return;
      }
      lo = std::min(lo, b.bottom);
      hi = std::max(hi, b.top);
    }
    const size_t count = std::min(boxes_.size(), kMaxBands);
    if (!(hi > lo) || !std::isfinite((hi - lo) / static_cast<double>(count))) return;
    lo_ = lo;
    hi_ = hi;
    band_height_ = (hi - lo) / static_cast<double>(count);
    bands_.resize(count);
    for (size_t i = 0; i < boxes_.size(); ++i) {
      const Box& b = boxes_[i];
      if (b.bottom > b.top) continue;  // holds no point
      const size_t first = band(b.bottom), last = band(b.top);
      if (last - first >= kMaxSpan) {
        tall_.push_back(i);
      } else {
        for (size_t k = first; k <= last; ++k) bands_[k].push_back(i);
      }
    }
  }

  // Index of the first holder, or boxes.size() when none holds the point.
  size_t find(double x, double y) const {
    const size_t none = boxes_.size();
    if (bands_.empty()) return first_of_all(x, y);
    if (!(y >= lo_ && y <= hi_)) return none;
    size_t best = none;
    for (size_t i : bands_[band(y)]) {
      if (boxes_[i].holds(x, y)) {
        best = i;
        break;
      }
    }
    for (size_t i : tall_) {
      if (i >= best) break;
      if (boxes_[i].holds(x, y)) {
        best = i;
        break;
      }
    }
    return best;
  }

 private:
  static constexpr size_t kLinearUpTo = 32;
  static constexpr size_t kMaxBands = 1024;
  static constexpr size_t kMaxSpan = 16;

  // Monotone in y, so a box's bands run from the band of its bottom to the band of its top.
  size_t band(double y) const {
    const double k = std::floor((y - lo_) / band_height_);
    if (!(k > 0)) return 0;
    return std::min(static_cast<size_t>(std::min(k, 1e9)), bands_.size() - 1);
  }

  size_t first_of_all(double x, double y) const {
    for (size_t i = 0; i < boxes_.size(); ++i) {
      if (boxes_[i].holds(x, y)) return i;
    }
    return boxes_.size();
  }

  std::vector<Box> boxes_;
  double lo_ = 0, hi_ = 0, band_height_ = 0;
  std::vector<std::vector<size_t>> bands_;
  std::vector<size_t> tall_;
};

}  // namespace

std::vector<TextRun> group(const std::vector<Rect>& rects, const std::vector<Char>& chars) {
  std::vector<TextRun> runs(rects.size());
  std::vector<Box> widened(rects.size());
  for (size_t i = 0; i < rects.size(); ++i) {
    const Rect& r = rects[i];
    runs[i].left = r.left;
    runs[i].top = r.top;
    runs[i].right = r.right;
    runs[i].bottom = r.bottom;
    widened[i] = {r.left - kSlack, r.bottom - kSlack, r.right + kSlack, r.top + kSlack};
  }
  const FirstHolder holders(std::move(widened));
  size_t previous = runs.size();
  for (size_t k = 0; k < chars.size(); ++k) {
    const Char& c = chars[k];
    size_t at = holders.find((c.left + c.right) * 0.5, (c.bottom + c.top) * 0.5);
    // PDFium puts the space it makes up for a word gap at a point just past the glyph before it,
    // often outside every rectangle; dropping it would glue the words together.
    if (at == runs.size() && c.code == U' ') at = previous;
    previous = at;
    if (at == runs.size()) continue;
    TextRun* run = &runs[at];
    const size_t offset = run->text.size();
    char32_t code = c.code;
    // A character outside the Basic Multilingual Plane may come as two surrogate halves: the
    // pair becomes one character and the low half keeps its box without text of its own.
    if (code >= 0xD800 && code <= 0xDBFF && k + 1 < chars.size() && chars[k + 1].code >= 0xDC00 &&
        chars[k + 1].code <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (chars[k + 1].code - 0xDC00);
      run->chars.push_back({offset, c.left, c.top, c.right, c.bottom});
      append_utf8(run->text, code);
      const Char& low = chars[++k];
      run->chars.push_back({run->text.size(), low.left, low.top, low.right, low.bottom});
      continue;
    }
    if (code != 0) append_utf8(run->text, code);
    run->chars.push_back({offset, c.left, c.top, c.right, c.bottom});
  }
  std::vector<TextRun> out;
  out.reserve(runs.size());
  for (TextRun& r : runs) {
    if (!r.text.empty()) out.push_back(std::move(r));
  }
  return out;
}

namespace {

// Whether b continues a's line.
bool continues_line(const TextRun& a, const TextRun& b) {
  const double ha = a.top - a.bottom;
  const double hb = b.top - b.bottom;
  if (!(ha > 0) || !(hb > 0)) return false;
  const double overlap = std::min(a.top, b.top) - std::max(a.bottom, b.bottom);
  if (!(overlap >= 0.5 * std::min(ha, hb))) return false;
  const double gap = b.left - a.right;
  return gap >= -kSlack && gap <= kLineGap * std::max(ha, hb);
}

}  // namespace

std::vector<TextRun> join_line_pieces(std::vector<TextRun> runs) {
  std::vector<TextRun> out;
  out.reserve(runs.size());
  for (TextRun& run : runs) {
    if (out.empty() || !continues_line(out.back(), run)) {
      out.push_back(std::move(run));
      continue;
    }
    TextRun& line = out.back();
    const size_t offset = line.text.size();
    line.text += run.text;
    for (CharBox c : run.chars) {
      c.offset += offset;
      line.chars.push_back(c);
    }
    line.left = std::min(line.left, run.left);
    line.right = std::max(line.right, run.right);
    line.top = std::max(line.top, run.top);
    line.bottom = std::min(line.bottom, run.bottom);
  }
  return out;
}

}  // namespace quorvel::textruns

namespace quorvel::textruns {

namespace {

bool is_break(std::string_view s) {
  return !s.empty() && s.find_first_not_of("\r\n") == std::string_view::npos;
}

// The bytes of one character without control characters; U+0002 is PDFium's mark of a hyphen.
void append_clean(std::string& out, std::string_view s) {
  for (size_t i = 0; i < s.size(); ++i) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b == 0x02) {
      out.push_back('-');
    } else if ((b < 0x20 && b != '\t') || b == 0x7F) {
      continue;
    } else if (b == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) < 0xA0 &&
               static_cast<unsigned char>(s[i + 1]) >= 0x80) {
      ++i;  // a C1 control character
    } else {
      out.push_back(s[i]);
    }
  }
}

bool ends_blank(const std::string& s) { return !s.empty() && (s.back() == ' ' || s.back() == '\t'); }

void split_lines(const TextRun& run, std::vector<TextRun>& out) {
  size_t start = 0;
  while (start <= run.text.size()) {
    size_t end = run.text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = run.text.size();
    TextRun line;
    line.left = run.left;
    line.top = run.top;
    line.right = run.right;
    line.bottom = run.bottom;
    append_clean(line.text, std::string_view(run.text).substr(start, end - start));
    if (!line.text.empty()) out.push_back(std::move(line));
    start = end + 1;
  }
}

}  // namespace

std::vector<TextRun> line_text(std::vector<TextRun> runs) {
  std::vector<TextRun> out;
  out.reserve(runs.size());
  for (TextRun& run : runs) {
    if (run.chars.empty()) {
      split_lines(run, out);
      continue;
    }
    TextRun line;
    line.left = run.left;
    line.top = run.top;
    line.right = run.right;
    line.bottom = run.bottom;
    line.chars.reserve(run.chars.size());
    line.text.reserve(run.text.size());
    const std::string_view text = run.text;
    bool pending_break = false;
    CharBox break_box;
    for (size_t i = 0; i < run.chars.size(); ++i) {
      const CharBox& c = run.chars[i];
      const size_t begin = std::min(c.offset, text.size());
      const size_t end = i + 1 < run.chars.size() ? std::clamp(run.chars[i + 1].offset, begin, text.size()) : text.size();
      const std::string_view bytes = text.substr(begin, end - begin);
      if (is_break(bytes)) {
        if (!pending_break) break_box = c;
        pending_break = true;
        continue;
      }
      std::string clean;
      append_clean(clean, bytes);
      if (pending_break && !clean.empty()) {
        pending_break = false;
        if (!line.text.empty() && !ends_blank(line.text) && clean.front() != ' ' && clean.front() != '\t') {
          break_box.offset = line.text.size();
          line.chars.push_back(break_box);
          line.text.push_back(' ');
        }
      }
      CharBox kept = c;
      kept.offset = line.text.size();
      line.chars.push_back(kept);
      line.text += clean;
    }
    if (!line.text.empty()) out.push_back(std::move(line));
  }
  return out;
}

}  // namespace quorvel::textruns
