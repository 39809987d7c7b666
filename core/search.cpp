#include "core/search.h"

#include <algorithm>
#include <string>

#include "core/regex.h"

namespace quorvel::search {
namespace {

// Byte rules of the "C" locale, independent of the process locale (the application runs under
// the user's, often ru_RU.UTF-8).
inline unsigned char ascii_lower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }

inline bool is_word_byte(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

bool bytes_equal_at(std::string_view text, size_t pos, std::string_view needle, bool case_sensitive) {
  if (case_sensitive) return text.compare(pos, needle.size(), needle) == 0;
  for (size_t i = 0; i < needle.size(); ++i) {
    if (ascii_lower(static_cast<unsigned char>(text[pos + i])) != ascii_lower(static_cast<unsigned char>(needle[i])))
      return false;
  }
  return true;
}

bool whole_word_at(std::string_view text, size_t pos, size_t len) {
  if (pos > 0 && is_word_byte(static_cast<unsigned char>(text[pos - 1]))) return false;
  if (pos + len < text.size() && is_word_byte(static_cast<unsigned char>(text[pos + len]))) return false;
  return true;
}

std::vector<Match> find_plain(std::string_view text, std::string_view needle, const Options& options) {
  std::vector<Match> out;
  if (text.size() < needle.size()) return out;
  const size_t last = text.size() - needle.size();
  size_t pos = 0;
  while (pos <= last) {
    if (options.case_sensitive) {
      // Jump to the next candidate; positions in between cannot match.
      size_t found = text.find(needle, pos);
      if (found == std::string_view::npos) break;
      pos = found;
    }
    if (bytes_equal_at(text, pos, needle, options.case_sensitive) &&
        (!options.whole_word || whole_word_at(text, pos, needle.size()))) {
      out.push_back(Match{pos, needle.size()});
      pos += needle.size();
    } else {
      ++pos;
    }
  }
  return out;
}

// The compiled form of a regular-expression query, made once per search.
regex::Pattern compile_query(std::string_view pattern, const Options& options) {
  const bool caseless = !options.case_sensitive;
  if (!options.whole_word) return regex::Pattern(pattern, caseless);
  // Wrapping could turn an invalid pattern such as "a)|(b" into a valid one: the bare pattern
  // must compile on its own first.
  if (!regex::Pattern(pattern, caseless).valid()) return regex::Pattern();
  std::string wrapped = "\\b(?:";
  wrapped.append(pattern);
  wrapped.append(")\\b");
  return regex::Pattern(wrapped, caseless);
}

std::vector<Match> find_compiled(std::string_view text, const regex::Pattern& pattern) {
  std::vector<Match> out;
  bool ok = pattern.for_each_match(text, [&](std::span<const regex::Group> groups) {
    if (groups[0].length > 0) out.push_back(Match{groups[0].offset, groups[0].length});
    return true;
  });
  if (!ok) out.clear();
  return out;
}

std::vector<Match> find_regex(std::string_view text, std::string_view pattern, const Options& options) {
  return find_compiled(text, compile_query(pattern, options));
}

void append_hits(std::vector<DocMatch>& out, int page, size_t run_index, const TextRun& run,
                 const std::vector<Match>& hits, size_t max) {
  for (const Match& hit : hits) {
    DocMatch m;
    m.page = page;
    m.run = run_index;
    m.offset = hit.offset;
    m.length = hit.length;
    m.text = run.text;
    m.left = run.left;
    m.top = run.top;
    m.right = run.right;
    m.bottom = run.bottom;
    bool narrowed = false;
    for (const CharBox& c : run.chars) {
      if (c.offset < hit.offset || c.offset >= hit.offset + hit.length) continue;
      if (!narrowed) {
        m.left = c.left;
        m.top = c.top;
        m.right = c.right;
        m.bottom = c.bottom;
        narrowed = true;
      } else {
        m.left = std::min(m.left, c.left);
        m.top = std::max(m.top, c.top);
        m.right = std::max(m.right, c.right);
        m.bottom = std::min(m.bottom, c.bottom);
      }
    }
    if (!narrowed) m.chars = run.chars;
    out.push_back(std::move(m));
    if (out.size() >= max) return;
  }
}

}  // namespace

std::vector<Match> find_all(std::string_view text, std::string_view needle, const Options& options) {
  if (needle.empty()) return {};
  if (options.regex) return find_regex(text, needle, options);
  return find_plain(text, needle, options);
}

std::vector<DocMatch> search_document(const IDocument& doc, std::string_view query, const Options& options,
                                      size_t max) {
  std::vector<DocMatch> out;
  if (query.empty() || max == 0) return out;
  const int pages = doc.page_count();
  if (pages <= 0) return out;
  regex::Pattern pattern;
  if (options.regex) {
    pattern = compile_query(query, options);
    if (!pattern.valid()) return out;
  }
  for (int p = 0; p < pages; ++p) {
    const TextPage page = doc.extract_text(p);
    for (size_t r = 0; r < page.runs.size(); ++r) {
      const TextRun& run = page.runs[r];
      std::vector<Match> hits =
          options.regex ? find_compiled(run.text, pattern) : find_plain(run.text, query, options);
      append_hits(out, p, r, run, hits, max);
      if (out.size() >= max) return out;
    }
  }
  return out;
}

}  // namespace quorvel::search
