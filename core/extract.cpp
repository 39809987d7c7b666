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

// Each value is a whole token: no letter or digit of any script right before or after it, so
// that a run of digits (an account number) never yields a phone number from its middle.
#define QV_TOKEN(body) R"((?<![\p{L}\p{N}]))" body R"((?![\p{L}\p{N}]))"

// Patterns read the text as Unicode characters. A thousands separator is a plain space only: a
// no-break space splits the amount, as it always has.
constexpr std::array<PatternRow, 5> kPatterns = {{
    {"Email", QV_TOKEN(R"([A-Za-z0-9._%+\-]+@[A-Za-z0-9.\-]+\.[A-Za-z]{2,12})"), 0},
    {"Телефон", QV_TOKEN(R"((?:\+7|8)[\s\-(]*\d{3}[\s\-)]*\d{3}[\s\-]*\d{2}[\s\-]*\d{2})"), 0},
    {"Дата", QV_TOKEN(R"(\d{2}\.\d{2}\.\d{4})"), 0},
    {"Сумма", QV_TOKEN(R"(\d{1,3}(?: ?\d{3})*[.,]\d{2}(?![.\d]))"), 0},
    {"ИНН", QV_TOKEN(R"(ИНН[^0-9]{0,4}(\d{10,12}))"), 1},
}};
#undef QV_TOKEN

// Compiled once per process; a compiled pattern may be matched from several threads.
const std::array<regex::Pattern, kPatterns.size()>& compiled_patterns() {
  static const auto patterns = [] {
    std::array<regex::Pattern, kPatterns.size()> out;
    for (size_t i = 0; i < kPatterns.size(); ++i)
      out[i] = regex::Pattern(kPatterns[i].pattern, false, regex::Pattern::Text::Unicode);
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

// Whether the character that ends right before `pos` (or begins at it, `after`) is a letter or
// a digit: then a value found there is part of a longer token.
bool word_character_beside(std::string_view text, size_t pos, bool after) {
  static const regex::Pattern word(R"(^[\p{L}\p{N}]$)", false, regex::Pattern::Text::Unicode);
  size_t from = pos, to = pos;
  if (after) {
    if (pos >= text.size()) return false;
    to = pos + 1;
    while (to < text.size() && (static_cast<unsigned char>(text[to]) & 0xC0) == 0x80) ++to;
  } else {
    if (pos == 0) return false;
    from = pos - 1;
    while (from > 0 && (static_cast<unsigned char>(text[from]) & 0xC0) == 0x80) --from;
  }
  bool found = false;
  word.for_each_match(text.substr(from, to - from), [&](std::span<const regex::Group>) {
    found = true;
    return false;
  });
  return found;
}

// No letter or digit touches the value, and no point or comma joined to a digit carries a number
// on across either end: "11.10" is no value inside "11.10.1", "2.10" none inside "11.11.2.10",
// "0.11" none inside "10.1145".
bool whole_token(std::string_view text, size_t pos, size_t length) {
  const size_t end = pos + length;
  if (word_character_beside(text, pos, false) || word_character_beside(text, end, true)) return false;
  auto joiner = [&](size_t at) { return text[at] == '.' || text[at] == ','; };
  auto digit = [&](size_t at) { return text[at] >= '0' && text[at] <= '9'; };
  if (pos >= 2 && joiner(pos - 1) && digit(pos - 2)) return false;
  return !(end + 1 < text.size() && joiner(end) && digit(end + 1));
}

}  // namespace

bool holds_token(std::string_view text, std::string_view value) {
  if (value.empty()) return false;
  for (size_t p = text.find(value); p != std::string_view::npos; p = text.find(value, p + 1))
    if (whole_token(text, p, value.size())) return true;
  return false;
}

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
        if (whole_token(run.text, p, needle.size())) out.push_back(box_for(run, p, p + needle.size()));
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
      if (!whole_token(joined, p, needle.size())) continue;
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
