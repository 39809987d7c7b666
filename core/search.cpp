#include "core/search.h"

#include <algorithm>
#include <string>

#include "core/search_cache.h"

namespace quorvel::search {
namespace {

using regex::Pattern;

Pattern compile_query(std::string_view query, const Options& options) {
  const bool caseless = !options.case_sensitive;
  if (!options.regex) {
    std::string source = regex::literal(query);
    // A hit must not touch a word character on either side, whatever its own ends are.
    if (options.whole_word) source = "(?<!\\w)(?:" + source + ")(?!\\w)";
    Pattern unicode(source, caseless, Pattern::Text::Unicode);
    if (unicode.valid()) return unicode;
    // A needle that is no UTF-8 still finds its bytes.
    return Pattern(source, caseless);
  }
  if (!options.whole_word) return Pattern(query, caseless, Pattern::Text::Unicode);
  // Wrapping could turn an invalid pattern such as "a)|(b" into a valid one: the bare pattern
  // must compile on its own first.
  if (!Pattern(query, caseless, Pattern::Text::Unicode).valid()) return Pattern();
  std::string wrapped = "\\b(?:";
  wrapped.append(query);
  wrapped.append(")\\b");
  return Pattern(wrapped, caseless, Pattern::Text::Unicode);
}

// The two forms of page text as building a hit sees them: a run's text and box, the union of
// its characters' boxes over a byte range, and its whole character list.
struct PlainRun {
  const TextRun& run;
  std::string_view text() const { return run.text; }
  Box box() const { return {run.left, run.top, run.right, run.bottom}; }
  bool chars_box(size_t begin, size_t end, Box& out) const {
    bool found = false;
    for (const CharBox& c : run.chars) {
      if (c.offset < begin || c.offset >= end) continue;
      if (!found) {
        out = {c.left, c.top, c.right, c.bottom};
        found = true;
      } else {
        out.left = std::min(out.left, c.left);
        out.top = std::max(out.top, c.top);
        out.right = std::max(out.right, c.right);
        out.bottom = std::min(out.bottom, c.bottom);
      }
    }
    return found;
  }
  std::vector<CharBox> chars() const { return run.chars; }
};

struct KeptRun {
  const CachedPage& page;
  size_t index;
  std::string_view text() const { return page.text(index); }
  Box box() const { return page.box(index); }
  bool chars_box(size_t begin, size_t end, Box& out) const { return page.chars_box(index, begin, end, out); }
  std::vector<CharBox> chars() const { return page.chars(index); }
};

template <class Run>
bool append_hits(std::vector<DocMatch>& out, int page, size_t run_index, const Run& run, const Query& query,
                 size_t max) {
  if (out.size() >= max) return true;
  const std::string_view text = run.text();
  for (const Match& hit : query.find(text)) {
    DocMatch m;
    m.page = page;
    m.run = run_index;
    m.offset = hit.offset;
    m.length = hit.length;
    m.text = std::string(text);
    Box box;
    // The box narrows to the hit's characters; without any, the run's box and characters stay.
    if (!run.chars_box(hit.offset, hit.offset + hit.length, box)) {
      box = run.box();
      m.chars = run.chars();
    }
    m.left = box.left;
    m.top = box.top;
    m.right = box.right;
    m.bottom = box.bottom;
    out.push_back(std::move(m));
    if (out.size() >= max) return true;
  }
  return false;
}

}  // namespace

Query::Query(std::string_view query, const Options& options) {
  if (!query.empty()) pattern_ = compile_query(query, options);
}

std::vector<Match> Query::find(std::string_view text) const {
  std::vector<Match> out;
  const bool ok = pattern_.for_each_match(text, [&](std::span<const regex::Group> groups) {
    if (groups[0].length > 0) out.push_back(Match{groups[0].offset, groups[0].length});
    return true;
  });
  if (!ok) out.clear();
  return out;
}

std::vector<Match> find_all(std::string_view text, std::string_view needle, const Options& options) {
  return Query(needle, options).find(text);
}

bool search_page(int page, const TextPage& text, const Query& query, size_t max, std::vector<DocMatch>& out) {
  for (size_t r = 0; r < text.runs.size(); ++r)
    if (append_hits(out, page, r, PlainRun{text.runs[r]}, query, max)) return true;
  return out.size() >= max;
}

bool search_page(int page, const CachedPage& text, const Query& query, size_t max, std::vector<DocMatch>& out) {
  for (size_t r = 0; r < text.run_count(); ++r)
    if (append_hits(out, page, r, KeptRun{text, r}, query, max)) return true;
  return out.size() >= max;
}

std::vector<DocMatch> search_document(const IDocument& doc, std::string_view query, const Options& options,
                                      size_t max) {
  std::vector<DocMatch> out;
  if (query.empty() || max == 0) return out;
  const int pages = doc.page_count();
  if (pages <= 0) return out;
  const Query compiled(query, options);
  if (!compiled.valid()) return out;
  for (int p = 0; p < pages; ++p)
    if (search_page(p, doc.extract_text(p), compiled, max, out)) break;
  return out;
}

}  // namespace quorvel::search
