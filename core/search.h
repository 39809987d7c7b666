// Finding a query in page text, and the hits' boxes for highlighting. Text is read as UTF-8:
// case folding and word boundaries follow Unicode, so "ДОГОВОР" finds "договор" and a whole
// word ends where its letters do, in any script.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "core/engine.h"
#include "core/regex.h"

namespace quorvel::search {

struct Options {
  bool case_sensitive = false;
  bool whole_word = false;
  bool regex = false;
};

// One hit in one text; `length` is never 0.
struct Match {
  size_t offset = 0;
  size_t length = 0;
};

struct DocMatch {
  int page = 0;
  size_t run = 0;
  size_t offset = 0;  // bytes into `text`
  size_t length = 0;
  std::string text;   // the whole run's text
  double left = 0.0;
  double top = 0.0;
  double right = 0.0;
  double bottom = 0.0;
  // Empty when the box was narrowed to the hit's characters; otherwise the run's characters.
  std::vector<CharBox> chars;
};

class CachedPage;

// A query made ready once for a whole search. Safe to use from several threads at once.
class Query {
 public:
  Query() = default;
  Query(std::string_view query, const Options& options);
  // False for an empty query or an invalid pattern: such a query finds nothing.
  bool valid() const { return pattern_.valid(); }
  // Every hit in `text`, left to right, never overlapping; none at all when matching fails.
  std::vector<Match> find(std::string_view text) const;

 private:
  regex::Pattern pattern_;
};

// Every hit of `needle` in `text`, left to right, never overlapping. An invalid pattern gives none.
std::vector<Match> find_all(std::string_view text, std::string_view needle, const Options& options);

// At most `max` hits over the whole document in document order; hits never span two runs.
std::vector<DocMatch> search_document(const IDocument& doc, std::string_view query,
                                      const Options& options, size_t max);

// The hits of one page, appended to `out` until it holds `max`; true when it got there.
bool search_page(int page, const TextPage& text, const Query& query, size_t max, std::vector<DocMatch>& out);
bool search_page(int page, const CachedPage& text, const Query& query, size_t max, std::vector<DocMatch>& out);

}  // namespace quorvel::search
