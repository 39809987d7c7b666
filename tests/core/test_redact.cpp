// Redaction: text under the boxes leaves the file, black boxes cover the place, and text that
// cannot be taken out is reported instead of passed over.
#include <mutex>

#include <gtest/gtest.h>

#include "core/pdfium/pdfium_api.h"
#include "core/pdfium/pdfium_document.h"
#include "core/extract.h"
#include "test_edit_support.h"

using namespace quorvel;
using namespace quorvel::test;
using annot::Rect;

namespace {

const std::string kSecret = "SECRET-4711";

// Neither the value nor its hex form anywhere in the file's readable form.
void expect_gone(const std::string& path, const std::string& password = "") {
  const std::string qdf = qdf_text(path, password);
  ASSERT_FALSE(qdf.empty());
  EXPECT_EQ(qdf.find(kSecret), std::string::npos);
  EXPECT_EQ(qdf.find(hex_of(kSecret)), std::string::npos);
  std::string lower = hex_of(kSecret);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(qdf.find(lower), std::string::npos);
}

// Bounds of the page's first text object, straight from PDFium.
Rect first_text_bounds(const std::string& pdf) {
  pdfium::ensure_initialized();
  std::lock_guard<std::mutex> g(pdfium::lock());
  Rect r;
  FPDF_DOCUMENT doc = FPDF_LoadMemDocument(pdf.data(), static_cast<int>(pdf.size()), nullptr);
  FPDF_PAGE page = doc ? FPDF_LoadPage(doc, 0) : nullptr;
  for (int i = 0; page && i < FPDFPage_CountObjects(page); ++i) {
    FPDF_PAGEOBJECT obj = FPDFPage_GetObject(page, i);
    float l = 0, b = 0, rt = 0, t = 0;
    if (FPDFPageObj_GetType(obj) == QV_FPDF_PAGEOBJ_TEXT && FPDFPageObj_GetBounds(obj, &l, &b, &rt, &t)) {
      r = {l, b, rt, t};
      break;
    }
  }
  if (page) FPDF_ClosePage(page);
  if (doc) FPDF_CloseDocument(doc);
  return r;
}

int black_pixels(const Raster& r, double x0, double y0, double x1, double y1) {
  int n = 0;
  for (double y = y0 + 0.5; y < y1; y += 1) {
    for (double x = x0 + 0.5; x < x1; x += 1) {
      const uint8_t* p = r.at(x, y);
      n += p[0] < 20 && p[1] < 20 && p[2] < 20;
    }
  }
  return n;
}

std::string overlaid_secret() {
  // The value lives in a form XObject that qpdf's overlay makes of the second file's page.
  TempDir dir;
  write_file(dir.file("base.pdf"), text_pdf({"Public"}));
  PageSpec over;
  over.content = "BT /F1 12 Tf 72 600 Td (" + kSecret + ") Tj ET";
  write_file(dir.file("over.pdf"), make_pdf({over}));
  if (run_program({"qpdf", dir.file("base.pdf"), "--overlay", dir.file("over.pdf"), "--", dir.file("out.pdf")}) != 0) {
    return {};
  }
  return read_file(dir.file("out.pdf"));
}

}  // namespace

TEST(Redact, ValueInItsOwnContentStreamLeavesTheFile) {
  TempDir dir;
  auto doc = open_pdf(multi_stream_pdf({"BT /F1 12 Tf 72 720 Td (Public) Tj ET",
                                        "BT /F1 12 Tf 72 600 Td (" + kSecret + ") Tj ET"}));
  ASSERT_TRUE(doc);
  // Corners in the wrong order are the same box.
  EXPECT_EQ(doc->redact(0, {{200, 615, 70, 595}}), 1);
  EXPECT_EQ(page_text(*doc, 0), "Public");
  const Raster r = render_pdfium(*doc, 0);
  EXPECT_EQ(black_pixels(r, 70, 595, 200, 615), 130 * 20);

  ASSERT_TRUE(doc->save_as(dir.file("out.pdf"), {}));
  EXPECT_TRUE(qpdf_check(dir.file("out.pdf")));
  expect_gone(dir.file("out.pdf"));
  auto copy = open_file(dir.file("out.pdf"));
  ASSERT_TRUE(copy);
  EXPECT_EQ(page_text(*copy, 0), "Public");
  EXPECT_EQ(black_pixels(render_poppler(dir.file("out.pdf"), 0), 70, 595, 200, 615), 130 * 20);
  // Later saves of the same document stay clean too.
  ASSERT_TRUE(doc->save_as(dir.file("again.pdf"), {}));
  expect_gone(dir.file("again.pdf"));
}

TEST(Redact, ValueBesideOtherTextInOneStream) {
  TempDir dir;
  PageSpec p;
  p.content = "BT /F1 12 Tf 72 720 Td (Name:) Tj ET BT /F1 12 Tf 120 720 Td (" + kSecret + ") Tj ET";
  auto doc = open_pdf(make_pdf({p}));
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->redact(0, {{118, 715, 250, 732}}), 1);
  ASSERT_TRUE(doc->save_as(dir.file("out.pdf"), {}));
  expect_gone(dir.file("out.pdf"));
  EXPECT_EQ(page_text(*open_file(dir.file("out.pdf")), 0), "Name:");
}

TEST(Redact, EncryptedDocumentStaysEncrypted) {
  TempDir dir;
  const std::string enc = qpdf_encrypt(
      multi_stream_pdf({"BT /F1 12 Tf 72 720 Td (Public) Tj ET", "BT /F1 12 Tf 72 600 Td (" + kSecret + ") Tj ET"}),
      "user", "owner");
  ASSERT_FALSE(enc.empty());
  auto doc = open_pdf(enc, "user");
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->redact(0, {{70, 595, 200, 615}}), 1);
  ASSERT_TRUE(doc->save_as(dir.file("out.pdf"), {}));
  std::string out;
  EXPECT_EQ(run_program({"qpdf", "--password=user", "--check", dir.file("out.pdf")}, &out), 0) << out;
  EXPECT_FALSE(open_file(dir.file("out.pdf")));
  auto copy = open_file(dir.file("out.pdf"), "user");
  ASSERT_TRUE(copy);
  EXPECT_TRUE(copy->metadata().encrypted);
  EXPECT_EQ(page_text(*copy, 0), "Public");
  expect_gone(dir.file("out.pdf"), "user");
}

TEST(Redact, TextInsideAFormGoesFromThisPageOnly) {
  TempDir dir;
  {
    // qpdf's overlay draws the second file's page as a form XObject.
    auto doc = open_pdf(overlaid_secret());
    ASSERT_TRUE(doc);
    ASSERT_EQ(page_text(*doc, 0), "Public " + kSecret);
    EXPECT_EQ(doc->redact(0, {{70, 595, 200, 615}}), 1);
    EXPECT_EQ(page_text(*doc, 0), "Public");
    ASSERT_TRUE(doc->save_as(dir.file("overlaid.pdf"), {}));
    expect_gone(dir.file("overlaid.pdf"));
  }
  // One form drawn by two pages: the page redacted gets a copy of its own, the other page keeps
  // the form as it was, and so does the rest of the form on the redacted page.
  const std::string form = "BT /F1 12 Tf 72 600 Td (" + kSecret + ") Tj 0 -20 Td (kept in form) Tj ET";
  const std::string page = "q /Fm1 Do Q BT /F1 12 Tf 72 720 Td (Public) Tj ET";
  const std::string res = "/Resources << /Font << /F1 5 0 R >> /XObject << /Fm1 6 0 R >> >>";
  auto doc = open_pdf(build_pdf({
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] " + res + " /Contents 7 0 R >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] " + res + " /Contents 7 0 R >>",
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
      stream_object(form, "/Type /XObject /Subtype /Form /BBox [0 0 612 792] /Resources << /Font << /F1 5 0 R >> >>"),
      stream_object(page),
  }));
  ASSERT_TRUE(doc);
  const std::string both = page_text(*doc, 0);
  EXPECT_EQ(doc->redact(0, {{70, 595, 200, 615}}), 1);
  EXPECT_EQ(page_text(*doc, 0), "kept in form Public");
  EXPECT_EQ(page_text(*doc, 1), both);
  ASSERT_TRUE(doc->save_as(dir.file("shared.pdf"), {}));
  auto copy = open_file(dir.file("shared.pdf"));
  ASSERT_TRUE(copy);
  EXPECT_EQ(page_text(*copy, 0), "kept in form Public");
  EXPECT_EQ(page_text(*copy, 1), both);
}

TEST(Redact, TextItCannotRemoveIsReported) {
  // Text in an annotation's appearance: a free text saved by us, beside page text.
  TempDir dir;
  auto plain = open_pdf(text_pdf({"Public"}));
  ASSERT_TRUE(plain);
  annot::Annotation ft;
  ft.type = annot::AnnotType::FreeText;
  ft.x0 = 300;
  ft.y0 = 300;
  ft.x1 = 450;
  ft.y1 = 330;
  ft.text = "note text";
  ASSERT_TRUE(plain->save_as(dir.file("annotated.pdf"), {ft}));
  auto annotated = open_file(dir.file("annotated.pdf"));
  ASSERT_TRUE(annotated);
  const int note_dark = black_pixels(render_pdfium(*annotated, 0), 300, 300, 450, 330);
  // A failure leaves the page as it was: no box painted, no other text taken with it, even
  // page text under another box of the same call.
  EXPECT_EQ(annotated->redact(0, {{290, 290, 460, 340}, {70, 715, 200, 735}}), -1);
  EXPECT_EQ(page_text(*annotated, 0), "Public");
  EXPECT_EQ(black_pixels(render_pdfium(*annotated, 0), 300, 300, 450, 330), note_dark);
  EXPECT_EQ(annotated->redact(0, {{70, 715, 200, 735}}), 1);  // page text beside it is fine
}

TEST(Redact, OverlapRules) {
  PageSpec p;
  p.content = "BT /F1 12 Tf 100 500 Td (Edge) Tj ET";
  const std::string pdf = make_pdf({p});
  const Rect b = first_text_bounds(pdf);
  ASSERT_LT(b.x0, b.x1);
  struct Case {
    const char* what;
    Rect box;
    int painted;
    bool text_stays;
  } cases[] = {
      {"shares the left edge", {b.x0 - 20, b.y0, b.x0, b.y1}, 1, true},
      {"shares the top edge", {b.x0, b.y1, b.x1, b.y1 + 20}, 1, true},
      // Only glyphs whose middle lies in a box go, never a whole line with them.
      {"clips one corner", {b.x1 - 1, b.y1 - 1, b.x1 + 20, b.y1 + 20}, 1, true},
      {"zero width across", {(b.x0 + b.x1) / 2, b.y0 - 5, (b.x0 + b.x1) / 2, b.y1 + 5}, 0, true},
      {"elsewhere", {300, 300, 400, 400}, 1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto doc = open_pdf(pdf);
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->redact(0, {c.box}), c.painted);
    EXPECT_EQ(page_text(*doc, 0), c.text_stays ? "Edge" : "");
  }
  auto doc = open_pdf(pdf);
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->redact(0, {}), 0);
  EXPECT_EQ(doc->redact(1, {{0, 0, 10, 10}}), 0);
  EXPECT_EQ(doc->redact(-1, {{0, 0, 10, 10}}), 0);
  EXPECT_EQ(doc->redact(0, {{300, 300, 400, 400}, {0, 0, 0, 0}, {10, 10, 20, 20}}), 2);
}

TEST(Redact, ImagesStayAndAreCovered) {
  TempDir dir;
  auto doc = open_pdf(multi_stream_pdf({"q 100 0 0 100 100 100 cm /Im1 Do Q BT /F1 12 Tf 120 150 Td (over) Tj ET"}, true));
  ASSERT_TRUE(doc);
  ASSERT_EQ(doc->list_images(0).size(), 1u);
  EXPECT_EQ(doc->redact(0, {{90, 90, 210, 210}}), 1);
  EXPECT_EQ(doc->list_images(0).size(), 1u);
  EXPECT_EQ(page_text(*doc, 0), "");
  ASSERT_TRUE(doc->save_as(dir.file("out.pdf"), {}));
  EXPECT_TRUE(qpdf_check(dir.file("out.pdf")));
  EXPECT_EQ(black_pixels(render_poppler(dir.file("out.pdf"), 0), 90, 90, 210, 210), 120 * 120);
}

TEST(Redact, LinksNamingTheValueGoWithEveryPiece) {
  // A link broken over three lines is three annotations with one target, and only the middle
  // piece lies over the value; another link names the value without lying over it. Every one of
  // them goes; a link to something else stays.
  const std::string content =
      "BT /F1 12 Tf 72 720 Td (see https://example.org/) Tj 0 -14 Td (docs/SECRET-4711/) Tj 0 -14 Td "
      "(index.html) Tj 0 -40 Td (other link) Tj ET";
  auto link = [](const std::string& rect, const std::string& uri) {
    return "<< /Type /Annot /Subtype /Link /Rect [" + rect + "] /Border [0 0 0] /A << /S /URI /URI (" + uri + ") >> >>";
  };
  const std::string uri = "https://example.org/docs/" + kSecret + "/index.html";
  const std::string pdf = build_pdf({
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 4 0 R >> >> "
      "/Contents 5 0 R /Annots [6 0 R 7 0 R 8 0 R 9 0 R 10 0 R] >>",
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
      stream_object(content),
      link("90 716 240 730", uri),
      link("70 702 190 716", uri),
      link("70 688 140 702", uri),
      link("300 300 400 320", "mailto:" + kSecret + "@example.org"),
      link("70 634 140 660", "https://example.org/other"),
  });
  auto doc = open_pdf(pdf);
  ASSERT_TRUE(doc);
  ASSERT_EQ(doc->links(0).size(), 5u);
  const std::vector<Rect> boxes = extract::pii_rects(doc->extract_text(0), {kSecret});
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(doc->redact(0, boxes), 1);
  const std::vector<Link> left = doc->links(0);
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].uri, "https://example.org/other");
  TempDir dir;
  ASSERT_TRUE(doc->save_as(dir.file("out.pdf"), {}));
  expect_gone(dir.file("out.pdf"));
}
