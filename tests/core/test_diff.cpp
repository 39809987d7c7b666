#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <filesystem>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "common/fixtures.h"
#include "common/text_doc.h"
#include "core/diff.h"
#include "core/engine.h"

using namespace quorvel;
using namespace quorvel::diff;

using quorvel::test::TextDoc;

namespace {

using Steps = std::vector<std::pair<int, std::string>>;

Steps steps_of(const std::vector<Line>& lines) {
  Steps out;
  for (const Line& l : lines) out.emplace_back(l.kind, l.text);
  return out;
}

// The plain table walk over whole texts, without any shortcut: the oracle for the fast paths.
Steps reference_diff(const std::string& a, const std::string& b) {
  const auto A = split_lines(a), B = split_lines(b);
  const size_t n = A.size(), m = B.size();
  std::vector<std::vector<unsigned>> L(n + 1, std::vector<unsigned>(m + 1, 0));
  for (size_t i = n; i-- > 0;)
    for (size_t j = m; j-- > 0;)
      L[i][j] = A[i] == B[j] ? L[i + 1][j + 1] + 1 : std::max(L[i + 1][j], L[i][j + 1]);
  Steps out;
  size_t i = 0, j = 0;
  while (i < n && j < m) {
    if (A[i] == B[j]) {
      out.emplace_back(0, A[i++]);
      ++j;
    } else if (L[i + 1][j] < L[i][j + 1]) {
      out.emplace_back(1, B[j++]);
    } else {
      out.emplace_back(2, A[i++]);
    }
  }
  while (i < n) out.emplace_back(2, A[i++]);
  while (j < m) out.emplace_back(1, B[j++]);
  return out;
}

std::string join(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines) out += l + "\n";
  return out;
}

std::vector<std::string> random_lines(std::mt19937& rng, size_t count, int alphabet) {
  std::vector<std::string> out;
  for (size_t i = 0; i < count; ++i) out.push_back(std::string(1, static_cast<char>('a' + rng() % alphabet)));
  return out;
}

TEST(SplitLines, Table) {
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"a\r\nb\r\n", {"a", "b"}}, {"a\n\nb", {"a", "", "b"}}, {"x\ry", {"xy"}},
      {"", {}},                   {"\n", {""}},               {"last", {"last"}},
      {"\r", {}},
  };
  for (const auto& [text, lines] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(split_lines(text), lines);
  }
}

TEST(DiffLines, Table) {
  const std::tuple<std::string, std::string, Steps> cases[] = {
      {"a\nb", "a\nc", {{0, "a"}, {2, "b"}, {1, "c"}}},
      {"x", "y\nx", {{1, "y"}, {0, "x"}}},
      {"", "", {}},
      {"p\nq", "", {{2, "p"}, {2, "q"}}},
      {"", "p", {{1, "p"}}},
      {"A\r\nb", "A\nb\n", {{0, "A"}, {0, "b"}}},
      {"Case", "case", {{2, "Case"}, {1, "case"}}},
  };
  for (const auto& [a, b, expected] : cases) {
    SCOPED_TRACE(a + " | " + b);
    EXPECT_EQ(steps_of(diff_lines(a, b)), expected);
  }
}

TEST(DiffLines, SameAsThePlainTableWalk) {
  // Every pair of texts of up to six lines over three letters: dropping the common prefix and
  // suffix must not move any line.
  std::vector<std::vector<std::string>> texts{{}};
  for (size_t len = 1; len <= 6; ++len) {
    std::vector<std::vector<std::string>> next;
    for (const auto& t : texts) {
      if (t.size() != len - 1) continue;
      for (char c : {'a', 'b', 'c'}) {
        auto u = t;
        u.push_back(std::string(1, c));
        next.push_back(u);
      }
    }
    texts.insert(texts.end(), next.begin(), next.end());
  }
  size_t mismatches = 0;
  for (size_t x = 0; x < texts.size(); x += 3) {
    for (size_t y = 0; y < texts.size(); y += 2) {
      const std::string a = join(texts[x]), b = join(texts[y]);
      if (steps_of(diff_lines(a, b)) != reference_diff(a, b)) {
        if (++mismatches < 5) ADD_FAILURE() << "a=" << a << " b=" << b;
      }
    }
  }
  EXPECT_EQ(mismatches, 0u);
}

// Kept and removed lines give A back, kept and added ones give B, in order.
void expect_valid_edit(const std::vector<Line>& lines, const std::vector<std::string>& a,
                       const std::vector<std::string>& b) {
  std::vector<std::string> ra, rb;
  for (const Line& l : lines) {
    if (l.kind != 1) ra.push_back(l.text);
    if (l.kind != 2) rb.push_back(l.text);
  }
  EXPECT_EQ(ra, a);
  EXPECT_EQ(rb, b);
}

TEST(DiffLines, LinearSpacePathIsMinimal) {
  std::mt19937 rng(7);
  for (int round = 0; round < 60; ++round) {
    const size_t n = rng() % 300, m = rng() % 300;
    const int alphabet = 2 + round % 9;
    auto a = random_lines(rng, n, alphabet), b = random_lines(rng, m, alphabet);
    if (round % 4 == 0 && !b.empty()) b.insert(b.begin() + static_cast<long>(rng() % b.size()), a.begin(), a.begin() + static_cast<long>(n / 2));
    const std::string ta = join(a), tb = join(b);
    const Steps exact = reference_diff(ta, tb);
    for (size_t cap : {size_t{1}, size_t{64}, size_t{5000}}) {
      SCOPED_TRACE("round " + std::to_string(round) + " cap " + std::to_string(cap));
      auto lines = detail::diff_lines_capped(ta, tb, cap);
      expect_valid_edit(lines, split_lines(ta), split_lines(tb));
      auto count = [](const auto& seq, int kind) {
        return std::count_if(seq.begin(), seq.end(), [&](const auto& s) {
          if constexpr (std::is_same_v<std::decay_t<decltype(s)>, Line>) return s.kind == kind;
          else return s.first == kind;
        });
      };
      EXPECT_EQ(count(lines, 1), count(exact, 1));
      EXPECT_EQ(count(lines, 2), count(exact, 2));
    }
  }
}

TEST(CompareDocuments, PagesAndCounts) {
  auto a = TextDoc::of_texts({"one\ntwo", "same", "x"});
  auto b = TextDoc::of_texts({"one\nTWO", "same", "x", "new\nlines", ""});
  auto diffs = compare_documents(a, b);
  ASSERT_EQ(diffs.size(), 5u);
  for (int p = 0; p < 5; ++p) EXPECT_EQ(diffs[static_cast<size_t>(p)].page, p);
  EXPECT_EQ(diffs[0].added, 1);
  EXPECT_EQ(diffs[0].removed, 1);
  EXPECT_TRUE(diffs[0].changed);
  EXPECT_FALSE(diffs[1].changed);
  EXPECT_EQ(steps_of(diffs[3].lines), (Steps{{1, "new"}, {1, "lines"}}));
  EXPECT_EQ(diffs[3].added, 2);
  EXPECT_EQ(diffs[3].removed, 0);
  EXPECT_TRUE(diffs[4].lines.empty());
  EXPECT_FALSE(diffs[4].changed);

  // Runs 'A', '' and 'B' make the lines 'A', '' and 'B'; leading empty runs add nothing.
  TextDoc runs({TextPage{{TextRun{}, TextRun{"A", 0, 0, 0, 0, {}}, TextRun{}, TextRun{"B", 0, 0, 0, 0, {}}}}});
  auto d = compare_documents(runs, TextDoc({}));
  ASSERT_EQ(d.size(), 1u);
  EXPECT_EQ(steps_of(d[0].lines), (Steps{{2, "A"}, {2, ""}, {2, "B"}}));

  EXPECT_TRUE(compare_documents(TextDoc({}), TextDoc({})).empty());
}

TEST(DiffReport, MatchesTheGoldenFile) {
  auto a = TextDoc::of_texts({"same", "keep\nold <b> & </b>", ""});
  auto b = TextDoc::of_texts({"same", "keep\nnew \"quoted\" 'x'", "только новое"});
  const std::string html = to_html(compare_documents(a, b), "old <v1>.pdf", "новый & \"B\".pdf");
  EXPECT_EQ(html, test::read_file(test::data_dir() + "/diff_report.html"));
}

TEST(DiffReport, WithoutChangesAndEscaping) {
  auto same = TextDoc::of_texts({"a", "b"});
  const std::string html = to_html(compare_documents(same, same), "A", "B");
  EXPECT_NE(html.find("<h1>Сравнение версий</h1>\n"), std::string::npos);
  EXPECT_NE(html.find("<br/>Изменённых страниц: 0 &#160; Добавлено строк: 0, удалено: 0</div>\n</body></html>\n"),
            std::string::npos);
  EXPECT_EQ(html.find("class='pg'"), std::string::npos);
  EXPECT_EQ(esc("<b> & </b>"), "&lt;b&gt; &amp; &lt;/b&gt;");
  EXPECT_EQ(esc("\"'\xff"), "\"'\xff");
  EXPECT_EQ(esc("a\x02\tb\r\n\x7F"), "a\tb");
}

// A TeX manual against a version without text: every line of it is a removed row with text, and
// the report is well-formed XML (no control character from the engine's text reaches it).
TEST(DiffReport, RealManualGivesOneRowPerLine) {
  const std::string path = "/usr/share/doc/libtasn1-doc/libtasn1.pdf";
  if (!std::filesystem::exists(path)) GTEST_SKIP() << path << " is not installed";
  auto doc = make_engine(EngineKind::Pdfium)->open(test::as_bytes(test::read_file(path)), "");
  ASSERT_NE(doc, nullptr);
  size_t runs = 0;
  for (int p = 0; p < doc->page_count(); ++p) runs += doc->extract_text(p).runs.size();
  const TextDoc blank(std::vector<TextPage>(static_cast<size_t>(doc->page_count())));
  const std::vector<PageDiff> diffs = compare_documents(*doc, blank);
  size_t removed = 0;
  for (const PageDiff& d : diffs) {
    removed += static_cast<size_t>(d.removed);
    for (const Line& l : d.lines) EXPECT_FALSE(l.text.empty()) << "page " << d.page + 1;
  }
  EXPECT_EQ(removed, runs);

  test::TempDir dir;
  const std::string report = dir.file("report.html");
  ASSERT_TRUE(test::write_file(report, to_html(diffs, "libtasn1.pdf", "пустой")));
  std::string log;
  const int rc = test::run_program({"xmllint", "--noout", report}, &log);
  if (rc == -1) GTEST_SKIP() << "xmllint missing";
  EXPECT_EQ(rc, 0) << log;
}

constexpr int kBigLines = 50000;

// Runs only inside the child that the next test starts under a memory cap.
TEST(DiffLarge, ChildCompare) {
  if (!std::getenv("QUORVEL_DIFF_CHILD")) GTEST_SKIP() << "runs under DiffLarge.FiftyThousandLinesUnderMemoryCap";
  std::string a, b;
  for (int i = 0; i < kBigLines; ++i) {
    a += "line " + std::to_string(i) + "\n";
    b += (i % 3 == 0 ? "line " : "other ") + std::to_string(i) + "\n";
  }
  auto da = TextDoc::of_texts({a}), db = TextDoc::of_texts({b});
  auto diffs = compare_documents(da, db);
  ASSERT_EQ(diffs.size(), 1u);
  const int kept = (kBigLines + 2) / 3;
  EXPECT_EQ(diffs[0].added, kBigLines - kept);
  EXPECT_EQ(diffs[0].removed, kBigLines - kept);
  EXPECT_EQ(diffs[0].lines.size(), static_cast<size_t>(2 * kBigLines - kept));
}

TEST(DiffLarge, FiftyThousandLinesUnderMemoryCap) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer reserves more address space than the cap";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  GTEST_SKIP() << "the address sanitizer reserves more address space than the cap";
#endif
#endif
  if (std::getenv("QUORVEL_DIFF_CHILD")) GTEST_SKIP();
  char self[PATH_MAX] = {};
  ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
  std::string out;
  const int rc = test::run_program(
      {"bash", "-c",
       "ulimit -v 4000000 && QUORVEL_DIFF_CHILD=1 exec \"$0\" --gtest_filter=DiffLarge.ChildCompare", self},
      &out);
  EXPECT_EQ(rc, 0) << out;
  EXPECT_NE(out.find("[  PASSED  ] 1 test"), std::string::npos) << out;
}

}  // namespace
