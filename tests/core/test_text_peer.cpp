// Page text of real documents against poppler's pdftotext: the words of every page agree.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <map>

#include "common/fixtures.h"
#include "common/manual_like.h"
#include "core/engine.h"

using namespace quorvel;

namespace {

// Letters and digits make words; punctuation, quotes and spaces separate them, so that two
// extractors that split runs differently around punctuation still see the same words.
bool word_char(char32_t c) {
  if (c < 0x80) return std::isalnum(static_cast<int>(c)) != 0;
  if (c < 0xC0) return false;
  if (c >= 0x2000 && c <= 0x206F) return false;  // general punctuation
  if (c >= 0x3000 && c <= 0x303F) return false;  // CJK punctuation
  return true;
}

std::map<std::string, int> words(const std::string& s) {
  std::map<std::string, int> out;
  std::string w;
  size_t i = 0;
  while (i < s.size()) {
    const auto b = static_cast<unsigned char>(s[i]);
    const size_t len = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    char32_t c = b < 0x80 ? b : b < 0xE0 ? (b & 0x1F) : b < 0xF0 ? (b & 0x0F) : (b & 0x07);
    for (size_t k = 1; k < len && i + k < s.size(); ++k) c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    if (word_char(c)) {
      w.append(s, i, len);
    } else if (!w.empty()) {
      ++out[w];
      w.clear();
    }
    i += len;
  }
  if (!w.empty()) ++out[w];
  return out;
}

// Shared words over the larger of the two word counts.
double agreement(const std::string& a, const std::string& b) {
  const auto wa = words(a), wb = words(b);
  int na = 0, nb = 0, common = 0;
  for (const auto& [w, n] : wa) {
    na += n;
    if (auto it = wb.find(w); it != wb.end()) common += std::min(n, it->second);
  }
  for (const auto& [w, n] : wb) nb += n;
  const int most = std::max(na, nb);
  return most == 0 ? 1.0 : static_cast<double>(common) / most;
}

class PeerText : public testing::TestWithParam<const char*> {};

TEST_P(PeerText, EveryPageAgreesWithPdftotext) {
  const std::string path = GetParam();
  if (!std::filesystem::exists(path)) GTEST_SKIP() << path << " is not installed";
  std::string peer;
  if (test::run_program({"pdftotext", "-enc", "UTF-8", path, "-"}, &peer) != 0) {
    GTEST_SKIP() << "pdftotext (poppler-utils) is not available";
  }
  std::vector<std::string> peer_pages;  // pdftotext ends every page with a form feed
  for (size_t start = 0, ff; (ff = peer.find('\f', start)) != std::string::npos; start = ff + 1) {
    peer_pages.push_back(peer.substr(start, ff - start));
  }
  auto doc = make_engine(EngineKind::Pdfium)->open(test::as_bytes(test::read_file(path)), "");
  ASSERT_NE(doc, nullptr);
  ASSERT_EQ(static_cast<size_t>(doc->page_count()), peer_pages.size());
  double worst = 1.0;
  for (int p = 0; p < doc->page_count(); ++p) {
    std::string ours;
    for (const TextRun& run : doc->extract_text(p).runs) ours += run.text + "\n";
    const double a = agreement(ours, peer_pages[static_cast<size_t>(p)]);
    worst = std::min(worst, a);
    EXPECT_GE(a, 0.95) << path << " page " << p + 1;
  }
  RecordProperty("worst_page_agreement", std::to_string(worst));
}

// The first control character other than tab in a text, as a byte offset; npos when there is none.
size_t control_at(const std::string& s) {
  for (size_t i = 0; i < s.size(); ++i) {
    const auto b = static_cast<unsigned char>(s[i]);
    if ((b < 0x20 && b != '\t') || b == 0x7F) return i;
    if (b == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) < 0xA0) return i;
  }
  return std::string::npos;
}

void expect_line_text_only(const IDocument& doc, const std::string& name) {
  size_t runs = 0;
  for (int p = 0; p < doc.page_count(); ++p) {
    for (const TextRun& run : doc.extract_text(p).runs) {
      ++runs;
      EXPECT_FALSE(run.text.empty()) << name << " page " << p + 1;
      EXPECT_EQ(control_at(run.text), std::string::npos) << name << " page " << p + 1 << ": " << run.text;
    }
  }
  EXPECT_GT(runs, 0u) << name;
}

TEST_P(PeerText, RunsHoldTheirLineTextOnly) {
  const std::string path = GetParam();
  if (!std::filesystem::exists(path)) GTEST_SKIP() << path << " is not installed";
  auto doc = make_engine(EngineKind::Pdfium)->open(test::as_bytes(test::read_file(path)), "");
  ASSERT_NE(doc, nullptr);
  expect_line_text_only(*doc, path);
}

TEST(ManualLike, RunsHoldTheirLineTextOnly) {
  const std::string pdf = test::manual_like_pdf({3, 10, true});
  ASSERT_FALSE(pdf.empty());
  auto doc = make_engine(EngineKind::Pdfium)->open(test::as_bytes(pdf), "");
  ASSERT_NE(doc, nullptr);
  expect_line_text_only(*doc, "manual-like");
  // Forty lines a page, each one run.
  EXPECT_EQ(doc->extract_text(1).runs.size(), 40u);
}

INSTANTIATE_TEST_SUITE_P(DebianDocs, PeerText,
                         testing::Values("/usr/share/doc/libtasn1-doc/libtasn1.pdf",
                                         "/usr/share/doc/shared-mime-info/shared-mime-info-spec.pdf"));

TEST(PeerWords, Agreement) {
  const struct {
    const char* a;
    const char* b;
    double want;
  } table[] = {
      {"", "", 1.0},
      {"one two", "", 0.0},
      {"BOOLEAN;\n", "BOOLEAN\n;", 1.0},
      {"\xE2\x80\x98value\xE2\x80\x99", "value", 1.0},
      {"a b c d", "a b c e", 0.75},
      {"a a a b", "a b", 0.5},
      {"\xD0\xB6\xD1\x83\xD0\xBA", "\xD0\xB6\xD1\x83\xD0\xBA", 1.0},
  };
  for (const auto& row : table) EXPECT_DOUBLE_EQ(agreement(row.a, row.b), row.want) << row.a << " | " << row.b;
}

// Lines drawn the way some writers (Qt's PDF writer among them) draw text: every glyph in a text
// object of its own, moved along by its Helvetica width, word gaps left as plain moves.
std::string glyph_by_glyph_pdf(const std::vector<std::string>& lines) {
  const std::map<char, int> width{{' ', 278}, {'.', 278}, {'P', 667}, {'T', 611}, {'a', 556}, {'c', 500},
                                  {'d', 556}, {'e', 556}, {'f', 278}, {'h', 556}, {'i', 222}, {'l', 222},
                                  {'m', 833}, {'n', 556}, {'o', 556}, {'p', 556}, {'r', 333}, {'s', 500},
                                  {'t', 278}, {'v', 500}, {'w', 722}, {'y', 500}};
  std::string content = "BT /F1 12 Tf 1 0 0 1 72 720 Tm\n";
  for (size_t i = 0; i < lines.size(); ++i) {
    double advance = 0;  // from the last glyph drawn to the next one
    for (const char c : lines[i]) {
      if (c != ' ') {
        content += std::to_string(advance) + " 0 Td (" + std::string(1, c) + ") Tj\n";
        advance = 0;
      }
      advance += width.at(c) * 12 / 1000.0;
    }
    content += "1 0 0 1 72 " + std::to_string(700 - 20 * static_cast<int>(i)) + " Tm\n";
  }
  content += "ET";
  return test::build_pdf({
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 4 0 R >> >> /Contents 5 0 R >>",
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
      "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream",
  });
}

TEST(GlyphByGlyph, EachLineIsOneRunWithItsWords) {
  const std::vector<std::string> lines = {"Payment within ten days after delivery.", "The parcel ships today."};
  const std::string pdf = glyph_by_glyph_pdf(lines);
  auto doc = make_engine(EngineKind::Pdfium)->open(test::as_bytes(pdf), "");
  ASSERT_NE(doc, nullptr);
  const TextPage page = doc->extract_text(0);
  std::vector<std::string> texts;
  for (const TextRun& run : page.runs) {
    std::string t = run.text;
    while (!t.empty() && t.back() == ' ') t.pop_back();
    texts.push_back(t);
  }
  EXPECT_EQ(texts, lines);
  // Every visible letter keeps its own box, in reading order.
  ASSERT_FALSE(page.runs.empty());
  double last = 0;
  for (const CharBox& c : page.runs[0].chars) {
    if (page.runs[0].text[c.offset] == ' ') continue;
    EXPECT_GT(c.left, last) << c.offset;
    last = c.left;
  }

  test::TempDir dir;
  const std::string path = dir.file("glyphs.pdf");
  ASSERT_TRUE(test::write_file(path, pdf));
  std::string peer;
  if (test::run_program({"pdftotext", "-enc", "UTF-8", path, "-"}, &peer) != 0) GTEST_SKIP() << "no pdftotext";
  std::string ours;
  for (const TextRun& run : page.runs) ours += run.text + "\n";
  EXPECT_DOUBLE_EQ(agreement(ours, peer), 1.0) << ours << "|" << peer;
}

}  // namespace
