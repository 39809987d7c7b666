// Figures for search, ranking, extraction and compare over documents whose text is already
// extracted (held in memory by a stand-in document), plus the hostile inputs of the pattern layer.
//   bench_search [PAGES]    (default 1000)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "core/diff.h"
#include "core/extract.h"
#include "core/rank.h"
#include "core/search.h"

using namespace quorvel;

namespace {

class MemoryDoc : public IDocument {
 public:
  explicit MemoryDoc(std::vector<TextPage> pages) : pages_(std::move(pages)) {}
  int page_count() const override { return static_cast<int>(pages_.size()); }
  PageInfo page_info(int) const override { return {612, 792, 0}; }
  RenderedTile render_tile(int, const RenderRequest&) override { return {}; }
  TextPage extract_text(int page) const override {
    if (page < 0 || page >= page_count()) return {};
    return pages_[static_cast<size_t>(page)];
  }
  DocMetadata metadata() const override { return {}; }
  std::vector<TextPage> pages_;
};

const char* kWords[] = {"договор", "поставки", "сторона", "оплата", "в", "течение", "дней", "contract",
                        "delivery", "party", "the", "of", "and", "сумма", "руб.", "акт", "приложение",
                        "обязуется", "payment", "invoice", "счёт", "no.", "срок", "page"};

// About 45 lines of about 70 bytes a page, one run a line, one box a character.
TextPage make_page(std::mt19937& rng, int page) {
  TextPage tp;
  for (int line = 0; line < 45; ++line) {
    std::string text;
    while (text.size() < 70) {
      if (!text.empty()) text += ' ';
      const unsigned r = rng() % 100;
      if (r < 3) {
        char date[16];
        std::snprintf(date, sizeof date, "%02u.%02u.20%02u", static_cast<unsigned>(1 + rng() % 28),
                      static_cast<unsigned>(1 + rng() % 12), static_cast<unsigned>(rng() % 30));
        text += date;
      } else if (r < 5) {
        text += std::to_string(rng() % 1000) + " " + std::to_string(100 + rng() % 900) + "," +
                std::to_string(10 + rng() % 90);
      } else {
        text += kWords[rng() % (sizeof kWords / sizeof *kWords)];
      }
    }
    if (line == 0) text = "Страница " + std::to_string(page + 1) + " " + text;
    TextRun run;
    run.text = text;
    const double y = 760 - line * 16.0;
    double x = 40;
    for (size_t i = 0; i < text.size(); ++i) {
      if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
      run.chars.push_back(CharBox{i, x, y + 11, x + 6, y});
      x += 6;
    }
    run.left = 40, run.right = x, run.top = y + 11, run.bottom = y;
    tp.runs.push_back(std::move(run));
  }
  return tp;
}

double ms_per_call(const std::function<size_t()>& fn, size_t& result, int min_rounds = 5) {
  using clock = std::chrono::steady_clock;
  const auto t0 = clock::now();
  int rounds = 0;
  do {
    result = fn();
    ++rounds;
  } while (rounds < min_rounds || clock::now() - t0 < std::chrono::milliseconds(300));
  return std::chrono::duration<double, std::milli>(clock::now() - t0).count() / rounds;
}

void report(const char* what, const std::function<size_t()>& fn, const char* unit = "hits") {
  size_t n = 0;
  const double ms = ms_per_call(fn, n);
  std::printf("%-52s %9.2f ms  %8zu %s", what, ms, n, unit);
  if (std::string(unit) == "hits" && ms > 0) std::printf("  %.0f hits/s", n / (ms / 1000.0));
  std::printf("\n");
}

void once(const char* what, const std::function<size_t()>& fn) {
  using clock = std::chrono::steady_clock;
  const auto t0 = clock::now();
  const size_t n = fn();
  std::printf("%-52s %9.2f ms  %8zu results\n", what,
              std::chrono::duration<double, std::milli>(clock::now() - t0).count(), n);
}

}  // namespace

int main(int argc, char** argv) {
  const int pages = argc > 1 ? std::atoi(argv[1]) : 1000;
  std::mt19937 rng(42);
  std::vector<TextPage> tp;
  size_t bytes = 0;
  for (int p = 0; p < pages; ++p) {
    tp.push_back(make_page(rng, p));
    for (const auto& r : tp.back().runs) bytes += r.text.size();
  }
  const MemoryDoc doc(tp);
  std::printf("document: %d pages, %zu bytes of text, %zu runs a page\n", pages, bytes, tp[0].runs.size());

  report("copying every page's text (the stand-in's own cost)", [&] {
    size_t n = 0;
    for (int p = 0; p < pages; ++p) n += doc.extract_text(p).runs.size();
    return n;
  }, "runs");
  const search::Options plain{true, false, false}, caseless{false, false, false}, word{false, true, false},
      pattern{true, false, true}, pattern_ci{false, false, true}, pattern_word{false, true, true};
  report("search_document plain word 'договор'", [&] { return search::search_document(doc, "договор", plain, SIZE_MAX).size(); });
  report("search_document caseless 'Contract'", [&] { return search::search_document(doc, "Contract", caseless, SIZE_MAX).size(); });
  report("search_document whole word 'the'", [&] { return search::search_document(doc, "the", word, SIZE_MAX).size(); });
  report("search_document pattern date \\d{2}\\.\\d{2}\\.\\d{4}", [&] {
    return search::search_document(doc, "\\d{2}\\.\\d{2}\\.\\d{4}", pattern, SIZE_MAX).size();
  });
  report("search_document pattern caseless 'pay\\w*'", [&] { return search::search_document(doc, "pay\\w*", pattern_ci, SIZE_MAX).size(); });
  report("search_document pattern whole word 'of|and'", [&] { return search::search_document(doc, "of|and", pattern_word, SIZE_MAX).size(); });
  report("search_document plain, limit 5000", [&] { return search::search_document(doc, "в", plain, 5000).size(); });
  report("rank_pages 'договор поставки оплата', k 12", [&] { return search::rank_pages(doc, "договор поставки оплата", 12).size(); }, "pages");
  report("build_rag_context 'срок оплаты', limit 8000", [&] { return search::build_rag_context(doc, "срок оплаты", 8000).size(); }, "bytes");

  std::string text;
  for (const auto& page : tp)
    for (const auto& r : page.runs) text += r.text + "\n";
  report("extract_entities over the whole document text", [&] { return extract::extract_entities(text).size(); }, "entities");
  const auto ents = extract::extract_entities(text);
  std::vector<std::string> needles;
  for (size_t i = 0; i < ents.size() && i < 20; ++i) needles.push_back(ents[i].value);
  report("pii_rects of 20 values on every page", [&] {
    size_t n = 0;
    for (const auto& page : tp) n += extract::pii_rects(page, needles).size();
    return n;
  }, "boxes");

  // Two versions of 300 pages: every tenth page has a few lines changed, removed or added.
  const int cmp_pages = std::min(pages, 300);
  std::vector<TextPage> va(tp.begin(), tp.begin() + cmp_pages), vb = va;
  for (int p = 0; p < cmp_pages; p += 10) {
    auto& runs = vb[static_cast<size_t>(p)].runs;
    runs[5].text += " (изменено)";
    runs.erase(runs.begin() + 20);
    runs.insert(runs.begin() + 30, TextRun{"новая строка", 0, 0, 0, 0, {}});
  }
  const MemoryDoc da(va), db(vb);
  report("compare_documents of two 300-page versions", [&] {
    size_t changed = 0;
    for (const auto& d : diff::compare_documents(da, db)) changed += d.changed;
    return changed;
  }, "changed pages");

  std::printf("\nhostile inputs (one call each)\n");
  const std::string mb(1 << 20, 'x');
  once("'.*' over a 1 MB run", [&] { return search::find_all(mb, ".*", pattern).size(); });
  const std::string trap = std::string(100000, 'a') + "b!";
  once("'(a|a)+!' over 100,000 'a' then 'b!'", [&] { return search::find_all(trap, "(a|a)+!", pattern).size(); });
  once("entities of a 100,000-letter word", [&] { return extract::extract_entities(std::string(100000, 'a')).size(); });
  once("entities of '8' and 100,000 spaces", [&] { return extract::extract_entities("8" + std::string(100000, ' ')).size(); });
  once("entities of 100,000 digits", [&] { return extract::extract_entities(std::string(100000, '7')).size(); });
  for (int n : {2500, 10000}) {
    std::string groups;
    for (int i = 0; i < n; ++i) groups += "123 ";
    const std::string what = "entities of '123 ' x " + std::to_string(n) + " (retries at every group)";
    once(what.c_str(), [&] { return extract::extract_entities(groups).size(); });
  }
  for (int n : {1000, 10000}) {
    const std::string mail = std::string(static_cast<size_t>(n), 'a') + "@" + std::string(static_cast<size_t>(n), 'b') + " .";
    const std::string what = "entities of 'a' x " + std::to_string(n) + " '@' 'b' x " + std::to_string(n) + " ' .'";
    once(what.c_str(), [&] { return extract::extract_entities(mail).size(); });
  }
  std::string big_a, big_b;
  for (int i = 0; i < 50000; ++i) {
    big_a += "line " + std::to_string(i) + "\n";
    big_b += (i % 3 == 0 ? "line " : "other ") + std::to_string(i) + "\n";
  }
  once("diff_lines of 50,000 x 50,000 lines, a third in common", [&] { return diff::diff_lines(big_a, big_b).size(); });
  return 0;
}
