// Typing into form fields through the form layer: corrections with Backspace, and values beyond
// Latin that the window and other readers must draw as typed.
#define POINTERHOLDER_TRANSITION 4
#include <gtest/gtest.h>
#include <qpdf/QPDF.hh>

#include <mutex>

#include "core/pdfium/pdfium_api.h"
#include "core/pdfium/pdfium_document.h"
#include "test_edit_support.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

constexpr int kBackspace = 8, kEnd = 35, kHome = 36, kLeft = 37;

std::string field_pdf(bool multiline) { return one_field_form_pdf(multiline ? " /Ff 4096" : ""); }

void type(IDocument& doc, const std::u16string& text) {
  for (char16_t c : text) doc.form_char(c);
}

// The field's value as a saved copy holds it.
std::string saved_value(IDocument& doc) {
  TempDir dir;
  if (!doc.save_as(dir.file("v.pdf"), {})) return "<not saved>";
  QPDF q;
  q.processFile(dir.file("v.pdf").c_str());
  return q.getRoot().getKey("/AcroForm").getKey("/Fields").getArrayItem(0).getKey("/V").getUTF8Value();
}

// The leftmost and rightmost columns inside the box, in points, that hold text: dark pixels,
// not the field's light highlight. {-1, -1} without any.
std::pair<int, int> ink_span(const Raster& r, int x0, int y0, int x1, int y1) {
  int lo = -1, hi = -1;
  for (int x = x0; x < x1 && x < r.width; ++x) {
    for (int y = y0; y < y1 && y < r.height; ++y) {
      const uint8_t* p = r.at(x, y);
      if (p[0] > 128 || p[1] > 128 || p[2] > 128) continue;
      if (lo < 0) lo = x;
      hi = x;
      break;
    }
  }
  return {lo, hi};
}

}  // namespace

TEST(FormInput, BackspaceRemovesTheCharacterBeforeTheCaret) {
  const struct {
    const char* what;
    bool multiline;
    std::function<void(IDocument&)> keys;
    std::string value;
  } table[] = {
      {"a typo corrected at the end", false,
       [](IDocument& d) {
         type(d, u"ABC");
         d.form_key(kEnd, true);
         for (int i = 0; i < 3; ++i) d.form_key(kBackspace, true);
         type(d, u"Ivan");
       },
       "Ivan"},
      {"in the middle", false,
       [](IDocument& d) {
         type(d, u"Petrov");
         for (int i = 0; i < 3; ++i) d.form_key(kLeft, true);
         d.form_key(kBackspace, true);
         type(d, u"x");
       },
       "Pexrov"},
      {"at the start nothing", false,
       [](IDocument& d) {
         type(d, u"Ёж");
         d.form_key(kHome, true);
         d.form_key(kBackspace, true);
       },
       "Ёж"},
      {"Cyrillic", false,
       [](IDocument& d) {
         type(d, u"Иванн");
         d.form_key(kBackspace, true);
       },
       "Иван"},
      {"across a line break", true,
       [](IDocument& d) {
         type(d, u"AB\rCD");
         for (int i = 0; i < 3; ++i) d.form_key(kBackspace, true);
         type(d, u"X");
       },
       "ABX"},
      {"within the second line", true,
       [](IDocument& d) {
         type(d, u"AB\rCDE");
         d.form_key(kBackspace, true);
       },
       "AB\r\nCD"},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.what);
    auto doc = open_pdf(field_pdf(row.multiline));
    ASSERT_TRUE(doc && doc->has_form());
    doc->form_click(0, 200, 630, true);
    doc->form_click(0, 200, 630, false);
    row.keys(*doc);
    EXPECT_EQ(saved_value(*doc), row.value);
  }
}

TEST(FormInput, BackspaceRemovesTheSelection) {
  for (bool multiline : {false, true}) {
    SCOPED_TRACE(multiline);
    auto doc = open_pdf(field_pdf(multiline));
    ASSERT_TRUE(doc);
    doc->form_click(0, 200, 630, true);
    doc->form_click(0, 200, 630, false);
    type(*doc, multiline ? u"old\rtext" : u"old text");
    auto* pdfium = dynamic_cast<pdfium::PdfiumDocument*>(doc.get());
    ASSERT_TRUE(pdfium);
    {
      std::lock_guard<std::mutex> g(pdfium::lock());
      ASSERT_TRUE(FORM_SelectAllText(pdfium->form_handle(), pdfium->load_into_cache(0)));
    }
    doc->form_key(kBackspace, true);
    type(*doc, u"new");
    EXPECT_EQ(saved_value(*doc), "new");
  }
}

// The field's font is Helvetica, which has no Cyrillic or Greek: the appearance must draw those
// characters in a font that has them, embedded, so that other readers show the value too.
TEST(FormInput, ValuesBeyondLatinAreDrawnAsTyped) {
  const struct {
    std::u16string typed;
    std::string text;
  } table[] = {
      {u"Hello Привет ёЁ", "Hello Привет ёЁ"},
      {u"Salad σαλάτα", "Salad σαλάτα"},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.text);
    TempDir dir;
    auto doc = open_pdf(field_pdf(false));
    ASSERT_TRUE(doc);
    doc->form_click(0, 200, 630, true);
    doc->form_click(0, 200, 630, false);
    type(*doc, row.typed);
    // The window, while the field has the focus and after it lost it.
    const auto typing = ink_span(render_pdfium(*doc, 0), 100, 600, 400, 640);
    doc->form_click(0, 50, 50, true);
    doc->form_click(0, 50, 50, false);
    const auto shown = ink_span(render_pdfium(*doc, 0), 100, 600, 400, 640);
    const std::string path = dir.file("filled.pdf");
    ASSERT_TRUE(doc->save_as(path, {}));

    EXPECT_NE(pdftotext(path).find(row.text), std::string::npos) << pdftotext(path);
    const auto poppler = ink_span(render_poppler(path, 0), 100, 600, 400, 640);
    auto reopened = open_file(path);
    ASSERT_TRUE(reopened);
    const auto again = ink_span(render_pdfium(*reopened, 0), 100, 600, 400, 640);
    // The whole value is drawn: far wider than its Latin word alone, and the same width
    // everywhere (letters drawn over each other would end early).
    for (const auto& span : {typing, shown, poppler, again}) {
      EXPECT_GT(span.second - span.first, 75) << span.first << ".." << span.second;
      EXPECT_NEAR(span.second, shown.second, 3);
    }
    // Embedded, and only what the value needs of the font file.
    QPDF q;
    q.processFile(path.c_str());
    int embedded = 0;
    for (QPDFObjectHandle o : q.getAllObjects()) {
      if (!o.isDictionary() || !o.getKey("/Type").isNameAndEquals("/FontDescriptor")) continue;
      if (!o.getKey("/FontName").getName().ends_with("+DejaVuSans")) continue;
      ASSERT_TRUE(o.hasKey("/FontFile2"));
      EXPECT_LT(o.getKey("/FontFile2").getStreamData(qpdf_dl_generalized)->getSize(), 100000u);
      ++embedded;
    }
    EXPECT_GE(embedded, 1);
  }
}
