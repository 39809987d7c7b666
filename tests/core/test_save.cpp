// Saving full copies with annotations: what each kind becomes in the PDF, that other readers
// show it, that the open document keeps none of it, and that failures never harm a file.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <mutex>

#include <gtest/gtest.h>

#include "core/pdfium/pdfium_api.h"
#include "core/pdfium/pdfium_document.h"
#include "core/text_codec.h"
#include "core/xfdf.h"
#include "test_edit_support.h"

namespace fs = std::filesystem;
using namespace quorvel;
using namespace quorvel::test;
using annot::Annotation;
using annot::AnnotType;

namespace {

Annotation box(AnnotType t, double x0, double y0, double x1, double y1, uint32_t color = 0x0000FF) {
  Annotation a;
  a.type = t;
  a.color = color;
  a.x0 = x0;
  a.y0 = y0;
  a.x1 = x1;
  a.y1 = y1;
  return a;
}

Annotation path(AnnotType t, std::vector<annot::Point> pts, uint32_t color = 0x0000FF) {
  Annotation a;
  a.type = t;
  a.color = color;
  a.points = std::move(pts);
  return a;
}

// One of each kind, each in its own strip of the page, with the region it must ink.
struct Placed {
  Annotation a;
  annot::Rect region;
};
std::vector<Placed> one_of_each() {
  std::vector<Placed> v;
  auto add_box = [&](AnnotType t, double y) {
    v.push_back({box(t, 100, y, 300, y + 30), {100, y, 300, y + 30}});
  };
  add_box(AnnotType::Highlight, 740);
  v.push_back({path(AnnotType::Ink, {{100, 680}, {150, 710}, {200, 680}, {250, 710}}), {95, 675, 255, 715}});
  v.push_back({box(AnnotType::Note, 100, 620, 120, 640), {95, 600, 140, 645}});
  v.back().a.text = "note";
  add_box(AnnotType::Underline, 560);
  add_box(AnnotType::StrikeOut, 500);
  add_box(AnnotType::Squiggly, 440);
  add_box(AnnotType::Rectangle, 380);
  add_box(AnnotType::Ellipse, 320);
  v.push_back({path(AnnotType::Line, {{100, 280}, {300, 280}}), {95, 275, 305, 285}});
  v.push_back({path(AnnotType::Arrow, {{100, 220}, {300, 220}}), {95, 205, 305, 235}});
  v.push_back({box(AnnotType::FreeText, 100, 140, 300, 180), {100, 140, 300, 180}});
  v.back().a.text = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 text";  // Привет
  // The free text's words, away from its frame.
  v.push_back({v.back().a, {104, 160, 200, 177}});
  return v;
}

std::vector<Annotation> annotations_of(const std::vector<Placed>& v) {
  std::vector<Annotation> out;
  for (const Placed& p : v) out.push_back(p.a);
  return out;
}

// Direct look into a saved copy through PDFium.
class Copy {
 public:
  explicit Copy(const std::string& path, int page = 0) : bytes_(read_file(path)) {
    pdfium::ensure_initialized();
    std::lock_guard<std::mutex> g(pdfium::lock());
    doc_ = FPDF_LoadMemDocument(bytes_.data(), static_cast<int>(bytes_.size()), nullptr);
    if (doc_) page_ = FPDF_LoadPage(doc_, page);
  }
  ~Copy() {
    std::lock_guard<std::mutex> g(pdfium::lock());
    for (FPDF_ANNOTATION a : open_) FPDFPage_CloseAnnot(a);
    if (page_) FPDF_ClosePage(page_);
    if (doc_) FPDF_CloseDocument(doc_);
  }
  bool ok() const { return page_ != nullptr; }
  int count() const {
    std::lock_guard<std::mutex> g(pdfium::lock());
    return FPDFPage_GetAnnotCount(page_);
  }
  FPDF_ANNOTATION annot(int i) {
    std::lock_guard<std::mutex> g(pdfium::lock());
    FPDF_ANNOTATION a = FPDFPage_GetAnnot(page_, i);
    if (a) open_.push_back(a);
    return a;
  }

 private:
  std::string bytes_;
  FPDF_DOCUMENT doc_ = nullptr;
  FPDF_PAGE page_ = nullptr;
  std::vector<FPDF_ANNOTATION> open_;
};

std::string string_value(FPDF_ANNOTATION a, const char* key) {
  std::lock_guard<std::mutex> g(pdfium::lock());
  const unsigned long n = FPDFAnnot_GetStringValue(a, key, nullptr, 0);
  std::vector<uint16_t> buf(n / 2 + 1, 0);
  FPDFAnnot_GetStringValue(a, key, buf.data(), static_cast<unsigned long>(buf.size() * 2));
  return utf16le_to_utf8(buf);
}

std::vector<FS_POINTF> ink(FPDF_ANNOTATION a) {
  std::lock_guard<std::mutex> g(pdfium::lock());
  if (FPDFAnnot_GetInkListCount(a) != 1) return {};
  std::vector<FS_POINTF> pts(FPDFAnnot_GetInkListPath(a, 0, nullptr, 0));
  FPDFAnnot_GetInkListPath(a, 0, pts.data(), static_cast<unsigned long>(pts.size()));
  return pts;
}

FS_RECTF rect_of(FPDF_ANNOTATION a) {
  std::lock_guard<std::mutex> g(pdfium::lock());
  FS_RECTF r{};
  FPDFAnnot_GetRect(a, &r);
  return r;
}

int subtype(FPDF_ANNOTATION a) {
  std::lock_guard<std::mutex> g(pdfium::lock());
  return FPDFAnnot_GetSubtype(a);
}

unsigned alpha_of(FPDF_ANNOTATION a) {
  std::lock_guard<std::mutex> g(pdfium::lock());
  unsigned r = 0, gr = 0, b = 0, al = 0;
  FPDFAnnot_GetColor(a, QV_FPDFANNOT_COLORTYPE_Color, &r, &gr, &b, &al);
  return al;
}

// Root writes into read-only folders anyway: as root, save in a child without privileges.
bool save_unprivileged(IDocument& doc, const std::string& path) {
  if (geteuid() != 0) return doc.save_as(path, {});
  const pid_t pid = fork();
  if (pid == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
    _exit(doc.save_as(path, {}) ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

TEST(SaveAs, EveryKindShowsInPdfiumAndPoppler) {
  // Also on a page whose crop box starts far from (0, 0): what the reader shows there is the
  // crop box, and each annotation must land on the page space region it was drawn on.
  PageSpec offset;
  offset.media_box = "[0 0 812 992]";
  offset.extra = "/CropBox [200 200 812 992]";
  for (const PageSpec& page : {PageSpec{}, offset}) {
    SCOPED_TRACE(page.extra);
    TempDir dir;
    auto doc = open_pdf(make_pdf({page}));
    ASSERT_TRUE(doc);
    const std::vector<Placed> placed = one_of_each();
    std::vector<Annotation> list = annotations_of(placed);
    list.pop_back();  // the last entry only names a second region of the free text
    ASSERT_TRUE(doc->save_as(dir.file("out.pdf"), list));
    EXPECT_TRUE(qpdf_check(dir.file("out.pdf")));

    auto copy = open_file(dir.file("out.pdf"));
    ASSERT_TRUE(copy);
    const Raster pdfium = render_pdfium(*copy, 0);
    const Raster poppler = render_poppler(dir.file("out.pdf"), 0);
    const Raster before = render_pdfium(*doc, 0);  // the open document holds none of them
    ASSERT_GT(pdfium.width, 0);
    ASSERT_EQ(poppler.width, 612);
    for (const Placed& p : placed) {
      const annot::Rect& r = p.region;
      SCOPED_TRACE(annot::type_name(p.a.type));
      EXPECT_GT(pdfium.inked(r.x0, r.y0, r.x1, r.y1), 20);
      EXPECT_GT(poppler.inked(r.x0, r.y0, r.x1, r.y1), 20);
      EXPECT_EQ(before.inked(r.x0, r.y0, r.x1, r.y1), 0);
      // Nothing of it lands where it would sit had the crop box's corner been ignored.
      if (!page.extra.empty() && r.x0 >= 200 && r.y0 >= 200) {
        EXPECT_EQ(poppler.inked(r.x0 - 200, r.y0 - 200, r.x1 - 200, r.y1 - 200), 0);
      }
    }
  }
}

TEST(SaveAs, EachSaveWritesEachAnnotationOnce) {
  TempDir dir;
  auto doc = open_pdf(make_pdf({PageSpec{}, PageSpec{}}));
  ASSERT_TRUE(doc);
  std::vector<Annotation> list = annotations_of(one_of_each());
  list.pop_back();
  list.push_back(box(AnnotType::Rectangle, 10, 10, 50, 50));
  list.back().page = 1;
  ASSERT_TRUE(doc->save_as(dir.file("a.pdf"), list));
  ASSERT_TRUE(doc->save_as(dir.file("b.pdf"), list));
  ASSERT_TRUE(doc->save_as(dir.file("b.pdf"), list));  // over an existing copy
  ASSERT_TRUE(doc->save_as(dir.file("plain.pdf"), {}));
  for (const char* name : {"a.pdf", "b.pdf"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Copy(dir.file(name), 0).count(), 11);
    EXPECT_EQ(Copy(dir.file(name), 1).count(), 1);
    EXPECT_TRUE(qpdf_check(dir.file(name)));
  }
  EXPECT_EQ(Copy(dir.file("plain.pdf"), 0).count(), 0);
  EXPECT_EQ(Copy(dir.file("plain.pdf"), 1).count(), 0);
  // A saved copy opened and saved again still holds each annotation once.
  auto reopened = open_file(dir.file("a.pdf"));
  ASSERT_TRUE(reopened && reopened->save_as(dir.file("c.pdf"), {}));
  EXPECT_EQ(Copy(dir.file("c.pdf"), 0).count(), 11);
}

TEST(SaveAs, WhatEachKindBecomes) {
  TempDir dir;
  auto doc = open_pdf(make_pdf({PageSpec{}}));
  ASSERT_TRUE(doc);
  std::vector<Annotation> list;
  list.push_back(box(AnnotType::Highlight, 10, 20, 110, 40));
  list.back().opacity = 80;
  list.push_back(box(AnnotType::Underline, 10, 60, 110, 80, 0x123456));
  list.back().opacity = 80;
  list.push_back(box(AnnotType::Rectangle, 300, 100, 200, 150));  // corners as stored
  list.push_back(box(AnnotType::Note, 10, 200, 30, 220));
  list.back().opacity = 10;
  list.push_back(box(AnnotType::Note, 40, 200, 60, 220));
  list.back().text = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xF0\x9F\x98\x80";
  list.push_back(path(AnnotType::Line, {{100, 300}, {200, 300}, {250, 400}}));
  Annotation arrow = path(AnnotType::Arrow, {{100, 100}, {200, 100}});
  arrow.width = 2;
  list.push_back(arrow);
  list.push_back(box(AnnotType::FreeText, 300, 300, 500, 340, 0xFF0000));
  list.back().text = "free";
  Annotation outside = box(AnnotType::Rectangle, 0, 0, 10, 10);
  outside.page = 99;
  list.push_back(outside);
  list.push_back(path(AnnotType::Ink, {{5, 5}}));
  list.push_back(path(AnnotType::Arrow, {{5, 5}}));
  Annotation odd = box(static_cast<AnnotType>(42), 70, 200, 90, 220);
  list.push_back(odd);
  list.push_back(box(AnnotType::Rectangle, std::nan(""), 0, 10, 10));  // as an XFDF file may say
  list.push_back(path(AnnotType::Ink, {{0, 0}, {1e300, 5}}));
  ASSERT_TRUE(doc->save_as(dir.file("out.pdf"), list));

  Copy c(dir.file("out.pdf"));
  ASSERT_TRUE(c.ok());
  ASSERT_EQ(c.count(), 9);  // page 99, the one-point paths and the unwritable numbers are left out
  EXPECT_TRUE(qpdf_check(dir.file("out.pdf")));

  FPDF_ANNOTATION hl = c.annot(0);
  EXPECT_EQ(subtype(hl), QV_FPDF_ANNOT_HIGHLIGHT);
  EXPECT_EQ(alpha_of(hl), 255u);
  {
    std::lock_guard<std::mutex> g(pdfium::lock());
    ASSERT_EQ(FPDFAnnot_CountAttachmentPoints(hl), 1u);
    FS_QUADPOINTSF q{};
    ASSERT_TRUE(FPDFAnnot_GetAttachmentPoints(hl, 0, &q));
    EXPECT_FLOAT_EQ(q.x1, 10);
    EXPECT_FLOAT_EQ(q.y1, 40);
    EXPECT_FLOAT_EQ(q.x2, 110);
    EXPECT_FLOAT_EQ(q.y2, 40);
    EXPECT_FLOAT_EQ(q.x3, 10);
    EXPECT_FLOAT_EQ(q.y3, 20);
    EXPECT_FLOAT_EQ(q.x4, 110);
    EXPECT_FLOAT_EQ(q.y4, 20);
  }

  FPDF_ANNOTATION ul = c.annot(1);
  EXPECT_EQ(subtype(ul), QV_FPDF_ANNOT_UNDERLINE);
  EXPECT_EQ(alpha_of(ul), 80u);
  {
    std::lock_guard<std::mutex> g(pdfium::lock());
    unsigned r = 0, gr = 0, b = 0, a = 0;
    ASSERT_TRUE(FPDFAnnot_GetColor(ul, QV_FPDFANNOT_COLORTYPE_Color, &r, &gr, &b, &a));
    EXPECT_NEAR(r, 0x12, 1);  // kept as fractions of one
    EXPECT_NEAR(gr, 0x34, 1);
    EXPECT_NEAR(b, 0x56, 1);
  }

  const FS_RECTF sq = rect_of(c.annot(2));
  EXPECT_EQ(subtype(c.annot(2)), QV_FPDF_ANNOT_SQUARE);
  EXPECT_FLOAT_EQ(std::min(sq.left, sq.right), 200);
  EXPECT_FLOAT_EQ(std::max(sq.left, sq.right), 300);

  EXPECT_EQ(subtype(c.annot(3)), QV_FPDF_ANNOT_TEXT);
  EXPECT_EQ(alpha_of(c.annot(3)), 255u);
  EXPECT_EQ(string_value(c.annot(3), "Contents"), "");
  EXPECT_EQ(string_value(c.annot(4), "Contents"), list[4].text);

  FPDF_ANNOTATION line = c.annot(5);
  EXPECT_EQ(subtype(line), QV_FPDF_ANNOT_INK);
  const std::vector<FS_POINTF> lp = ink(line);
  ASSERT_EQ(lp.size(), 2u);  // the third point is ignored
  EXPECT_FLOAT_EQ(lp[1].x, 200);
  EXPECT_FLOAT_EQ(lp[1].y, 300);
  const FS_RECTF lr = rect_of(line);
  EXPECT_LE(std::min(lr.left, lr.right), 99.5f);
  EXPECT_GE(std::max(lr.left, lr.right), 200.5f);
  EXPECT_LE(std::min(lr.bottom, lr.top), 299.5f);
  EXPECT_GE(std::max(lr.bottom, lr.top), 300.5f);

  FPDF_ANNOTATION arr = c.annot(6);
  const std::vector<FS_POINTF> ap = ink(arr);
  ASSERT_EQ(ap.size(), 5u);
  EXPECT_FLOAT_EQ(ap[1].x, 200);
  EXPECT_FLOAT_EQ(ap[3].x, 200);
  for (int k : {2, 4}) {
    const double dx = ap[k].x - 200, dy = ap[k].y - 100;
    EXPECT_NEAR(std::hypot(dx, dy), 13.0, 1e-3);  // head length: width 2 x 1.5 + 10
    EXPECT_NEAR(std::fabs(std::atan2(dy, -dx)), 0.5, 1e-4);
  }
  EXPECT_LT((ap[2].y - 100) * (ap[4].y - 100), 0) << "barbs on both sides of the shaft";
  const FS_RECTF ar = rect_of(arr);  // the head is inside the rectangle
  for (const FS_POINTF& p : ap) {
    EXPECT_GT(p.x, std::min(ar.left, ar.right));
    EXPECT_LT(p.x, std::max(ar.left, ar.right));
    EXPECT_GT(p.y, std::min(ar.bottom, ar.top));
    EXPECT_LT(p.y, std::max(ar.bottom, ar.top));
  }

  FPDF_ANNOTATION ft = c.annot(7);
  EXPECT_EQ(subtype(ft), QV_FPDF_ANNOT_FREETEXT);
  EXPECT_EQ(string_value(ft, "Contents"), "free");
  EXPECT_NE(string_value(ft, "DA").find("Tf"), std::string::npos);
  EXPECT_EQ(qdf_text(dir.file("out.pdf")).find("Quorvel"), std::string::npos);

  EXPECT_EQ(subtype(c.annot(8)), QV_FPDF_ANNOT_TEXT);  // an unknown kind becomes a note
}

TEST(SaveAs, PageSpaceStartsAtTheCropBox) {
  TempDir dir;
  PageSpec p;
  p.media_box = "[-50 -50 662 842]";
  p.extra = "/CropBox [50 100 562 792]";
  auto doc = open_pdf(make_pdf({p}));
  ASSERT_TRUE(doc);
  ASSERT_TRUE(doc->save_as(dir.file("out.pdf"), {box(AnnotType::Rectangle, 10, 20, 30, 40)}));
  Copy c(dir.file("out.pdf"));
  ASSERT_EQ(c.count(), 1);
  const FS_RECTF r = rect_of(c.annot(0));
  EXPECT_FLOAT_EQ(r.left, 60);
  EXPECT_FLOAT_EQ(r.bottom, 120);
  EXPECT_FLOAT_EQ(r.right, 80);
  EXPECT_FLOAT_EQ(r.top, 140);
}

TEST(SaveAs, XfdfAndTheSavedCopyAgreeOnUserSpace) {
  // XFDF exchanged with other software must put an annotation where the saved PDF puts it.
  TempDir dir;
  PageSpec plain, cropped;
  cropped.media_box = "[-50 -50 662 842]";
  cropped.extra = "/CropBox [50 100 562 792]";
  auto doc = open_pdf(make_pdf({plain, cropped}));
  ASSERT_TRUE(doc);
  const struct {
    int page;
    double x, y;
  } origins[] = {{0, 0, 0}, {1, 50, 100}, {2, 0, 0}, {-1, 0, 0}};
  for (const auto& o : origins) {
    EXPECT_DOUBLE_EQ(doc->crop_origin(o.page).x, o.x) << o.page;
    EXPECT_DOUBLE_EQ(doc->crop_origin(o.page).y, o.y) << o.page;
  }
  const annot::PageOrigins of_doc = [&](int page) { return doc->crop_origin(page); };

  Annotation a = box(AnnotType::Rectangle, 10, 20, 30, 40);
  a.page = 1;
  ASSERT_TRUE(doc->save_as(dir.file("out.pdf"), {a}));
  Copy c(dir.file("out.pdf"), 1);
  ASSERT_EQ(c.count(), 1);
  const FS_RECTF saved = rect_of(c.annot(0));
  const std::vector<Annotation> user = annot::from_xfdf(annot::to_xfdf({a}, "", of_doc));
  ASSERT_EQ(user.size(), 1u);
  EXPECT_FLOAT_EQ(static_cast<float>(user[0].x0), saved.left);
  EXPECT_FLOAT_EQ(static_cast<float>(user[0].y0), saved.bottom);
  EXPECT_FLOAT_EQ(static_cast<float>(user[0].x1), saved.right);
  EXPECT_FLOAT_EQ(static_cast<float>(user[0].y1), saved.top);
  const std::vector<Annotation> back = annot::from_xfdf(annot::to_xfdf({a}, "", of_doc), of_doc);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_DOUBLE_EQ(back[0].x0, 10);
  EXPECT_DOUBLE_EQ(back[0].y1, 40);

  // A crop moves the page's origin, and the annotations of the page with it.
  ASSERT_TRUE(doc->crop_page(1, 5, 5, 200, 200));
  EXPECT_DOUBLE_EQ(doc->crop_origin(1).x, 55);
  EXPECT_DOUBLE_EQ(doc->crop_origin(1).y, 105);
}

TEST(SaveAs, KeepsEncryption) {
  TempDir dir;
  const std::string enc = qpdf_encrypt(text_pdf({"locked"}), "user", "owner");
  ASSERT_FALSE(enc.empty());
  auto doc = open_pdf(enc, "user");
  ASSERT_TRUE(doc);
  Annotation ft = box(AnnotType::FreeText, 100, 100, 300, 140);
  ft.text = "inside";
  ASSERT_TRUE(doc->save_as(dir.file("out.pdf"), {box(AnnotType::Rectangle, 10, 20, 30, 40), ft}));
  EXPECT_FALSE(open_file(dir.file("out.pdf")));
  auto copy = open_file(dir.file("out.pdf"), "user");
  ASSERT_TRUE(copy);
  EXPECT_EQ(page_text(*copy, 0), "locked");
  EXPECT_TRUE(copy->metadata().encrypted);
  EXPECT_GT(render_pdfium(*copy, 0).inked(104, 110, 200, 137), 20);
}

TEST(SaveAs, ADeletedPageLeavesTheFile) {
  TempDir dir;
  auto doc = open_pdf(text_pdf({"kept", "SECRET-4711"}));
  ASSERT_TRUE(doc);
  ASSERT_TRUE(doc->delete_page(1));
  ASSERT_TRUE(doc->save_as(dir.file("out.pdf"), {}));
  EXPECT_TRUE(qpdf_check(dir.file("out.pdf")));
  const std::string qdf = qdf_text(dir.file("out.pdf"));
  ASSERT_FALSE(qdf.empty());
  EXPECT_EQ(qdf.find("SECRET-4711"), std::string::npos);
  auto copy = open_file(dir.file("out.pdf"));
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->page_count(), 1);
}

TEST(SaveAs, FailuresLeaveFilesAlone) {
  TempDir dir;
  auto doc = open_pdf(text_pdf({"new content"}));
  ASSERT_TRUE(doc);
  EXPECT_FALSE(doc->save_as(dir.file("missing/out.pdf"), {}));
  EXPECT_FALSE(fs::exists(dir.file("missing")));
  EXPECT_FALSE(doc->save_as(dir.path(), {}));  // a folder is no target

  fs::create_directory(dir.file("ro"));
  const std::string target = dir.file("ro/old.pdf");
  const std::string old = text_pdf({"old content"});
  ASSERT_TRUE(write_file(target, old));
  ASSERT_EQ(chmod(dir.file("ro").c_str(), 0555), 0);
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  EXPECT_FALSE(save_unprivileged(*doc, target));
  chmod(dir.file("ro").c_str(), 0755);
  EXPECT_EQ(read_file(target), old);
  size_t entries = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.file("ro"))) ++entries;
  EXPECT_EQ(entries, 1u);

  // The same document saves fine once the target can be written.
  ASSERT_TRUE(doc->save_as(target, {}));
  auto copy = open_file(target);
  ASSERT_TRUE(copy);
  EXPECT_EQ(page_text(*copy, 0), "new content");
}

TEST(SaveAs, CommitsTheFieldBeingTyped) {
  TempDir dir;
  auto doc = open_pdf(one_field_form_pdf());
  ASSERT_TRUE(doc && doc->has_form());
  type_into_field(*doc, "abc");
  // Still in the field: saving must take the typed value along.
  ASSERT_TRUE(doc->save_as(dir.file("out.pdf"), {box(AnnotType::Rectangle, 10, 10, 50, 50)}));
  Copy c(dir.file("out.pdf"));
  ASSERT_EQ(c.count(), 2);
  EXPECT_EQ(string_value(c.annot(0), "V"), "abc");
}

// Readers draw a highlight from its quadrilateral, taking the first two points for the top of
// the text as the page is shown; on a turned page the saved copy's mark must still cover its
// own line and nothing beside it, as pdftoppm shows the page.
TEST(SaveAs, MarkupSitsOnItsLineOnTurnedPages) {
  const double w = 400, h = 300;
  // A line as the page is shown: 200 x 14 points, 100 points below the top left corner.
  const double sx0 = 50, sx1 = 250, sy0 = 100, sy1 = 114;  // shown space, origin top left
  for (int turns : {0, 1, 2, 3}) {
    SCOPED_TRACE(turns * 90);
    PageSpec page;
    page.width = w;
    page.height = h;
    page.extra = "/Rotate " + std::to_string(turns * 90);
    // Page space of a shown point (x to the right, y down from the top left corner).
    auto to_page = [&](double sx, double sy) -> annot::Point {
      switch (turns) {
        case 1: return {sy, sx};
        case 2: return {w - sx, sy};
        case 3: return {w - sy, h - sx};
        default: return {sx, h - sy};
      }
    };
    const annot::Point a = to_page(sx0, sy0), b = to_page(sx1, sy1);
    TempDir dir;
    auto doc = open_pdf(make_pdf({page}));
    ASSERT_TRUE(doc);
    Annotation mark = box(AnnotType::Highlight, std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x),
                          std::max(a.y, b.y));
    ASSERT_TRUE(doc->save_as(dir.file("out.pdf"), {mark}));
    const Raster shown = render_poppler(dir.file("out.pdf"), 0);
    const double shown_h = turns % 2 ? w : h;
    ASSERT_EQ(shown.height, static_cast<int>(shown_h));
    // Raster boxes have their origin at the bottom left.
    const double y0 = shown_h - sy1, y1 = shown_h - sy0;
    EXPECT_GT(shown.inked(sx0 + 4, y0 + 1, sx1 - 4, y1 - 1), (sx1 - sx0 - 8) * (y1 - y0 - 2) * 0.9);
    // Its rounded ends reach a quarter of the line's height past the box, no further.
    const int all = shown.inked(0, 0, shown.width, shown.height);
    EXPECT_EQ(shown.inked(sx0 - 6, y0 - 2, sx1 + 6, y1 + 2), all);
  }
}
