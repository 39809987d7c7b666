#include "core/rank.h"
#include "core/c_locale.h"

#include <algorithm>
#include <cmath>

#include "core/regex.h"

namespace quorvel::search {
namespace {

constexpr size_t kSnippetBytes = 120;
constexpr size_t kSnippetLead = 40;

using regex::Pattern;

size_t characters(std::string_view s) {
  return static_cast<size_t>(
      std::count_if(s.begin(), s.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// What finds a query word in page text, in any case and inside longer words.
Pattern caseless_literal(std::string_view word) {
  return Pattern(regex::literal(word), true, Pattern::Text::Unicode);
}

// The query's words in order, repeats included: runs of letters, digits and their marks in any
// script, of two characters or more; punctuation and the underscore split them.
std::vector<std::string> words_of(std::string_view query) {
  static const Pattern word("[\\p{L}\\p{M}\\p{N}]+", false, Pattern::Text::Unicode);
  std::vector<std::string> out;
  word.for_each_match(query, [&](std::span<const regex::Group> g) {
    const std::string_view w = query.substr(g[0].offset, g[0].length);
    if (characters(w) >= 2) out.emplace_back(w);
    return true;
  });
  return out;
}

bool same_word(const Pattern& token, std::string_view word) {
  bool whole = false;
  token.for_each_match(word, [&](std::span<const regex::Group> g) {
    whole = g[0].offset == 0 && g[0].length == word.size();
    return false;
  });
  return whole;
}

// Non-overlapping occurrences, and where the first one starts (npos without any).
size_t count_occurrences(const Pattern& pattern, std::string_view text, size_t& first) {
  size_t n = 0;
  first = std::string::npos;
  pattern.for_each_match(text, [&](std::span<const regex::Group> g) {
    if (n++ == 0) first = g[0].offset;
    return true;
  });
  return n;
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
  const std::vector<std::string> words = words_of(query);
  if (words.empty() || k == 0) return out;
  const int n = doc.page_count();
  if (n <= 0) return out;

  std::vector<std::string> texts;
  texts.reserve(static_cast<size_t>(n));
  for (int p = 0; p < n; ++p) texts.push_back(page_text(doc.extract_text(p)));

  // Each query word counts towards the distinct token it equals in any case.
  std::vector<Pattern> distinct;
  std::vector<size_t> slot(words.size());
  for (size_t t = 0; t < words.size(); ++t) {
    auto it = std::find_if(distinct.begin(), distinct.end(), [&](const Pattern& d) { return same_word(d, words[t]); });
    slot[t] = static_cast<size_t>(it - distinct.begin());
    if (it == distinct.end()) distinct.push_back(caseless_literal(words[t]));
  }
  const size_t pages = texts.size();
  std::vector<size_t> tf(distinct.size() * pages), first(distinct.size() * pages);
  std::vector<double> weight(distinct.size());
  for (size_t d = 0; d < distinct.size(); ++d) {
    size_t df = 0;
    for (size_t p = 0; p < pages; ++p) {
      const size_t count = count_occurrences(distinct[d], texts[p], first[p * distinct.size() + d]);
      tf[p * distinct.size() + d] = count;
      if (count > 0) ++df;
    }
    double w = std::log((n + 1.0) / (static_cast<double>(df) + 0.5));
    if (!(w > 0.0)) w = 0.1;
    weight[d] = w;
  }

  for (size_t p = 0; p < pages; ++p) {
    double score = 0.0;
    for (size_t t = 0; t < words.size(); ++t) {
      const size_t count = tf[p * distinct.size() + slot[t]];
      if (count > 0) score += static_cast<double>(count) * weight[slot[t]];
    }
    if (!(score > 0.0)) continue;
    size_t anchor = std::string::npos;
    for (size_t d = 0; d < distinct.size(); ++d) anchor = std::min(anchor, first[p * distinct.size() + d]);
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
