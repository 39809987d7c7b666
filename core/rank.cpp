#include "core/rank.h"
#include "core/c_locale.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace quorvel::search {
namespace {

constexpr size_t kSnippetBytes = 120;
constexpr size_t kSnippetLead = 40;

inline unsigned char ascii_lower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }

inline bool is_token_byte(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c >= 0x80;
}

std::string lowered(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(ascii_lower(static_cast<unsigned char>(c)));
  return out;
}

std::vector<std::string> tokens_of(std::string_view query) {
  const std::string lower = lowered(query);
  std::vector<std::string> tokens;
  size_t i = 0;
  while (i < lower.size()) {
    if (!is_token_byte(static_cast<unsigned char>(lower[i]))) {
      ++i;
      continue;
    }
    size_t j = i;
    while (j < lower.size() && is_token_byte(static_cast<unsigned char>(lower[j]))) ++j;
    if (j - i >= 2) tokens.emplace_back(lower, i, j - i);
    i = j;
  }
  return tokens;
}

// Non-overlapping occurrences. memmem rather than string::find: a Cyrillic token's first byte
// (0xD0 or 0xD1) stands at every other position of Russian text.
size_t count_occurrences(std::string_view text, std::string_view token) {
  size_t n = 0;
  const char* p = text.data();
  const char* const end = text.data() + text.size();
  while (static_cast<size_t>(end - p) >= token.size()) {
    const void* hit = memmem(p, static_cast<size_t>(end - p), token.data(), token.size());
    if (hit == nullptr) break;
    ++n;
    p = static_cast<const char*>(hit) + token.size();
  }
  return n;
}

size_t first_occurrence(std::string_view text, std::string_view token) {
  const void* hit = memmem(text.data(), text.size(), token.data(), token.size());
  return hit == nullptr ? std::string::npos : static_cast<size_t>(static_cast<const char*>(hit) - text.data());
}

// Best first; equal scores keep page order so that results do not depend on the sort.
void sort_and_cut(std::vector<RankedPage>& pages, size_t k) {
  std::stable_sort(pages.begin(), pages.end(),
                   [](const RankedPage& a, const RankedPage& b) { return a.score > b.score; });
  if (pages.size() > k) pages.resize(k);
}

// rank_pages, optionally handing out every page's text so that a caller need not read the
// pages again.
std::vector<RankedPage> rank_with_texts(const IDocument& doc, std::string_view query, size_t k,
                                        std::vector<std::string>* page_texts) {
  std::vector<RankedPage> out;
  const std::vector<std::string> tokens = tokens_of(query);
  if (tokens.empty() || k == 0) return out;
  const int n = doc.page_count();
  if (n <= 0) return out;

  // The texts as read and lowered; lowering keeps every byte's position.
  std::vector<std::string> texts, lower;
  texts.reserve(static_cast<size_t>(n));
  lower.reserve(static_cast<size_t>(n));
  for (int p = 0; p < n; ++p) {
    texts.push_back(page_text(doc.extract_text(p)));
    lower.push_back(lowered(texts.back()));
  }

  // Occurrences of each distinct token on each page; a page contains a token when it has one.
  std::vector<std::string> distinct;
  std::vector<size_t> slot(tokens.size());
  for (size_t t = 0; t < tokens.size(); ++t) {
    auto it = std::find(distinct.begin(), distinct.end(), tokens[t]);
    slot[t] = static_cast<size_t>(it - distinct.begin());
    if (it == distinct.end()) distinct.push_back(tokens[t]);
  }
  std::vector<size_t> tf(distinct.size() * static_cast<size_t>(n));
  std::vector<double> weight(distinct.size());
  for (size_t d = 0; d < distinct.size(); ++d) {
    size_t df = 0;
    for (size_t p = 0; p < lower.size(); ++p) {
      const size_t count = count_occurrences(lower[p], distinct[d]);
      tf[p * distinct.size() + d] = count;
      if (count > 0) ++df;
    }
    double w = std::log((n + 1.0) / (static_cast<double>(df) + 0.5));
    if (!(w > 0.0)) w = 0.1;
    weight[d] = w;
  }

  for (size_t p = 0; p < lower.size(); ++p) {
    double score = 0.0;
    for (size_t t = 0; t < tokens.size(); ++t) {
      const size_t count = tf[p * distinct.size() + slot[t]];
      if (count > 0) score += static_cast<double>(count) * weight[slot[t]];
    }
    if (!(score > 0.0)) continue;
    size_t anchor = std::string::npos;
    for (const std::string& token : distinct) anchor = std::min(anchor, first_occurrence(lower[p], token));
    size_t start = 0;
    if (anchor != std::string::npos && anchor >= kSnippetLead) start = anchor - kSnippetLead;
    out.push_back(RankedPage{static_cast<int>(p), score, texts[p].substr(start, kSnippetBytes)});
  }
  sort_and_cut(out, k);
  if (page_texts != nullptr) *page_texts = std::move(texts);
  return out;
}

}  // namespace

std::vector<RankedPage> rank_pages(const IDocument& doc, std::string_view query, size_t k) {
  return rank_with_texts(doc, query, k, nullptr);
}

double cosine_similarity(const std::vector<float>& a, const std::vector<float>& b) {
  if (a.empty() || a.size() != b.size()) return 0.0;
  double dot = 0.0, na = 0.0, nb = 0.0;
  for (size_t i = 0; i < a.size(); ++i) {
    const double x = a[i], y = b[i];
    dot += x * y;
    na += x * x;
    nb += y * y;
  }
  if (!(na > 0.0) || !(nb > 0.0)) return 0.0;
  return dot / (std::sqrt(na) * std::sqrt(nb));
}

std::vector<RankedPage> rank_by_vectors(const IDocument& doc, const std::vector<float>& query,
                                        const std::vector<std::vector<float>>& page_vectors, size_t k) {
  std::vector<RankedPage> out;
  const int n = doc.page_count();
  if (n <= 0 || query.empty() || k == 0 || page_vectors.size() != static_cast<size_t>(n)) return out;
  for (int p = 0; p < n; ++p) {
    const double s = cosine_similarity(query, page_vectors[static_cast<size_t>(p)]);
    if (!(s > 0.0)) continue;
    out.push_back(RankedPage{p, s, {}});
  }
  sort_and_cut(out, k);
  // Only the pages kept are read for their snippets.
  for (RankedPage& r : out) r.snippet = page_text(doc.extract_text(r.page)).substr(0, kSnippetBytes);
  return out;
}

std::string build_rag_context(const IDocument& doc, std::string_view query, size_t limit) {
  std::string out;
  const int n = doc.page_count();
  if (n <= 0 || limit == 0) return out;
  std::vector<std::string> texts;
  std::vector<int> order;
  for (const RankedPage& r : rank_with_texts(doc, query, static_cast<size_t>(n), &texts)) order.push_back(r.page);
  if (order.empty()) {
    for (int p = 0; p < n; ++p) order.push_back(p);
  }
  for (int p : order) {
    if (out.size() >= limit) break;
    std::string block = "[стр. ";
    append_int(block, p + 1);
    block += "]\n";
    block += texts.empty() ? page_text(doc.extract_text(p)) : texts[static_cast<size_t>(p)];
    block += '\n';
    const size_t room = limit - out.size();
    if (block.size() > room) block.resize(room);
    out += block;
  }
  return out;
}

}  // namespace quorvel::search
