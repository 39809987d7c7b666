// Ranking pages against a query, and the retrieval context for a question to a language model.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "core/engine.h"

namespace quorvel::search {

struct RankedPage {
  int page = 0;
  double score = 0.0;   // always > 0
  std::string snippet;  // up to 120 bytes of the page's text
};

// Lexical ranking, best first, at most k; pages of equal score keep page order. The query's
// words (letters and digits of any script, two or more) are found in any case, Unicode's
// folding, also inside longer words.
std::vector<RankedPage> rank_pages(const IDocument& doc, std::string_view query, size_t k);

// Ranking by cosine similarity; `page_vectors[i]` belongs to page i and there must be one per page.
std::vector<RankedPage> rank_by_vectors(const IDocument& doc, const std::vector<float>& query,
                                        const std::vector<std::vector<float>>& page_vectors, size_t k);

double cosine_similarity(const std::vector<float>& a, const std::vector<float>& b);

// The best pages' texts under "[стр. N]" headers, at most `limit` bytes in all.
std::string build_rag_context(const IDocument& doc, std::string_view query, size_t limit);

}  // namespace quorvel::search
