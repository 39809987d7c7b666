#define POINTERHOLDER_TRANSITION 4
// Text replacement in the fonts real producers write: TeX's ligatures, subset fonts that hold
// more glyphs than a page shows, Identity-H TrueType text, and text that only an annotation's
// appearance draws.
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <gtest/gtest.h>

#include "test_edit_support.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

std::string widths(int first, int last, int each, const std::map<int, int>& other = {}) {
  std::string out = "[";
  for (int c = first; c <= last; ++c) out += " " + std::to_string(other.count(c) ? other.at(c) : each);
  return out + " ]";
}

const std::string kAsciiToUnicode =
    "/CIDInit /ProcSet findresource begin 12 dict begin begincmap /CMapName /T def "
    "1 begincodespacerange <00> <FF> endcodespacerange ";

// One page drawn in font /F1 (object 4), whose ToUnicode map is object 5; `extra` objects follow.
std::string one_font_page(const std::string& font, const std::string& cmap_entries, const std::string& content,
                          const std::vector<std::string>& extra = {}) {
  std::vector<std::string> objects{
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 4 0 R >> >> "
      "/Contents 6 0 R >>",
      font,
      stream_object(kAsciiToUnicode + cmap_entries + " endcmap CMapName currentdict /CMap defineresource pop end end"),
      stream_object(content),
  };
  objects.insert(objects.end(), extra.begin(), extra.end());
  return build_pdf(objects);
}

int count_of(const std::string& text, const std::string& word) {
  int n = 0;
  for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++n;
  return n;
}

// What the saved copy reads as with poppler, which shows annotation appearances too.
std::string saved_text(IDocument& doc) {
  TempDir dir;
  if (!doc.save_as(dir.file("out.pdf"), {})) return "(not saved)";
  return pdftotext(dir.file("out.pdf"), 0);
}

}  // namespace

// TeX draws "fi" and "fl" with one glyph each; the ToUnicode map reads them as their letters.
TEST(ReplaceFonts, LigatureWordsAreReplacedWhateverGlyphsDrawThem) {
  const std::string font =
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /FirstChar 12 /LastChar 122 /Widths " +
      widths(12, 122, 500, {{12, 1000}, {13, 1000}, {32, 250}}) +
      " /Encoding << /Type /Encoding /BaseEncoding /WinAnsiEncoding /Differences [12 /fi /fl] >> /ToUnicode 5 0 R >>";
  const std::string cmap =
      "2 beginbfchar <0C> <00660069> <0D> <0066006C> endbfchar 1 beginbfrange <20> <7E> <0020> endbfrange";
  const std::string pdf = one_font_page(
      font, cmap,
      "BT /F1 12 Tf 72 700 Td [(de\\014ne)-250(\\014le)-250(\\015ow)] TJ 0 -20 Td (kept line) Tj ET");
  struct Case {
    const char* what;
    std::string find, with, after;
  } cases[] = {
      {"a ligature inside, and in the replacement", "define", "refine", "refine file flow kept line"},
      {"the ligature begins the word", "file", "pile", "define pile flow kept line"},
      {"the occurrence ends inside the ligature", "def", "DEF", "DEFine file flow kept line"},
      {"the replacement spells the letters out", "flow", "FLOW", "define file FLOW kept line"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto doc = open_pdf(pdf);
    ASSERT_TRUE(doc);
    ASSERT_EQ(page_text(*doc, 0), "define file flow kept line");
    const std::map<int, TextReplacement> done = doc->replace_text_everywhere({0}, c.find, c.with);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done.at(0).replaced, 1);
    EXPECT_EQ(done.at(0).left(), 0);
    EXPECT_EQ(page_text(*doc, 0), c.after);
    const std::string poppler = saved_text(*doc);
    EXPECT_NE(poppler.find(c.after.substr(0, c.after.size() - 10)), std::string::npos) << poppler;
  }
}

// A subset font lists the glyphs it holds in /CharSet and its own encoding; its ToUnicode map
// and widths cover every code, held or not.
TEST(ReplaceFonts, GlyphsOfTheEmbeddedSubsetAreUsedAndOnlyThose) {
  const std::string program =
      "%!PS-AdobeFont-1.0: CMBX10 003.002\n/FontName /ABCDEF+CMBX10 def\n/Encoding 256 array\n"
      "0 1 255 {1 index exch /.notdef put} for\ndup 88 /X put\ndup 116 /t put\ndup 105 /i put\n"
      "dup 99 /c put\ndup 115 /s put\ndup 108 /l put\ndup 76 /L put\ndup 73 /I put\ndup 83 /S put\n"
      "dup 84 /T put\nreadonly def\ncurrentfile eexec\n";
  const std::string font = "<< /Type /Font /Subtype /Type1 /BaseFont /ABCDEF+CMBX10 /FirstChar 32 /LastChar 126 "
                           "/Widths " + widths(32, 126, 500) + " /FontDescriptor 7 0 R /ToUnicode 5 0 R >>";
  const std::string descriptor =
      "<< /Type /FontDescriptor /FontName /ABCDEF+CMBX10 /Flags 4 /FontBBox [0 -200 1000 800] /ItalicAngle 0 "
      "/Ascent 700 /Descent -200 /CapHeight 700 /StemV 80 /CharSet (/I/L/S/T/X/c/i/l/s/t) /FontFile 8 0 R >>";
  const std::string pdf = one_font_page(
      font, "1 beginbfrange <20> <7E> <0020> endbfrange", "BT /F1 12 Tf 72 700 Td [(Xtics)-333(list)] TJ ET",
      {descriptor, stream_object(program, "/Length1 " + std::to_string(program.size()) + " /Length2 0 /Length3 0")});
  {
    auto doc = open_pdf(pdf);
    ASSERT_TRUE(doc);
    const std::map<int, TextReplacement> done = doc->replace_text_everywhere({0}, "list", "LIST");
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done.at(0).replaced, 1);
    EXPECT_EQ(page_text(*doc, 0), "Xtics LIST");
  }
  {
    // Q and U have codes, widths and characters, but no glyph in the program.
    auto doc = open_pdf(pdf);
    ASSERT_TRUE(doc);
    const std::map<int, TextReplacement> done = doc->replace_text_everywhere({0}, "list", "QUIT");
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done.at(0).replaced, 0);
    EXPECT_EQ(done.at(0).missing_glyphs, 1);
    EXPECT_EQ(done.at(0).missing, U"QU");
    EXPECT_EQ(page_text(*doc, 0), "Xtics list");
  }
}

// Text written in an Identity-H TrueType font (two-byte glyph ids), on the page and in a
// FreeText annotation whose appearance draws the same text.
TEST(ReplaceFonts, IdentityHTrueTypeTextOnThePageAndInAnAppearance) {
  if (!have_dejavu()) GTEST_SKIP() << "no TrueType font to write the text with";
  std::string bytes;
  {
    auto doc = open_pdf(text_pdf({" "}));
    ASSERT_TRUE(doc);
    ASSERT_TRUE(doc->insert_text(0, "This should be visible", 72, 600, 12, 0));
    TempDir dir;
    ASSERT_TRUE(doc->save_as(dir.file("a.pdf"), {}));
    bytes = read_file(dir.file("a.pdf"));
  }
  {
    // The appearance draws the page's own content, in the page's resources.
    QPDF q;
    q.processMemoryFile("a.pdf", bytes.data(), bytes.size());
    QPDFPageObjectHelper page = QPDFPageDocumentHelper(q).getAllPages().at(0);
    std::string content;
    for (QPDFObjectHandle s : page.getPageContents()) {
      auto data = s.getStreamData(qpdf_dl_generalized);
      content.append(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
      content += "\n";
    }
    QPDFObjectHandle form = QPDFObjectHandle::newStream(&q, "1 0 0 1 0 -300 cm " + content);
    form.getDict().replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
    form.getDict().replaceKey("/Subtype", QPDFObjectHandle::newName("/Form"));
    form.getDict().replaceKey("/BBox", QPDFObjectHandle::parse("[0 0 612 400]"));
    form.getDict().replaceKey("/Resources", page.getAttribute("/Resources", false));
    QPDFObjectHandle annot = q.makeIndirectObject(QPDFObjectHandle::parse(
        "<< /Type /Annot /Subtype /FreeText /Rect [0 0 612 400] /Contents (This should be visible) /DA (/F1 12 Tf) >>"));
    annot.replaceKey("/AP", QPDFObjectHandle::parse("<< >>"));
    annot.getKey("/AP").replaceKey("/N", form);
    page.getObjectHandle().replaceKey("/Annots", QPDFObjectHandle::newArray({annot}));
    QPDFWriter w(q);
    w.setOutputMemory();
    w.write();
    auto out = w.getBufferSharedPointer();
    bytes.assign(reinterpret_cast<const char*>(out->getBuffer()), out->getSize());
  }
  auto doc = open_pdf(bytes);
  ASSERT_TRUE(doc);
  ASSERT_EQ(count_of(saved_text(*doc), "This should be visible"), 2);
  const std::map<int, TextReplacement> done = doc->replace_text_everywhere({0}, "should", "his");
  ASSERT_EQ(done.size(), 1u);
  EXPECT_EQ(done.at(0).replaced, 2);
  EXPECT_EQ(done.at(0).left(), 0);
  EXPECT_EQ(page_text(*doc, 0), "This his be visible");
  const std::string poppler = saved_text(*doc);
  // The shorter word leaves a gap wide enough for poppler to break the line there.
  EXPECT_EQ(count_of(poppler, "This his"), 2) << poppler;
  EXPECT_EQ(count_of(poppler, "be visible"), 2) << poppler;
  EXPECT_EQ(count_of(poppler, "should"), 0) << poppler;
}

// Text that only annotations draw: a FreeText note is replaced, a form field is counted as
// left, since its value would draw the old text again.
TEST(ReplaceFonts, AppearancesAreReplacedOrCountedAsLeft) {
  const std::string helv = "<< /Font << /Helv 4 0 R >> >>";
  const std::string appearance = "BT /Helv 12 Tf 2 6 Td (Call the office) Tj ET";
  const std::string pdf = build_pdf({
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources " + helv +
          " /Contents 5 0 R /Annots [6 0 R 8 0 R] >>",
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
      stream_object("BT /Helv 12 Tf 72 700 Td (Nothing here) Tj ET"),
      "<< /Type /Annot /Subtype /FreeText /Rect [72 600 372 624] /Contents (Call the office) "
      "/DA (/Helv 12 Tf) /AP << /N 7 0 R >> >>",
      stream_object(appearance, "/Type /XObject /Subtype /Form /BBox [0 0 300 24] /Resources " + helv),
      "<< /Type /Annot /Subtype /Widget /FT /Tx /T (f) /V (Call the office) /Rect [72 500 372 524] "
      "/DA (/Helv 12 Tf 0 g) /AP << /N 9 0 R >> >>",
      stream_object(appearance, "/Type /XObject /Subtype /Form /BBox [0 0 300 24] /Resources " + helv),
  });
  auto doc = open_pdf(pdf);
  ASSERT_TRUE(doc);
  // Search reads no annotation: no page is given, and the appearances are still looked into.
  const std::map<int, TextReplacement> done = doc->replace_text_everywhere({}, "office", "desk");
  ASSERT_EQ(done.size(), 1u);
  EXPECT_EQ(done.at(0).replaced, 1);
  EXPECT_EQ(done.at(0).in_fields, 1);
  const std::string poppler = saved_text(*doc);
  EXPECT_EQ(count_of(poppler, "Call the desk"), 1) << poppler;
  EXPECT_EQ(count_of(poppler, "Call the office"), 1) << poppler;
  TempDir dir;
  ASSERT_TRUE(doc->save_as(dir.file("out.pdf"), {}));
  EXPECT_NE(qdf_text(dir.file("out.pdf")).find("/Contents (Call the desk)"), std::string::npos);
}
