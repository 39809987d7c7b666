#include "core/pii_redaction.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "core/extract.h"

namespace quorvel::extract {

namespace {

// Pages read at a time for the content's own text: each read opens the file once.
constexpr int kShownChunk = 32;

std::string without_spaces(std::string_view s) {
  std::string out;
  for (char c : s)
    if (c != ' ' && c != '\n' && c != '\r' && c != '\t') out.push_back(c);
  return out;
}

// Whether a value is still there: found again by the finder (which trims what it matches, so a
// value may be found in a slightly different text), or standing as a token of its own.
bool readable(const std::string& text, const std::vector<std::string>& values) {
  std::set<std::string> again;
  for (const Entity& e : extract_entities(text)) again.insert(e.value);
  for (const std::string& v : values)
    if (again.count(v) || holds_token(text, v)) return true;
  return false;
}

}  // namespace

RedactionOutcome redact_personal_data(IDocument& doc, const RedactionHooks& hooks) {
  RedactionOutcome o;
  const int n = doc.page_count();
  auto progress = [&](int64_t done) {
    if (hooks.progress) hooks.progress(done, 3LL * n);
  };
  auto fail = [&](int page) {
    o.unredacted = page;
    return o;
  };
  std::vector<std::pair<int, std::vector<annot::Rect>>> work;
  std::vector<std::vector<std::string>> values_of;
  for (int first = 0; first < n; first += kShownChunk) {
    std::vector<int> chunk;
    for (int i = first; i < std::min(n, first + kShownChunk); ++i) chunk.push_back(i);
    const std::vector<std::optional<std::string>> shown = doc.shown_texts(chunk);
    for (size_t k = 0; k < chunk.size(); ++k) {
      const int i = chunk[k];
      if (hooks.cancelled && hooks.cancelled()) {
        o.stopped = true;
        return o;
      }
      progress(i);
      // A page the content reader cannot read may show what PDFium does not.
      if (k >= shown.size() || !shown[k]) return fail(i);
      const TextPage page = doc.extract_text(i);
      const std::string text = page_text(page);
      std::vector<std::string> values;
      for (const Entity& e : extract_entities(text)) values.push_back(e.value);
      // Values only the content's own strings hold have no place PDFium knows: no box for them.
      const std::string plain = without_spaces(text);
      for (const Entity& e : extract_entities(*shown[k]))
        if (plain.find(without_spaces(e.value)) == std::string::npos) return fail(i);
      if (values.empty()) continue;
      o.found.insert(values.begin(), values.end());
      std::vector<annot::Rect> rects = pii_rects(page, values);
      if (rects.empty()) return fail(i);
      work.emplace_back(i, std::move(rects));
      values_of.push_back(std::move(values));
    }
  }
  if (hooks.commit && !hooks.commit()) {
    o.stopped = true;
    return o;
  }
  if (work.empty()) return o;
  const std::vector<int> painted = doc.redact_pages(work);
  for (size_t k = 0; k < work.size(); ++k)
    if (k < painted.size() && painted[k] > 0 && hooks.edited) hooks.edited(work[k].first);
  std::vector<int> pages;
  for (size_t k = 0; k < work.size(); ++k) {
    if (k >= painted.size() || painted[k] <= 0) return fail(work[k].first);
    o.count += painted[k];
    pages.push_back(work[k].first);
  }
  // Every edited page read back both ways: PDFium's text, and every string the content shows.
  for (size_t first = 0; first < pages.size(); first += kShownChunk) {
    const std::vector<int> chunk(pages.begin() + static_cast<long>(first),
                                 pages.begin() + static_cast<long>(std::min(pages.size(), first + kShownChunk)));
    const std::vector<std::optional<std::string>> shown = doc.shown_texts(chunk);
    for (size_t k = 0; k < chunk.size(); ++k) {
      const std::vector<std::string>& values = values_of[first + k];
      progress(n + chunk[k]);
      if (k >= shown.size() || !shown[k] || readable(*shown[k], values) ||
          readable(page_text(doc.extract_text(chunk[k])), values))
        return fail(chunk[k]);
    }
  }
  // A link anywhere may still name a value in its target (a mailto address).
  for (int i = 0; i < n; ++i) {
    progress(2LL * n + i);
    for (const Link& link : doc.links(i))
      for (const std::string& v : o.found)
        if (holds_token(link.uri, v)) return fail(i);
  }
  o.boxes = std::move(work);
  return o;
}

}  // namespace quorvel::extract
