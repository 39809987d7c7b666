#include "core/extract.h"

#include <algorithm>
#include <array>
#include <unordered_set>

#include "core/regex.h"

namespace quorvel::extract {
namespace {

struct PatternRow {
  const char* label;
  const char* pattern;
  int group;
};

// The \xHH sequences are pattern text: the expression engine reads each as one byte.
constexpr std::array<PatternRow, 5> kPatterns = {{
    {"Email", R"([A-Za-z0-9._%+\-]+@[A-Za-z0-9.\-]+\.[A-Za-z]{2,12})", 0},
    {"Телефон", R"((?:\+7|8)[\s\-(]*\d{3}[\s\-)]*\d{3}[\s\-]*\d{2}[\s\-]*\d{2})", 0},
    {"Дата", R"(\b\d{2}\.\d{2}\.\d{4}\b)", 0},
    {"Сумма", R"(\b\d{1,3}(?:[ \xc2\xa0]?\d{3})*[.,]\d{2}(?![.\d]))", 0},
    {"ИНН", R"(\xd0\x98\xd0\x9d\xd0\x9d[^0-9]{0,4}(\d{10,12}))", 1},
}};

// Compiled once per process; a compiled pattern may be matched from several threads.
const std::array<regex::Pattern, kPatterns.size()>& compiled_patterns() {
  static const auto patterns = [] {
    std::array<regex::Pattern, kPatterns.size()> out;
    for (size_t i = 0; i < kPatterns.size(); ++i) out[i] = regex::Pattern(kPatterns[i].pattern);
    return out;
  }();
  return patterns;
}

std::string_view trimmed(std::string_view s) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

// The union of the characters whose offset lies in [from, to), widened by a point on each side;
// the run's own box when no character lies there.
annot::Rect box_for(const TextRun& run, size_t from, size_t to) {
  bool any = false;
  double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  for (const CharBox& c : run.chars) {
    if (c.offset < from || c.offset >= to) continue;
    const double h0 = std::min(c.left, c.right), h1 = std::max(c.left, c.right);
    const double v0 = std::min(c.top, c.bottom), v1 = std::max(c.top, c.bottom);
    if (!any) {
      x0 = h0, y0 = v0, x1 = h1, y1 = v1;
      any = true;
    } else {
      x0 = std::min(x0, h0), y0 = std::min(y0, v0), x1 = std::max(x1, h1), y1 = std::max(y1, v1);
    }
  }
  if (!any) return annot::Rect{run.left, run.bottom, run.right, run.top};
  return annot::Rect{x0 - 1.0, y0 - 1.0, x1 + 1.0, y1 + 1.0};
}

}  // namespace

std::vector<Entity> extract_entities(std::string_view text) {
  std::vector<Entity> out;
  std::unordered_set<std::string> seen;
  const auto& patterns = compiled_patterns();
  for (size_t row = 0; row < kPatterns.size(); ++row) {
    const PatternRow& spec = kPatterns[row];
    const size_t group = static_cast<size_t>(spec.group);
    // A failure (a limit hit) abandons only this row; what it found stays.
    patterns[row].for_each_match(text, [&](std::span<const regex::Group> groups) {
      if (group >= groups.size() || !groups[group].matched) return true;
      const std::string_view value = trimmed(text.substr(groups[group].offset, groups[group].length));
      if (value.empty()) return true;
      std::string key = spec.label;
      key.push_back('\x1f');
      key.append(value);
      if (seen.insert(std::move(key)).second) out.push_back(Entity{spec.label, std::string(value)});
      return true;
    });
  }
  return out;
}

std::vector<annot::Rect> pii_rects(const TextPage& page, const std::vector<std::string>& needles) {
  std::vector<annot::Rect> out;
  if (needles.empty()) return out;
  for (const TextRun& run : page.runs) {
    if (run.text.empty()) continue;
    for (const std::string& needle : needles) {
      if (needle.empty() || needle.size() > run.text.size()) continue;
      for (size_t p = run.text.find(needle); p != std::string::npos; p = run.text.find(needle, p + 1))
        out.push_back(box_for(run, p, p + needle.size()));
    }
  }

  // Values found in the page text may cross a run boundary (a phone number broken over two
  // lines). Those places must be boxed too, or they stay readable after redaction. The page text
  // is joined exactly as the callers join it: a line feed before a run once text has begun.
  std::string joined;
  std::vector<size_t> starts(page.runs.size(), std::string::npos);
  for (size_t r = 0; r < page.runs.size(); ++r) {
    if (!joined.empty()) joined.push_back('\n');
    starts[r] = joined.size();
    joined += page.runs[r].text;
  }
  for (const std::string& needle : needles) {
    if (needle.empty() || needle.size() > joined.size()) continue;
    for (size_t p = joined.find(needle); p != std::string::npos; p = joined.find(needle, p + 1)) {
      const size_t end = p + needle.size();
      // The last run that begins at or before p; runs that share its start are empty ones.
      size_t r = static_cast<size_t>(std::upper_bound(starts.begin(), starts.end(), p) - starts.begin()) - 1;
      const TextRun& first = page.runs[r];
      if (!first.text.empty() && end <= starts[r] + first.text.size()) continue;  // boxed above
      for (; r < page.runs.size() && starts[r] < end; ++r) {
        const TextRun& run = page.runs[r];
        const size_t from = std::max(p, starts[r]), to = std::min(end, starts[r] + run.text.size());
        if (from < to) out.push_back(box_for(run, from - starts[r], to - starts[r]));
      }
    }
  }
  return out;
}

}  // namespace quorvel::extract
