// Exact bytes of the text and HTML exports.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "common/fixtures.h"
#include "core/engine.h"
#include "core/exportdoc.h"

using namespace quorvel;

namespace {

// A document that is nothing but the runs of its pages.
class RunsDoc final : public IDocument {
 public:
  explicit RunsDoc(std::vector<std::vector<std::string>> pages) : pages_(std::move(pages)) {}
  int page_count() const override { return static_cast<int>(pages_.size()); }
  PageInfo page_info(int) const override { return {612, 792, 0}; }
  RenderedTile render_tile(int, const RenderRequest&) override { return {}; }
  TextPage extract_text(int page) const override {
    TextPage tp;
    if (page < 0 || page >= page_count()) return tp;
    for (const std::string& t : pages_[static_cast<size_t>(page)]) {
      TextRun run;
      run.text = t;
      run.chars.push_back({0, 1, 2, 3, 4});
      tp.runs.push_back(run);
    }
    return tp;
  }
  DocMetadata metadata() const override { return {}; }

 private:
  std::vector<std::vector<std::string>> pages_;
};

const std::string kHead =
    "<head><meta charset='utf-8'><title>Quorvel export</title>\n"
    "<style>body{font-family:sans-serif;margin:2em}section{margin:0 0 2em}h2{color:#555;font-size:0.9em}"
    "p{margin:0.2em 0}</style></head>\n<body>\n";
const std::string kEnd = "</body>\n</html>\n";

TEST(ExportText, ExactStrings) {
  std::vector<std::vector<std::string>> ten(10, std::vector<std::string>{});
  ten[9] = {"last"};
  const struct {
    const char* name;
    std::vector<std::vector<std::string>> pages;
    std::string text;
  } table[] = {
      {"no pages", {}, ""},
      {"one page without text", {{}}, "--- стр. 1 ---\n\n"},
      {"two pages a and b", {{"a"}, {"b"}}, "--- стр. 1 ---\na\n\n--- стр. 2 ---\nb\n"},
      {"two runs", {{"x", "y"}}, "--- стр. 1 ---\nx\ny\n"},
      {"empty runs add nothing", {{"", "x", "", "y"}}, "--- стр. 1 ---\nx\ny\n"},
      {"text page between empty ones", {{}, {"m"}, {}}, "--- стр. 1 ---\n\n\n--- стр. 2 ---\nm\n\n--- стр. 3 ---\n\n"},
      {"markup stays as it is", {{"<b>&amp;</b>"}}, "--- стр. 1 ---\n<b>&amp;</b>\n"},
      {"page ten",
       ten,
       "--- стр. 1 ---\n\n\n--- стр. 2 ---\n\n\n--- стр. 3 ---\n\n\n--- стр. 4 ---\n\n\n--- стр. 5 ---\n\n\n"
       "--- стр. 6 ---\n\n\n--- стр. 7 ---\n\n\n--- стр. 8 ---\n\n\n--- стр. 9 ---\n\n\n--- стр. 10 ---\nlast\n"},
  };
  for (const auto& row : table) {
    EXPECT_EQ(exportdoc::to_text(RunsDoc(row.pages)), row.text) << row.name;
  }
}

TEST(ExportHtml, ExactStrings) {
  std::vector<std::vector<std::string>> ten(10, std::vector<std::string>{});
  const std::string word_root =
      "<html xmlns:o='urn:schemas-microsoft-com:office:office' xmlns:w='urn:schemas-microsoft-com:office:word' "
      "xmlns='http://www.w3.org/TR/REC-html40'>\n";
  const struct {
    const char* name;
    std::vector<std::vector<std::string>> pages;
    bool word;
    std::string html;
  } table[] = {
      {"no pages", {}, false, "<!DOCTYPE html>\n<html>\n" + kHead + kEnd},
      {"no pages, Word", {}, true, "<!DOCTYPE html>\n" + word_root + kHead + kEnd},
      {"two runs",
       {{"x", "y"}},
       false,
       "<!DOCTYPE html>\n<html>\n" + kHead + "<section><h2>Страница 1</h2>\n<p>x</p>\n<p>y</p>\n</section>\n" + kEnd},
      {"escaping",
       {{"a<b & c>d \"q\" 'r' &amp; \xD0\xB6"}},
       false,
       "<!DOCTYPE html>\n<html>\n" + kHead +
           "<section><h2>Страница 1</h2>\n<p>a&lt;b &amp; c&gt;d \"q\" 'r' &amp;amp; \xD0\xB6</p>\n</section>\n" + kEnd},
      {"empty runs and pages",
       {{"", "z"}, {}},
       true,
       "<!DOCTYPE html>\n" + word_root + kHead +
           "<section><h2>Страница 1</h2>\n<p>z</p>\n</section>\n<section><h2>Страница 2</h2>\n</section>\n" + kEnd},
  };
  for (const auto& row : table) {
    EXPECT_EQ(exportdoc::to_html(RunsDoc(row.pages), row.word), row.html) << row.name;
  }
  const std::string tenth = exportdoc::to_html(RunsDoc(ten), false);
  EXPECT_NE(tenth.find("<section><h2>Страница 10</h2>\n</section>\n</body>"), std::string::npos);
}

TEST(Export, ThroughTheEngine) {
  auto doc = make_engine(EngineKind::Pdfium)->open(test::as_bytes(test::text_pdf({"alpha", "R&D <x>"})), "");
  ASSERT_NE(doc, nullptr);
  EXPECT_EQ(exportdoc::to_text(*doc), "--- стр. 1 ---\nalpha\n\n--- стр. 2 ---\nR&D <x>\n");
  EXPECT_EQ(exportdoc::to_html(*doc, false),
            "<!DOCTYPE html>\n<html>\n" + kHead + "<section><h2>Страница 1</h2>\n<p>alpha</p>\n</section>\n" +
                "<section><h2>Страница 2</h2>\n<p>R&amp;D &lt;x&gt;</p>\n</section>\n" + kEnd);
}

// A TeX manual: a page's lines follow one another without carriage returns or empty lines, and
// no control character reaches either export.
TEST(Export, RealManualHasOneLinePerLine) {
  const std::string path = "/usr/share/doc/libtasn1-doc/libtasn1.pdf";
  if (!std::filesystem::exists(path)) GTEST_SKIP() << path << " is not installed";
  auto doc = make_engine(EngineKind::Pdfium)->open(test::as_bytes(test::read_file(path)), "");
  ASSERT_NE(doc, nullptr);
  const std::string text = exportdoc::to_text(*doc);
  const std::string header = "--- стр. ";
  for (size_t at = text.find("\n\n"); at != std::string::npos; at = text.find("\n\n", at + 1)) {
    const size_t next = text.find_first_not_of('\n', at);
    if (next == std::string::npos) break;
    EXPECT_EQ(text.compare(next, header.size(), header), 0) << "an empty line inside a page at byte " << at;
  }
  for (const std::string& out : {text, exportdoc::to_html(*doc, false)}) {
    const auto control = std::find_if(out.begin(), out.end(), [](char c) {
      const auto b = static_cast<unsigned char>(c);
      return b != '\n' && b != '\t' && (b < 0x20 || b == 0x7F);
    });
    EXPECT_EQ(control, out.end()) << "byte " << int(*control) << " at " << (control - out.begin());
  }
}

}  // namespace
