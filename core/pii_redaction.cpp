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

// The values the patterns find that stand as whole tokens: a sum the patterns take out of a
// longer number ("2.10" of "11.11.2.10") is no value to black out.
std::vector<std::string> values_in(const std::string& text) {
  std::vector<std::string> out;
  for (const Entity& e : extract_entities(text))
    if (holds_token(text, e.value)) out.push_back(e.value);
  return out;
}

// Whether a value is still there: found again by the finder (which trims what it matches, so a
// value may be found in a slightly different text), or standing as a token of its own.
bool readable(const std::string& text, const std::vector<std::string>& values) {
  const std::vector<std::string> again = values_in(text);
  for (const std::string& v : values)
    if (std::find(again.begin(), again.end(), v) != again.end() || holds_token(text, v)) return true;
  return false;
}

}  // namespace

RedactionOutcome redact_personal_data(IDocument& doc, const RedactionHooks& hooks) {
  RedactionOutcome o;
  const int n = doc.page_count();
  auto progress = [&](int64_t done) {
    if (hooks.progress) hooks.progress(done, 4LL * n);
  };
  auto fail = [&](int page) {
    o.unredacted = page;
    return o;
  };
  auto stop = [&] {
    if (!hooks.cancelled || !hooks.cancelled()) return false;
    o.stopped = true;
    return true;
  };
  // Every page's own values first; then every value found anywhere is looked for on every page,
  // by the same whole-token rule: it is readable wherever it stands as a token, not only where
  // the patterns met it.
  std::vector<std::string> texts(static_cast<size_t>(n)), shown_of(static_cast<size_t>(n));
  std::vector<std::vector<std::string>> own(static_cast<size_t>(n));
  for (int first = 0; first < n; first += kShownChunk) {
    std::vector<int> chunk;
    for (int i = first; i < std::min(n, first + kShownChunk); ++i) chunk.push_back(i);
    std::vector<std::optional<std::string>> shown = doc.shown_texts(chunk);
    for (size_t k = 0; k < chunk.size(); ++k) {
      const int i = chunk[k];
      const size_t at = static_cast<size_t>(i);
      if (stop()) return o;
      progress(i);
      // A page the content reader cannot read may show what PDFium does not.
      if (k >= shown.size() || !shown[k]) return fail(i);
      texts[at] = page_text(doc.extract_text(i));
      // Values only the content's own strings hold have no place PDFium knows: no box for them.
      const std::string plain = without_spaces(texts[at]);
      for (const std::string& v : values_in(*shown[k]))
        if (plain.find(without_spaces(v)) == std::string::npos) return fail(i);
      own[at] = values_in(texts[at]);
      o.found.insert(own[at].begin(), own[at].end());
      shown_of[at] = std::move(*shown[k]);
    }
  }
  std::vector<std::pair<int, std::vector<annot::Rect>>> work;
  std::vector<std::vector<std::string>> values_of;
  for (int i = 0; i < n; ++i) {
    const size_t at = static_cast<size_t>(i);
    if (stop()) return o;
    progress(n + i);
    std::vector<std::string> values = std::move(own[at]);
    for (const std::string& v : o.found)
      if (std::find(values.begin(), values.end(), v) == values.end() &&
          (holds_token(texts[at], v) || holds_token(shown_of[at], v)))
        values.push_back(v);
    if (values.empty()) continue;
    // Read again for the characters' boxes: keeping those of every page would cost too much.
    std::vector<annot::Rect> rects = pii_rects(doc.extract_text(i), values);
    if (rects.empty()) return fail(i);
    work.emplace_back(i, std::move(rects));
    values_of.push_back(std::move(values));
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
      progress(2LL * n + chunk[k]);
      if (k >= shown.size() || !shown[k] || readable(*shown[k], values) ||
          readable(page_text(doc.extract_text(chunk[k])), values))
        return fail(chunk[k]);
    }
  }
  // A link anywhere may still name a value in its target (a mailto address).
  for (int i = 0; i < n; ++i) {
    progress(3LL * n + i);
    for (const Link& link : doc.links(i))
      for (const std::string& v : o.found)
        if (holds_token(link.uri, v)) return fail(i);
  }
  o.boxes = std::move(work);
  return o;
}

}  // namespace quorvel::extract
