#include "core/rank.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <set>

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

std::string page_text(const IDocument& doc, int page) {
  std::string text;
  for (const TextRun& run : doc.extract_text(page).runs) {
    if (!text.empty()) text.push_back('\n');
    text += run.text;
  }
  return text;
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

size_t count_occurrences(std::string_view text, std::string_view token) {
  size_t n = 0;
  for (size_t pos = text.find(token); pos != std::string_view::npos; pos = text.find(token, pos + token.size())) ++n;
  return n;
}

// Best first; equal scores keep page order so that results do not depend on the sort.
void sort_and_cut(std::vector<RankedPage>& pages, size_t k) {
  std::stable_sort(pages.begin(), pages.end(),
                   [](const RankedPage& a, const RankedPage& b) { return a.score > b.score; });
  if (pages.size() > k) pages.resize(k);
}

}  // namespace

std::vector<RankedPage> rank_pages(const IDocument& doc, std::string_view query, size_t k) {
  std::vector<RankedPage> out;
  const std::vector<std::string> tokens = tokens_of(query);
  if (tokens.empty() || k == 0) return out;
  const int n = doc.page_count();
  if (n <= 0) return out;

  std::vector<std::string> texts;
  texts.reserve(static_cast<size_t>(n));
  for (int p = 0; p < n; ++p) texts.push_back(lowered(page_text(doc, p)));

  const std::set<std::string> distinct(tokens.begin(), tokens.end());
  std::vector<double> weight(tokens.size());
  for (const std::string& token : distinct) {
    size_t df = 0;
    for (const std::string& text : texts)
      if (text.find(token) != std::string::npos) ++df;
    double w = std::log((n + 1.0) / (static_cast<double>(df) + 0.5));
    if (!(w > 0.0)) w = 0.1;
    for (size_t t = 0; t < tokens.size(); ++t)
      if (tokens[t] == token) weight[t] = w;
  }

  for (int p = 0; p < n; ++p) {
    const std::string& text = texts[static_cast<size_t>(p)];
    double score = 0.0;
    for (size_t t = 0; t < tokens.size(); ++t) {
      size_t tf = count_occurrences(text, tokens[t]);
      if (tf > 0) score += static_cast<double>(tf) * weight[t];
    }
    if (!(score > 0.0)) continue;
    size_t anchor = std::string::npos;
    for (const std::string& token : tokens) anchor = std::min(anchor, text.find(token));
    const std::string original = page_text(doc, p);
    size_t start = 0;
    if (anchor != std::string::npos && anchor >= kSnippetLead) start = anchor - kSnippetLead;
    start = std::min(start, original.size());
    out.push_back(RankedPage{p, score, original.substr(start, kSnippetBytes)});
  }
  sort_and_cut(out, k);
  return out;
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
    out.push_back(RankedPage{p, s, page_text(doc, p).substr(0, kSnippetBytes)});
  }
  sort_and_cut(out, k);
  return out;
}

std::string build_rag_context(const IDocument& doc, std::string_view query, size_t limit) {
  std::string out;
  const int n = doc.page_count();
  if (n <= 0 || limit == 0) return out;
  std::vector<int> order;
  for (const RankedPage& r : rank_pages(doc, query, static_cast<size_t>(n))) order.push_back(r.page);
  if (order.empty()) {
    for (int p = 0; p < n; ++p) order.push_back(p);
  }
  for (int p : order) {
    if (out.size() >= limit) break;
    char number[16];
    auto [end, ec] = std::to_chars(number, number + sizeof number, p + 1);
    (void)ec;
    std::string block = "[стр. ";
    block.append(number, end);
    block += "]\n";
    block += page_text(doc, p);
    block += '\n';
    const size_t room = limit - out.size();
    if (block.size() > room) block.resize(room);
    out += block;
  }
  return out;
}

}  // namespace quorvel::search
