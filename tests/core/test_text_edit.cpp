// Text insertion and replacement, and the UTF-8 to UTF-16 converter every text goes through.
#include <filesystem>
#include <limits>

#include <gtest/gtest.h>

#include "core/pdfium/pdfium_fonts.h"
#include "core/text_codec.h"
#include "test_edit_support.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

using Units = std::vector<unsigned short>;

const char* const kCyrillic = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82";  // Привет

std::string two_lines(const std::string& first, const std::string& second) {
  PageSpec p;
  p.content = "BT /F1 12 Tf 72 720 Td " + pdf_literal(first) + " Tj ET BT /F1 12 Tf 72 700 Td " +
              pdf_literal(second) + " Tj ET";
  return make_pdf({p});
}

}  // namespace

TEST(Utf8ToUtf16, Table) {
  struct Case {
    std::string in;
    Units out;
  } cases[] = {
      {"", {0}},
      {"Az", {'A', 'z', 0}},
      {"\xC3\xA9", {0x00E9, 0}},
      {"\xD0\x9F", {0x041F, 0}},
      {"\xE2\x82\xAC", {0x20AC, 0}},
      {"\xF0\x9F\x98\x80", {0xD83D, 0xDE00, 0}},
      {"\x80", {0xFFFD, 0}},
      {"\xFF" "a", {0xFFFD, 'a', 0}},
      {"\xC3", {0x0003, 0}},
      {"\xE2\x82", {(0x2 << 6) | 0x02, 0}},  // cut short: keeps what it gathered
      {std::string("a\0b", 3), {'a', 0, 'b', 0}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(utf8_to_utf16le(c.in), c.out) << hex_of(c.in);
  }
}

TEST(ReplaceText, CountsChangedObjects) {
  struct Case {
    std::string pdf, from, to;
    int count;
    std::string text_after;
  } cases[] = {
      {text_pdf({"foo foo"}), "foo", "bar", 1, "bar bar"},
      {two_lines("foo foo", "a foo"), "foo", "bar", 2, "bar bar a bar"},
      // Each wider occurrence moves the ones after it along, and the last runs into the line's end.
      {text_pdf({"aaa"}), "a", "aa", 1, "aaaaaa"},
      {text_pdf({"foo"}), "Foo", "bar", 0, "foo"},
      {text_pdf({"drop this"}), " this", "", 1, "drop"},
      {two_lines("Hello", "World"), "Hello World", "x", 0, "Hello World"},
      {text_pdf({"foo"}), "", "bar", 0, "foo"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.from + " -> " + c.to);
    auto doc = open_pdf(c.pdf);
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->replace_text(0, c.from, c.to), c.count);
    EXPECT_EQ(page_text(*doc, 0), c.text_after);
  }
}

namespace {

// One page `width` points wide, so that its text's right edge lies as far in as its left one (72),
// with Helvetica as /F1 and as /F2 (a font of its own, as an upright one would be beside an
// italic one), a Type 3 font as /F3 whose "$" is a box half an em wide, a content stream for each
// of `streams` and one more that draws a line below.
std::string line_pdf(double width, const std::vector<std::string>& streams) {
  std::string refs;
  for (size_t i = 0; i <= streams.size(); ++i) refs += std::to_string(8 + i) + " 0 R ";
  std::vector<std::string> objs{
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + std::to_string(width) +
          " 792] /Resources << /Font << /F1 4 0 R /F2 5 0 R /F3 6 0 R >> >> /Contents [" + refs + "] >>",
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
      "<< /Type /Font /Subtype /Type3 /FontBBox [0 0 400 700] /FontMatrix [0.001 0 0 0.001 0 0] "
      "/CharProcs << /dollar 7 0 R >> /Encoding << /Type /Encoding /Differences [36 /dollar] >> "
      "/FirstChar 36 /LastChar 36 /Widths [500] /Resources << >> >>",
      stream_object("500 0 0 0 400 700 d1 0 0 400 700 re f"),
  };
  for (const std::string& c : streams) objs.push_back(stream_object(c));
  objs.push_back(stream_object("BT /F1 12 Tf 72 680 Td (below) Tj ET"));
  return build_pdf(objs);
}

// Words as a reader reads them, one space apart.
std::string words(const std::string& text) {
  std::string out;
  for (char ch : text) {
    const bool blank = std::isspace(static_cast<unsigned char>(ch)) != 0;
    if (!blank) out += ch;
    else if (!out.empty() && out.back() != ' ') out += ' ';
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

}  // namespace

// A wider word never gets narrower than 90 %: the glyphs of its line, across operators, move
// along as the word gaps after and before it shrink (but not the one after the line's first word,
// which may be a label) and the line's free end takes the rest; a line with no more room runs into
// half of the right margin, or the occurrence is left. In Helvetica at 12 points "alpha" is 29.352
// wide, "ALPHA" 39.348, "beta" 23.352, a -333 kern 3.996; a line that ends at the page's width less
// its left margin has no free end.
TEST(ReplaceText, WiderWordsMoveTheirLineOrAreLeft) {
  // As TeX writes a line: each operator placed from the line's start after a font change.
  const std::string tex_line =
      "BT /F1 12 Tf 72 700 Td [(alpha)]TJ /F2 12 Tf 33.348 0 Td [(one)-600(two)-600(three)-600(four)]TJ";
  struct Case {
    const char* what;
    double width;
    std::vector<std::string> streams;
    int replaced, moved, no_room;
    std::string text_after;
    bool into_margin = false;
  } cases[] = {
      {"the line has room at its end", 612, {"BT /F1 12 Tf 72 700 Td [(alpha)-333(beta)-333(gamma)] TJ ET"}, 1, 1, 0,
       "ALPHA beta gamma below"},
      {"the word runs into the gap after it, narrowed, and leaves a word gap", 612,
       {"BT /F1 12 Tf 72 700 Td [(alpha)-900(beta)]TJ ET"}, 1, 0, 0, "ALPHA beta below"},
      {"a period kerned under the word's end goes along", 612,
       {"BT /F1 12 Tf 72 700 Td [(alpha)83(.)-700(beta)]TJ ET"}, 1, 1, 0, "ALPHA. beta below"},
      {"a tag set apart at the line's end keeps more than an em from it", 612,
       {"BT /F1 12 Tf 72 700 Td [(alpha)-1500(tag)]TJ ET"}, 0, 0, 1, ""},
      {"another stream's word stands right after the line's last",
       612,
       {"BT /F1 12 Tf 72 700 Td [(alpha)-333(beta)] TJ ET", "BT /F1 12 Tf 130 700 Td (zz) Tj ET"},
       0, 0, 1, ""},
      {"the font changes after the word on a justified line", 285.66, {tex_line + " ET"}, 1, 1, 0,
       "ALPHA one two three four below"},
      {"a small raised glyph of the next line reaches up under a word that moves", 285.66,
       {tex_line + " /F2 5 Tf 40 -7.8 Td (x)Tj ET"}, 1, 1, 0, "ALPHA one two three four x below"},
      {"the operator after the word holds what readers read differently", 285.66,
       {"BT /F1 12 Tf 72 700 Td [(alpha)]TJ /F2 12 Tf 33.348 0 Td [(one)-600(two)-600(three)-600(four)/X]TJ ET"}, 0, 0, 1,
       ""},
      {"the next operator goes on from where the word's ends",
       285.66,
       {"BT /F1 12 Tf 72 700 Td (alpha)Tj /F2 12 Tf [-333(one)-600(two)-600(three)-600(four)]TJ ET"},
       1, 1, 0, "ALPHA one two three four below"},
      {"the word ends a justified line: the gaps before it shrink",
       268.98,
       {"BT /F2 12 Tf 72 700 Td [(one)-600(two)-600(six)-600(ten)]TJ /F1 12 Tf 95.628 0 Td [(alpha)]TJ ET"},
       1, 1, 0, "one two six ten ALPHA below"},
      {"a justified line without a word gap runs into the margin", 196.704,
       {"BT /F1 12 Tf 72 700 Td [(alpha)]TJ /F2 12 Tf 29.352 0 Td [(beta)]TJ ET"}, 1, 1, 0, "ALPHAbeta below", true},
      {"the first of two occurrences on a justified line moves the second along", 253.38,
       {"BT /F1 12 Tf 72 700 Td [(alpha)-333(one)-333(alpha)-333(two)]TJ ET"}, 2, 2, 0, "ALPHA one ALPHA two below",
       true},
      {"a glyph of a Type 3 font moves along", 230.028,
       {"BT /F1 12 Tf 72 700 Td [(alpha)-333(one)]TJ /F3 12 Tf [-333($)]TJ /F1 12 Tf [-333(two)]TJ ET"}, 1, 1, 0,
       "ALPHA one $ two below", true},
      {"an exponent of two digits moves with the word it follows", 227.816,
       {"BT /F1 12 Tf 72 700 Td [(alpha)-333(one)]TJ /F2 7 Tf 53.364 4 Td (23)Tj /F1 12 Tf 11.78 -4 Td (two)Tj ET"}, 1,
       1, 0, "ALPHA one23 two below", true},
      {"an index moves with the word it follows", 223.924,
       {"BT /F1 12 Tf 72 700 Td [(alpha)-333(one)]TJ /F2 7 Tf 53.364 -2 Td (2)Tj /F1 12 Tf 7.888 2 Td (two)Tj ET"}, 1, 1,
       0, "ALPHA one2 two below", true},
      {"half the margin is too narrow for the rest", 570,
       {"BT /F1 96 Tf 72 700 Td [(alpha)]TJ /F2 96 Tf 234.816 0 Td [(beta)]TJ ET"}, 0, 0, 1, ""},
      {"the only gap follows a bullet: it keeps its width", 159.352,
       {"BT /F1 12 Tf 58 700 Td (\225)Tj 14 0 Td (alpha)Tj ET"}, 1, 0, 0, "\xE2\x80\xA2 ALPHA below", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string pdf = line_pdf(c.width, c.streams);
    ASSERT_TRUE(write_file(dir.file("in.pdf"), pdf));
    auto doc = open_pdf(pdf);
    ASSERT_TRUE(doc);
    const std::string before = page_text(*doc, 0);
    const Raster drawn = render_pdfium(*doc, 0);
    double left = 1e9, word = 1e9;
    for (const TextRun& run : doc->extract_text(0).runs)
      for (const CharBox& b : run.chars) {
        if (b.right > b.left && b.top > 695) left = std::min(left, b.left);
        if (run.text.compare(b.offset, 5, "alpha") == 0) word = b.left;
      }
    const std::map<int, TextReplacement> done = doc->replace_text_everywhere({0}, "alpha", "ALPHA");
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done.at(0).replaced, c.replaced);
    EXPECT_EQ(done.at(0).moved_words, c.moved);
    EXPECT_EQ(done.at(0).no_room, c.no_room);
    EXPECT_EQ(page_text(*doc, 0), c.text_after.empty() ? before : c.text_after);
    // No glyph runs into the next one, the line keeps within its margins (or half of the right
    // one), and a word that moved nothing starts where it did.
    double right = -1;
    for (const TextRun& run : doc->extract_text(0).runs)
      for (const CharBox& b : run.chars) {
        if (b.right - b.left <= 0 || b.top < 695) continue;
        EXPECT_GE(b.left, std::max(right, left) - 0.5);
        EXPECT_LE(b.right, c.width - (c.into_margin ? left / 2 : left) + 0.5);
        right = b.right;
        if (c.replaced == 1 && c.moved == 0 && run.text.compare(b.offset, 5, "ALPHA") == 0) {
          EXPECT_NEAR(b.left, word, 0.5);  // their side bearings differ
        }
      }
    // Only the edited line is drawn differently, and another reader reads it as well.
    EXPECT_EQ(differing_outside(drawn, render_pdfium(*doc, 0), 792, [](double, double y) { return y > 696.5 && y < 713; }),
              0);
    ASSERT_TRUE(doc->save_as(dir.file("out.pdf"), {}));
    EXPECT_EQ(words(pdftotext(dir.file("out.pdf"))),
              c.text_after.empty() ? words(pdftotext(dir.file("in.pdf"))) : c.text_after);
  }
}

// Leader dots towards a page number stay in line with those of the lines around them: a longer
// entry takes the place of the first ones, down to the last, which stays. Helvetica's "." is
// 3.336 wide at 12 points, 7.2 apart here.
TEST(ReplaceText, LongerEntriesTakeThePlaceOfLeaders) {
  const std::string line = "BT /F1 12 Tf 72 700 Td [(see)-333(alpha)-333(.)-600(.)-600(.)-600(12)]TJ ET";
  struct Case {
    const char* with;
    int replaced;
    std::string text_after;
  } cases[] = {
      {"ALPHA", 1, "see ALPHA . . 12 below"},
      {"alphabetical", 0, "see alpha . . . 12 below"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.with);
    auto doc = open_pdf(line_pdf(245.64, {line}));
    ASSERT_TRUE(doc);
    auto dots = [&] {
      std::vector<double> at;
      for (const TextRun& run : doc->extract_text(0).runs)
        for (const CharBox& b : run.chars)
          if (run.text.compare(b.offset, 1, ".") == 0) at.push_back(b.left);
      return at;
    };
    const std::vector<double> before = dots();
    ASSERT_EQ(before.size(), 3u);
    const std::map<int, TextReplacement> done = doc->replace_text_everywhere({0}, "alpha", c.with);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done.at(0).replaced, c.replaced);
    EXPECT_EQ(done.at(0).no_room, 1 - c.replaced);
    EXPECT_EQ(page_text(*doc, 0), c.text_after);
    const std::vector<double> after = dots();
    ASSERT_EQ(after.size(), 3u - c.replaced);
    for (size_t i = 0; i < after.size(); ++i) EXPECT_NEAR(after[i], before[i + c.replaced], 0.01);
  }
}

// An accent drawn on its own over a letter ("ma" with a dieresis over its "a") moves with that
// letter; one that cannot move keeps its word where it is.
TEST(ReplaceText, MovedWordsTakeTheirAccentsAlong) {
  const std::string line = "BT /F1 12 Tf 72 700 Td [(alpha)-333(ma)-600(one)-600(two)-600(six)]TJ";
  struct Case {
    const char* what;
    std::vector<std::string> streams;
    int replaced;
  } cases[] = {
      {"drawn by the same stream", {line + " 44.682 0 Td (\\250)Tj ET"}, 1},
      {"drawn by another stream", {line + " ET", "BT /F1 12 Tf 116.682 700 Td (\\250)Tj ET"}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto doc = open_pdf(line_pdf(268.968, c.streams));
    ASSERT_TRUE(doc);
    const std::map<int, TextReplacement> done = doc->replace_text_everywhere({0}, "alpha", "ALPHA");
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done.at(0).replaced, c.replaced);
    EXPECT_EQ(done.at(0).no_room, 1 - c.replaced);
    // The accent's middle stays over the middle of the "a" it belongs to.
    double accent = -1, letter = -1;
    for (const TextRun& run : doc->extract_text(0).runs) {
      for (const CharBox& b : run.chars) {
        const std::string ch = run.text.substr(b.offset, 2);
        if (ch == "\xC2\xA8") accent = (b.left + b.right) / 2;
        if (b.offset > 0 && run.text.compare(b.offset - 1, 2, "ma") == 0) letter = (b.left + b.right) / 2;
      }
    }
    ASSERT_GT(accent, 0);
    ASSERT_GT(letter, 0);
    EXPECT_NEAR(accent, letter, 0.5);
    if (c.replaced == 1) {
      EXPECT_GT(letter, 72 + 43.344 + 3.336 + 1);  // it moved
    }
  }
}

TEST(ReplaceText, SurvivesSavingAndLeavesNoOldText) {
  TempDir dir;
  // The old text sits in a content stream of its own.
  auto doc = open_pdf(multi_stream_pdf({"BT /F1 12 Tf 72 720 Td (Secret42 here) Tj ET",
                                        "BT /F1 12 Tf 72 700 Td (other) Tj ET"}));
  ASSERT_TRUE(doc);
  ASSERT_EQ(doc->replace_text(0, "Secret42", "XXXX"), 1);
  ASSERT_TRUE(doc->save_as(dir.file("out.pdf"), {}));
  EXPECT_TRUE(qpdf_check(dir.file("out.pdf")));
  auto copy = open_file(dir.file("out.pdf"));
  ASSERT_TRUE(copy);
  EXPECT_EQ(page_text(*copy, 0), "XXXX here other");
  const std::string qdf = qdf_text(dir.file("out.pdf"));
  ASSERT_FALSE(qdf.empty());
  EXPECT_EQ(qdf.find("Secret42"), std::string::npos);
  EXPECT_EQ(qdf.find(hex_of("Secret42")), std::string::npos);
}

TEST(ReplaceText, TextTheFontCannotShowIsPutBack) {
  // The standard Helvetica of the fixture has no Cyrillic glyphs: found, but not replaceable.
  auto doc = open_pdf(two_lines("foo", "foo bar"));
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->replace_text(0, "foo", kCyrillic), -1);
  EXPECT_EQ(page_text(*doc, 0), "foo foo bar");
  // Mixed: the object whose new text is encodable is changed and counted, and only it.
  EXPECT_EQ(doc->replace_text(0, "bar", "baz"), 1);
  EXPECT_EQ(page_text(*doc, 0), "foo foo baz");
}

TEST(ReplaceText, AGlyphThatStandsForU0000IsNotLost) {
  // The font maps the code of '*' to U+0000: the page shows an asterisk that the text leaves
  // out. Only the glyphs of the occurrence are rewritten, so the asterisk stays where it was.
  const std::string cmap =
      "/CIDInit /ProcSet findresource begin 12 dict begin begincmap /CMapName /Nul def "
      "1 begincodespacerange <00> <FF> endcodespacerange 1 beginbfchar <2A> <0000> endbfchar "
      "endcmap CMapName currentdict /CMap defineresource pop end end";
  const std::string pdf = build_pdf({
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 4 0 R >> >> "
      "/Contents 6 0 R >>",
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding /ToUnicode 5 0 R >>",
      stream_object(cmap),
      stream_object("BT /F1 12 Tf 72 720 Td (foo*bar) Tj ET BT /F1 12 Tf 72 700 Td (foo more) Tj ET"),
  });
  auto doc = open_pdf(pdf);
  ASSERT_TRUE(doc);
  const Raster before = render_pdfium(*doc, 0);
  const int star = before.inked(90, 718, 93, 732);
  ASSERT_GT(star, 0);
  EXPECT_EQ(doc->replace_text(0, "foo", "fox"), 2);
  EXPECT_EQ(page_text(*doc, 0), "foxbar fox more");
  EXPECT_EQ(render_pdfium(*doc, 0).inked(90, 718, 93, 732), star);

  TempDir dir;
  ASSERT_TRUE(doc->save_as(dir.file("out.pdf"), {}));
  EXPECT_EQ(page_text(*open_file(dir.file("out.pdf")), 0), "foxbar fox more");
}

TEST(InsertText, RefusesBadInput) {
  auto doc = open_pdf(text_pdf({"x"}));
  ASSERT_TRUE(doc);
  EXPECT_FALSE(doc->insert_text(0, "", 72, 72, 12, 0));
  EXPECT_FALSE(doc->insert_text(1, "a", 72, 72, 12, 0));
  EXPECT_FALSE(doc->insert_text(-1, "a", 72, 72, 12, 0));
  EXPECT_FALSE(doc->insert_text(0, "a", std::numeric_limits<double>::quiet_NaN(), 72, 12, 0));
  EXPECT_EQ(page_text(*doc, 0), "x");
}

TEST(InsertText, RedOpaqueTextAtTheBaseline) {
  auto doc = open_pdf(make_pdf({PageSpec{}}));
  ASSERT_TRUE(doc);
  ASSERT_TRUE(doc->insert_text(0, "\xE2\x96\x88\xE2\x96\x88\xE2\x96\x88 MMM", 100, 100, 40, 0xFF0000));
  const Raster r = render_pdfium(*doc, 0);
  ASSERT_GT(r.width, 0);
  EXPECT_GT(r.inked(100, 95, 400, 150), 200);
  EXPECT_EQ(r.inked(0, 0, 612, 90), 0);  // nothing below the descenders
  int red = 0, other = 0;
  for (size_t i = 0; i + 2 < r.rgb.size(); i += 3) {
    if (r.rgb[i] > 200 && r.rgb[i + 1] < 60 && r.rgb[i + 2] < 60) ++red;
    else if (r.rgb[i] < 235) ++other;
  }
  EXPECT_GT(red, 100);
  EXPECT_LT(other, red / 4);  // only anti-aliased edges are not pure red
}

TEST(InsertText, CyrillicReadsBackAfterReopening) {
  if (!have_dejavu()) GTEST_SKIP() << "no DejaVu font";
  TempDir dir;
  auto doc = open_pdf(text_pdf({"Hello"}));
  ASSERT_TRUE(doc);
  ASSERT_TRUE(doc->insert_text(0, kCyrillic, 72, 600, 12, 0));
  ASSERT_TRUE(doc->insert_text(0, "second line", 72, 500, 12, 0));
  ASSERT_TRUE(doc->save_as(dir.file("out.pdf"), {}));
  EXPECT_TRUE(qpdf_check(dir.file("out.pdf")));
  auto copy = open_file(dir.file("out.pdf"));
  ASSERT_TRUE(copy);
  const std::string text = page_text(*copy, 0);
  EXPECT_NE(text.find(kCyrillic), std::string::npos) << text;
  EXPECT_NE(text.find("second line"), std::string::npos) << text;
  EXPECT_NE(pdftotext(dir.file("out.pdf")).find(kCyrillic), std::string::npos);
  // One embedded font file for both lines.
  const std::string qdf = qdf_text(dir.file("out.pdf"));
  size_t files = 0;
  for (size_t at = qdf.find("/FontFile2"); at != std::string::npos; at = qdf.find("/FontFile2", at + 1)) ++files;
  EXPECT_EQ(files, 1u);
}

TEST(InsertText, WithoutFontFilesHelveticaStaysForTheDocument) {
  TempDir dir;
  ASSERT_TRUE(write_file(dir.file("empty.ttf"), ""));
  ASSERT_TRUE(write_file(dir.file("junk.ttf"), "not a font at all"));
  auto doc = open_pdf(make_pdf({PageSpec{}}));
  ASSERT_TRUE(doc);
  {
    FontPaths none({dir.file("missing.ttf"), dir.file("empty.ttf"), dir.file("junk.ttf")});
    ASSERT_TRUE(doc->insert_text(0, "Latin", 72, 700, 12, 0));
    // Helvetica would show Cyrillic as garbage: refused rather than reported as done.
    EXPECT_FALSE(doc->insert_text(0, kCyrillic, 72, 650, 12, 0));
  }
  // The search is not repeated for this document, even once a font would be found.
  EXPECT_FALSE(doc->insert_text(0, kCyrillic, 72, 600, 12, 0));
  ASSERT_TRUE(doc->insert_text(0, "More", 72, 550, 12, 0));
  ASSERT_TRUE(doc->save_as(dir.file("out.pdf"), {}));
  const std::string qdf = qdf_text(dir.file("out.pdf"));
  EXPECT_NE(qdf.find("/Helvetica"), std::string::npos);
  EXPECT_EQ(qdf.find("/FontFile2"), std::string::npos);
  auto copy = open_file(dir.file("out.pdf"));
  ASSERT_TRUE(copy);
  EXPECT_EQ(page_text(*copy, 0), "Latin More");
}
