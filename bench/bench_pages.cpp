// Time of the page edits that rebuild the document through qpdf, on a 500-page document.
// Prints one line per operation: median and slowest run in milliseconds.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "common/fixtures.h"
#include "core/engine.h"

using namespace quorvel;
using quorvel::test::as_bytes;

namespace {

// Pages of 40 text lines each, sharing one font, as a text document would have them.
std::string text_document(int pages) {
  std::vector<std::string> objs;
  std::string kids;
  for (int i = 0; i < pages; ++i) kids += std::to_string(4 + 2 * i) + " 0 R ";
  objs.push_back("<< /Type /Catalog /Pages 2 0 R >>");
  objs.push_back("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>");
  objs.push_back("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
  for (int i = 0; i < pages; ++i) {
    std::string content = "BT /F1 11 Tf 72 760 Td 14 TL\n";
    for (int line = 0; line < 40; ++line) {
      content += "(Page " + std::to_string(i + 1) + ", line " + std::to_string(line + 1) +
                 ": the quick brown fox jumps over the lazy dog) '\n";
    }
    content += "ET";
    objs.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 3 0 R >> >> "
                   "/Contents " + std::to_string(5 + 2 * i) + " 0 R >>");
    objs.push_back("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream");
  }
  return test::build_pdf(objs);
}

// Runs `op` on a freshly opened document each time, so that every run sees 500 pages.
void measure(const char* name, const std::string& doc, int runs,
             const std::function<bool(IDocument&)>& op) {
  auto engine = make_engine(EngineKind::Pdfium);
  std::vector<double> ms;
  for (int i = 0; i < runs; ++i) {
    auto d = engine->open(as_bytes(doc), "");
    if (!d) {
      std::printf("%s: document did not open\n", name);
      return;
    }
    const auto t0 = std::chrono::steady_clock::now();
    const bool ok = op(*d);
    const auto t1 = std::chrono::steady_clock::now();
    if (!ok) {
      std::printf("%s: failed\n", name);
      return;
    }
    ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
  }
  std::sort(ms.begin(), ms.end());
  std::printf("%-40s median %8.1f ms   max %8.1f ms   (%d runs)\n", name, ms[ms.size() / 2], ms.back(), runs);
}

}  // namespace

int main() {
  const int pages = 500;
  const std::string doc = text_document(pages);
  const std::string small = text_document(10);
  std::printf("document: %d pages, %zu bytes\n", pages, doc.size());
  const int runs = 15;
  measure("move_page first to last", doc, runs, [&](IDocument& d) { return d.move_page(0, pages - 1); });
  measure("move_page middle to first", doc, runs, [&](IDocument& d) { return d.move_page(pages / 2, 0); });
  measure("merge 10 pages, appended", doc, runs, [&](IDocument& d) { return d.merge(as_bytes(small), -1); });
  measure("merge 10 pages at index 0", doc, runs, [&](IDocument& d) { return d.merge(as_bytes(small), 0); });
  measure("merge 500 pages, appended", doc, runs, [&](IDocument& d) { return d.merge(as_bytes(doc), -1); });
  return 0;
}
