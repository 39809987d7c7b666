#include "core/text_runs.h"

#include "core/text_codec.h"

namespace quorvel::textruns {

std::vector<TextRun> group(const std::vector<Rect>& rects, const std::vector<Char>& chars) {
  std::vector<TextRun> runs(rects.size());
  for (size_t i = 0; i < rects.size(); ++i) {
    runs[i].left = rects[i].left;
    runs[i].top = rects[i].top;
    runs[i].right = rects[i].right;
    runs[i].bottom = rects[i].bottom;
  }
  for (size_t k = 0; k < chars.size(); ++k) {
    const Char& c = chars[k];
    const double cx = (c.left + c.right) * 0.5;
    const double cy = (c.bottom + c.top) * 0.5;
    TextRun* run = nullptr;
    for (TextRun& r : runs) {
      if (r.left - kSlack <= cx && cx <= r.right + kSlack && r.bottom - kSlack <= cy &&
          cy <= r.top + kSlack) {
        run = &r;
        break;
      }
    }
    if (!run) continue;
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

}  // namespace quorvel::textruns
