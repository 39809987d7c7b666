// Page-structure edits on open documents: the page list after each edit, files they write, the
// encryption and form state that survive a document being rebuilt.
#define POINTERHOLDER_TRANSITION 4
#include <gtest/gtest.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>

#include "common/fixtures.h"
#include "test_edit_support.h"
#include "core/engine.h"

using namespace quorvel;
using quorvel::test::as_bytes;
using quorvel::test::build_pdf;

namespace {

std::unique_ptr<IDocument> open_doc(const std::string& bytes, const std::string& pw = "") {
  auto e = make_engine(EngineKind::Pdfium);
  return e->open(as_bytes(bytes), pw);
}

using quorvel::test::page_texts;

// 0 when qpdf finds the file sound; its messages otherwise.
std::string qpdf_check(const std::string& path, const std::string& pw = "") {
  std::vector<std::string> argv{"qpdf", "--check"};
  if (!pw.empty()) argv.push_back("--password=" + pw);
  argv.push_back(path);
  std::string out;
  return test::run_program(argv, &out) == 0 ? "" : out;
}

std::string stream(const std::string& data) {
  return "<< /Length " + std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream";
}

const char* kFont = "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>";

// Two pages ("form", "second"); page 0 holds one text field at [100 600 400 640].
std::string form_pdf() {
  return build_pdf({
      "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [5 0 R] /DA (/Helv 12 Tf 0 g) "
      "/DR << /Font << /Helv 3 0 R >> >> >> >>",
      "<< /Type /Pages /Kids [4 0 R 7 0 R] /Count 2 >>",
      kFont,
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Annots [5 0 R] /Contents 6 0 R "
      "/Resources << /Font << /F1 3 0 R >> >> >>",
      "<< /Type /Annot /Subtype /Widget /FT /Tx /T (name) /Rect [100 600 400 640] /P 4 0 R "
      "/DA (/Helv 12 Tf 0 g) /F 4 >>",
      stream("BT /F1 12 Tf 72 720 Td (form) Tj ET"),
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 8 0 R "
      "/Resources << /Font << /F1 3 0 R >> >> >>",
      stream("BT /F1 12 Tf 72 720 Td (second) Tj ET"),
  });
}

// Values of the text fields on the pages of a written file, in page order.
std::vector<std::string> field_values(const std::string& path) {
  QPDF q;
  q.setSuppressWarnings(true);
  q.processFile(path.c_str());
  std::vector<std::string> out;
  for (QPDFObjectHandle page : q.getAllPages()) {
    QPDFObjectHandle annots = page.getKey("/Annots");
    if (!annots.isArray()) continue;
    for (QPDFObjectHandle a : annots.aitems()) {
      if (a.getKey("/FT").isNameAndEquals("/Tx")) {
        QPDFObjectHandle v = a.getKey("/V");
        out.push_back(v.isString() ? v.getUTF8Value() : "");
      }
    }
  }
  return out;
}

void type(IDocument& d, const std::string& s) {
  for (char c : s) d.form_char(static_cast<unsigned char>(c));
}

using Edit = std::function<bool(IDocument&)>;

struct EditCase {
  const char* name;
  std::vector<std::string> pages;
  Edit edit;
  bool result;
  std::vector<std::string> after;
};

TEST(PageEdits, PageListAfterEachEdit) {
  const std::string other = test::text_pdf({"x", "y"});
  const std::string locked_other = test::qpdf_encrypt(other, "pw", "owner");
  ASSERT_FALSE(locked_other.empty());
  const std::string not_pdf = "plain text, no PDF here\n";
  // PDFium counts two pages, the second a null that qpdf's import would leave out.
  const std::string half_readable = test::tree_pdf("/Kids [3 0 R null] /Count 2");
  const std::string pageless = test::tree_pdf("/Count 0");
  const std::vector<std::string> abc{"a", "b", "c"};
  const EditCase table[] = {
      {"delete the only page", {"a"}, [](IDocument& d) { return d.delete_page(0); }, true, {}},
      {"delete the middle page", abc, [](IDocument& d) { return d.delete_page(1); }, true, {"a", "c"}},
      {"delete past the end", abc, [](IDocument& d) { return d.delete_page(3); }, false, abc},
      {"delete negative", abc, [](IDocument& d) { return d.delete_page(-1); }, false, abc},
      {"move onto itself", abc, [](IDocument& d) { return d.move_page(1, 1); }, false, abc},
      {"move first to last", abc, [](IDocument& d) { return d.move_page(0, 2); }, true, {"b", "c", "a"}},
      {"move last to first", abc, [](IDocument& d) { return d.move_page(2, 0); }, true, {"c", "a", "b"}},
      {"move first to middle", abc, [](IDocument& d) { return d.move_page(0, 1); }, true, {"b", "a", "c"}},
      {"move to the count", abc, [](IDocument& d) { return d.move_page(0, 3); }, false, abc},
      {"move from negative", abc, [](IDocument& d) { return d.move_page(-1, 0); }, false, abc},
      {"insert at the count", abc, [](IDocument& d) { return d.insert_blank_page(3, 200, 300); }, true,
       {"a", "b", "c", ""}},
      {"insert at 0", abc, [](IDocument& d) { return d.insert_blank_page(0, 200, 300); }, true,
       {"", "a", "b", "c"}},
      {"insert past the count", abc, [](IDocument& d) { return d.insert_blank_page(4, 200, 300); }, false, abc},
      {"insert zero width", abc, [](IDocument& d) { return d.insert_blank_page(1, 0, 300); }, false, abc},
      {"insert infinite height", abc,
       [](IDocument& d) { return d.insert_blank_page(1, 100, std::numeric_limits<double>::infinity()); },
       false, abc},
      {"merge appends with a negative index", abc,
       [&](IDocument& d) { return d.merge(as_bytes(other), -1); }, true, {"a", "b", "c", "x", "y"}},
      {"merge at 1", abc, [&](IDocument& d) { return d.merge(as_bytes(other), 1); }, true,
       {"a", "x", "y", "b", "c"}},
      {"merge at the count", abc, [&](IDocument& d) { return d.merge(as_bytes(other), 3); }, true,
       {"a", "b", "c", "x", "y"}},
      {"merge above the count", abc, [&](IDocument& d) { return d.merge(as_bytes(other), 4); }, false, abc},
      {"merge no bytes", abc, [](IDocument& d) { return d.merge({}, -1); }, false, abc},
      {"merge bytes that are no PDF", abc, [&](IDocument& d) { return d.merge(as_bytes(not_pdf), -1); },
       false, abc},
      {"merge a file that needs a password", abc,
       [&](IDocument& d) { return d.merge(as_bytes(locked_other), -1); }, false, abc},
      {"merge a file with a page that cannot be read", abc,
       [&](IDocument& d) { return d.merge(as_bytes(half_readable), -1); }, false, abc},
      {"merge a file whose tree holds no page", abc,
       [&](IDocument& d) { return d.merge(as_bytes(pageless), -1); }, false, abc},
      {"merge into an empty document", {"a"},
       [&](IDocument& d) { return d.delete_page(0) && d.merge(as_bytes(other), -1); }, true, {"x", "y"}},
  };
  for (const EditCase& c : table) {
    auto d = open_doc(test::text_pdf(c.pages));
    ASSERT_NE(d, nullptr) << c.name;
    EXPECT_EQ(c.edit(*d), c.result) << c.name;
    EXPECT_EQ(page_texts(*d), c.after) << c.name;
  }
}

TEST(PageEdits, EditsPileUpAndSurviveRebuilds) {
  // Rotation and crop live in the open document; a move rebuilds it and must keep both.
  auto d = open_doc(test::text_pdf({"a", "b", "c"}));
  ASSERT_TRUE(d->rotate_page(0, 1));
  ASSERT_TRUE(d->crop_page(2, 10, 20, 310, 420));
  ASSERT_TRUE(d->move_page(0, 2));
  ASSERT_TRUE(d->merge(as_bytes(test::text_pdf({"m"})), 0));
  EXPECT_EQ(page_texts(*d), (std::vector<std::string>{"m", "b", "c", "a"}));
  EXPECT_EQ(d->page_info(3).rotation, 90);
  EXPECT_DOUBLE_EQ(d->page_info(2).width, 300);
  EXPECT_DOUBLE_EQ(d->page_info(2).height, 400);
  ASSERT_TRUE(d->delete_page(0));
  ASSERT_TRUE(d->move_page(2, 0));
  EXPECT_EQ(page_texts(*d), (std::vector<std::string>{"a", "b", "c"}));
}

TEST(PageEdits, RebuiltDocumentKeepsBookmarksAndTakesNewText) {
  // Bookmark "to b" points at the second page and must follow it through a move.
  const std::string pdf = build_pdf({
      "<< /Type /Catalog /Pages 2 0 R /Outlines 8 0 R >>",
      "<< /Type /Pages /Kids [4 0 R 6 0 R] /Count 2 >>",
      kFont,
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 5 0 R "
      "/Resources << /Font << /F1 3 0 R >> >> >>",
      stream("BT /F1 12 Tf 72 720 Td (a) Tj ET"),
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 7 0 R "
      "/Resources << /Font << /F1 3 0 R >> >> >>",
      stream("BT /F1 12 Tf 72 720 Td (b) Tj ET"),
      "<< /Type /Outlines /First 9 0 R /Last 9 0 R /Count 1 >>",
      "<< /Title (to b) /Parent 8 0 R /Dest [6 0 R /Fit] >>",
  });
  auto d = open_doc(pdf);
  ASSERT_NE(d, nullptr);
  // The inserted text's font is cached per document; the rebuilt one must get its own.
  ASSERT_TRUE(d->insert_text(0, "one", 72, 500, 12, 0));
  ASSERT_TRUE(d->move_page(1, 0));
  ASSERT_TRUE(d->insert_text(0, "two", 72, 500, 12, 0));
  ASSERT_TRUE(d->merge(as_bytes(test::text_pdf({"x"})), 0));
  const std::vector<OutlineItem> outline = d->outline();
  ASSERT_EQ(outline.size(), 1u);
  EXPECT_EQ(outline[0].title, "to b");
  EXPECT_EQ(outline[0].page, 1);
  const std::vector<std::string> pages = page_texts(*d);
  ASSERT_EQ(pages.size(), 3u);
  EXPECT_NE(pages[1].find("two"), std::string::npos) << pages[1];
  EXPECT_NE(pages[2].find("one"), std::string::npos) << pages[2];
}

// Whether any stream of a written file still holds `needle`, decoded.
bool file_holds(const std::string& path, const std::string& needle) {
  QPDF q;
  q.setSuppressWarnings(true);
  q.processFile(path.c_str());
  for (QPDFObjectHandle o : q.getAllObjects()) {
    if (!o.isStream()) continue;
    const auto data = o.getStreamData(qpdf_dl_all);
    const std::string s(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
    if (s.find(needle) != std::string::npos) return true;
  }
  return false;
}

TEST(PageEdits, DeletedPagesLeaveNothingInSavedFiles) {
  auto d = open_doc(test::text_pdf({"keep", "secret-page", "also"}));
  ASSERT_TRUE(d->delete_page(1));
  test::TempDir dir;
  ASSERT_TRUE(d->save_as(dir.file("s.pdf"), {}));
  EXPECT_EQ(qpdf_check(dir.file("s.pdf")), "");
  EXPECT_FALSE(file_holds(dir.file("s.pdf"), "secret-page"));
  EXPECT_TRUE(file_holds(dir.file("s.pdf"), "also"));
  // The same after a rebuild through qpdf.
  ASSERT_TRUE(d->move_page(0, 1));
  ASSERT_TRUE(d->save_as(dir.file("m.pdf"), {}));
  EXPECT_FALSE(file_holds(dir.file("m.pdf"), "secret-page"));
  auto out = open_doc(test::read_file(dir.file("m.pdf")));
  EXPECT_EQ(page_texts(*out), (std::vector<std::string>{"also", "keep"}));
}

TEST(PageEdits, RotationIsRelativeAndWraps) {
  const struct {
    int stored;
    int turns;
    int expected;
  } table[] = {{270, 1, 0}, {0, -1, 270}, {90, 4, 90}, {0, 2, 180}, {90, INT_MAX, 0}, {0, INT_MIN, 0}};
  for (const auto& row : table) {
    test::PageSpec p;
    p.extra = "/Rotate " + std::to_string(row.stored);
    auto d = open_doc(test::make_pdf({p}));
    EXPECT_TRUE(d->rotate_page(0, row.turns)) << row.stored << " + " << row.turns;
    EXPECT_EQ(d->page_info(0).rotation, row.expected) << row.stored << " + " << row.turns;
  }
  auto d = open_doc(test::text_pdf({"a"}));
  EXPECT_FALSE(d->rotate_page(1, 1));
  EXPECT_FALSE(d->rotate_page(-1, 1));
}

TEST(PageEdits, CropTakesPageSpaceCorners) {
  // The first page's crop box does not start at the user-space origin.
  test::PageSpec offset;
  offset.media_box = "[100 200 700 1000]";
  test::PageSpec plain;
  auto d = open_doc(test::make_pdf({offset, plain}));
  ASSERT_TRUE(d->crop_page(-1, 50, 60, 250, 360));
  for (int i = 0; i < 2; ++i) {
    EXPECT_DOUBLE_EQ(d->page_info(i).width, 200) << i;
    EXPECT_DOUBLE_EQ(d->page_info(i).height, 300) << i;
  }
  // The saved crop box of the offset page is the page-space box moved by its origin.
  test::TempDir dir;
  ASSERT_TRUE(d->save_range(dir.file("c.pdf"), 0, 0));
  QPDF q;
  q.setSuppressWarnings(true);
  q.processFile(dir.file("c.pdf").c_str());
  QPDFObjectHandle page = q.getAllPages()[0];
  const auto box = page.getKey("/CropBox").getArrayAsRectangle();
  EXPECT_DOUBLE_EQ(box.llx, 150);
  EXPECT_DOUBLE_EQ(box.lly, 260);
  EXPECT_DOUBLE_EQ(box.urx, 350);
  EXPECT_DOUBLE_EQ(box.ury, 560);

  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    const char* name;
    int page;
    double x0, y0, x1, y1;
  } rejected[] = {
      {"x0 == x1", 0, 10, 10, 10, 20},     {"y0 > y1", 0, 10, 30, 20, 20},
      {"page past the end", 2, 0, 0, 10, 10}, {"NaN corner", 0, nan, 0, 10, 10},
      {"beyond a float", 0, 0, 0, 1e300, 10},
  };
  for (const auto& r : rejected) EXPECT_FALSE(d->crop_page(r.page, r.x0, r.y0, r.x1, r.y1)) << r.name;

  auto empty = open_doc(test::text_pdf({"a"}));
  ASSERT_TRUE(empty->delete_page(0));
  EXPECT_TRUE(empty->crop_page(-1, 0, 0, 10, 10));
  EXPECT_FALSE(empty->crop_page(0, 0, 0, 10, 10));
}

TEST(PageEdits, SaveRange) {
  test::TempDir dir;
  auto d = open_doc(test::text_pdf({"a", "b", "c", "d"}));
  const struct {
    int first, last;
    bool ok;
    std::vector<std::string> pages;
  } table[] = {
      {1, 1, true, {"b"}},   {1, 3, true, {"b", "c", "d"}}, {0, 3, true, {"a", "b", "c", "d"}},
      {2, 4, false, {}},     {3, 2, false, {}},             {-1, 0, false, {}},
  };
  int n = 0;
  for (const auto& row : table) {
    const std::string path = dir.file("r" + std::to_string(n++) + ".pdf");
    EXPECT_EQ(d->save_range(path, row.first, row.last), row.ok) << row.first << ".." << row.last;
    if (!row.ok) {
      EXPECT_NE(access(path.c_str(), F_OK), 0) << "nothing written for " << row.first << ".." << row.last;
      continue;
    }
    EXPECT_EQ(qpdf_check(path), "");
    auto out = open_doc(test::read_file(path));
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(page_texts(*out), row.pages);
  }
  EXPECT_FALSE(d->save_range(dir.file("no-such-folder/x.pdf"), 0, 0));
  EXPECT_EQ(page_texts(*d), (std::vector<std::string>{"a", "b", "c", "d"}));
}

TEST(PageEdits, SaveRangeKeepsAnInheritedMediaBox) {
  const std::string pdf = build_pdf({
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [4 0 R 6 0 R] /Count 2 /MediaBox [0 0 300 500] /Rotate 90 "
      "/Resources << /Font << /F1 3 0 R >> >> >>",
      kFont,
      "<< /Type /Page /Parent 2 0 R /Contents 5 0 R >>",
      stream("BT /F1 12 Tf 20 400 Td (first) Tj ET"),
      "<< /Type /Page /Parent 2 0 R /Contents 7 0 R >>",
      stream("BT /F1 12 Tf 20 400 Td (second) Tj ET"),
  });
  auto d = open_doc(pdf);
  ASSERT_NE(d, nullptr);
  test::TempDir dir;
  ASSERT_TRUE(d->save_range(dir.file("one.pdf"), 1, 1));
  EXPECT_EQ(qpdf_check(dir.file("one.pdf")), "");
  auto out = open_doc(test::read_file(dir.file("one.pdf")));
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(page_texts(*out), std::vector<std::string>{"second"});
  const PageInfo info = out->page_info(0);
  EXPECT_DOUBLE_EQ(info.width, 300);
  EXPECT_DOUBLE_EQ(info.height, 500);
  EXPECT_EQ(info.rotation, 90);
}

// Where each page's text sits on an N-up sheet, as (column, row) of its cell.
std::vector<std::pair<std::string, std::pair<int, int>>> cells(const IDocument& d, int sheet, int cols,
                                                               int rows) {
  const PageInfo info = d.page_info(sheet);
  std::vector<std::pair<std::string, std::pair<int, int>>> out;
  for (const TextRun& r : d.extract_text(sheet).runs) {
    const double cx = (r.left + r.right) / 2, cy = (r.top + r.bottom) / 2;
    const int col = static_cast<int>(cx / (info.width / cols));
    const int row = static_cast<int>((info.height - cy) / (info.height / rows));
    std::string t = r.text;
    while (!t.empty() && std::isspace(static_cast<unsigned char>(t.back()))) t.pop_back();
    out.push_back({t, {col, row}});
  }
  return out;
}

TEST(PageEdits, SaveNupFillsSheetsOfTheFirstPageSize) {
  std::vector<test::PageSpec> pages;
  for (int i = 1; i <= 5; ++i) {
    test::PageSpec p;
    p.width = i == 1 ? 500 : 612;  // the sheets follow the first page only
    p.height = i == 1 ? 700 : 792;
    p.content = "BT /F1 40 Tf 100 300 Td (p" + std::to_string(i) + ") Tj ET";
    pages.push_back(p);
  }
  auto d = open_doc(test::make_pdf(pages));
  test::TempDir dir;
  ASSERT_TRUE(d->save_nup(dir.file("n.pdf"), 2, 2));
  EXPECT_EQ(qpdf_check(dir.file("n.pdf")), "");
  auto out = open_doc(test::read_file(dir.file("n.pdf")));
  ASSERT_NE(out, nullptr);
  ASSERT_EQ(out->page_count(), 2);
  for (int s = 0; s < 2; ++s) {
    EXPECT_DOUBLE_EQ(out->page_info(s).width, 500);
    EXPECT_DOUBLE_EQ(out->page_info(s).height, 700);
  }
  using Cells = std::vector<std::pair<std::string, std::pair<int, int>>>;
  EXPECT_EQ(cells(*out, 0, 2, 2), (Cells{{"p1", {0, 0}}, {"p2", {1, 0}}, {"p3", {0, 1}}, {"p4", {1, 1}}}));
  EXPECT_EQ(cells(*out, 1, 2, 2), (Cells{{"p5", {0, 0}}}));
  EXPECT_EQ(d->page_count(), 5);

  // cols x rows beyond an int still makes one sheet holding every page.
  ASSERT_TRUE(d->save_nup(dir.file("wide.pdf"), INT_MAX, 3));
  auto wide = open_doc(test::read_file(dir.file("wide.pdf")));
  ASSERT_NE(wide, nullptr);
  EXPECT_EQ(wide->page_count(), 1);

  EXPECT_FALSE(d->save_nup(dir.file("bad.pdf"), 0, 2));
  EXPECT_FALSE(d->save_nup(dir.file("bad.pdf"), 2, -1));
  EXPECT_NE(access(dir.file("bad.pdf").c_str(), F_OK), 0);

  ASSERT_TRUE(d->delete_page(0) && d->delete_page(0) && d->delete_page(0) && d->delete_page(0) &&
              d->delete_page(0));
  ASSERT_TRUE(d->save_nup(dir.file("empty.pdf"), 2, 2));
  EXPECT_EQ(qpdf_check(dir.file("empty.pdf")), "");
  auto blank = open_doc(test::read_file(dir.file("empty.pdf")));
  ASSERT_NE(blank, nullptr);
  ASSERT_EQ(blank->page_count(), 1);
  EXPECT_DOUBLE_EQ(blank->page_info(0).width, 612);
  EXPECT_DOUBLE_EQ(blank->page_info(0).height, 792);
}

// AES with 128-bit keys (revision 4) as well as 256; qpdf refuses to write RC4.
std::string encrypt(const std::string& pdf, int bits) {
  if (bits == 256) return test::qpdf_encrypt(pdf, "user-pw", "owner-pw");
  test::TempDir dir;
  test::write_file(dir.file("in.pdf"), pdf);
  if (test::run_program({"qpdf", "--encrypt", "user-pw", "owner-pw", "128", "--use-aes=y", "--",
                         dir.file("in.pdf"), dir.file("out.pdf")}) != 0) {
    return {};
  }
  return test::read_file(dir.file("out.pdf"));
}

TEST(PageEdits, EncryptionAndPasswordSurviveARebuild) {
  for (int bits : {256, 128}) {
    const std::string locked = encrypt(test::text_pdf({"a", "b", "c"}), bits);
    ASSERT_FALSE(locked.empty());
    auto d = open_doc(locked, "user-pw");
    ASSERT_NE(d, nullptr) << bits;
    ASSERT_TRUE(d->move_page(0, 2)) << bits;
    ASSERT_TRUE(d->merge(as_bytes(test::text_pdf({"x", "y"})), -1)) << bits;
    ASSERT_TRUE(d->delete_page(4)) << bits;
    EXPECT_EQ(page_texts(*d), (std::vector<std::string>{"b", "c", "a", "x"})) << bits;
    EXPECT_TRUE(d->metadata().encrypted) << bits;

    test::TempDir dir;
    const std::vector<std::pair<std::string, std::function<bool(const std::string&)>>> writers{
        {"range", [&](const std::string& p) { return d->save_range(p, 1, 3); }},
        {"nup", [&](const std::string& p) { return d->save_nup(p, 2, 1); }},
        {"save_as", [&](const std::string& p) { return d->save_as(p, {}); }},
    };
    for (const auto& [name, write] : writers) {
      const std::string path = dir.file(name + ".pdf");
      ASSERT_TRUE(write(path)) << name << " " << bits;
      std::string shown;
      test::run_program({"qpdf", "--show-encryption", "--password=user-pw", path}, &shown);
      EXPECT_EQ(shown.find("File is not encrypted"), std::string::npos) << name << " " << bits;
      EXPECT_EQ(qpdf_check(path, "user-pw"), "") << name << " " << bits;
      auto e = make_engine(EngineKind::Pdfium);
      EXPECT_EQ(e->open(as_bytes(test::read_file(path)), ""), nullptr) << name << " " << bits;
      EXPECT_TRUE(e->last_open_needs_password()) << name << " " << bits;
      EXPECT_NE(e->open(as_bytes(test::read_file(path)), "user-pw"), nullptr) << name << " " << bits;
    }
  }
}

TEST(PageEdits, FormsStayUsableThroughFailedAndSuccessfulRebuilds) {
  auto d = open_doc(form_pdf());
  ASSERT_NE(d, nullptr);
  ASSERT_TRUE(d->has_form());
  d->form_click(0, 150, 620, true);
  d->form_click(0, 150, 620, false);
  type(*d, "ab");

  // A failed merge changes nothing: the field keeps its focus and takes more input.
  EXPECT_FALSE(d->merge(as_bytes(std::string("%PDF-1.7\ngarbage")), -1));
  EXPECT_FALSE(d->merge(as_bytes(test::text_pdf({"x"})), 9));
  EXPECT_TRUE(d->has_form());
  type(*d, "c");

  // A move rebuilds the document; what was typed is committed first, not lost.
  ASSERT_TRUE(d->move_page(0, 1));
  EXPECT_EQ(page_texts(*d), (std::vector<std::string>{"second", "form"}));
  EXPECT_TRUE(d->has_form());
  type(*d, "lost");  // no field has focus in the rebuilt document
  d->form_click(1, 390, 620, true);
  d->form_click(1, 390, 620, false);
  d->form_key(0x23, true);  // End
  d->form_key(0x23, false);
  type(*d, "d");
  ASSERT_TRUE(d->merge(as_bytes(test::text_pdf({"x"})), 0));
  EXPECT_TRUE(d->has_form());

  test::TempDir dir;
  ASSERT_TRUE(d->save_range(dir.file("f.pdf"), 0, 2));
  EXPECT_EQ(field_values(dir.file("f.pdf")), std::vector<std::string>{"abcd"});
}

TEST(PageEdits, AFieldOnTwoPagesIsCommittedWhenTheCacheCloses) {
  // One field with a widget on each page. Committing it from the second page makes PDFium ask
  // for the first through the page callback while the cache was being closed; that page was
  // loaded into the cache behind the loop and never closed (the sanitizer build sees the leak).
  const std::string pdf = build_pdf({
      "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [5 0 R] /DA (/Helv 12 Tf 0 g) "
      "/DR << /Font << /Helv 3 0 R >> >> >> >>",
      "<< /Type /Pages /Kids [4 0 R 6 0 R] /Count 2 >>",
      kFont,
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Annots [7 0 R] >>",
      "<< /FT /Tx /T (name) /Kids [7 0 R 8 0 R] /DA (/Helv 12 Tf 0 g) >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Annots [8 0 R] >>",
      "<< /Type /Annot /Subtype /Widget /Parent 5 0 R /Rect [100 600 400 640] /P 4 0 R /F 4 >>",
      "<< /Type /Annot /Subtype /Widget /Parent 5 0 R /Rect [100 600 400 640] /P 6 0 R /F 4 >>",
  });
  const struct {
    const char* name;
    Edit edit;
  } edits[] = {
      {"insert", [](IDocument& d) { return d.insert_blank_page(2, 100, 100); }},
      {"delete", [](IDocument& d) { return d.delete_page(1); }},
  };
  for (const auto& e : edits) {
    auto d = open_doc(pdf);
    ASSERT_NE(d, nullptr) << e.name;
    d->form_click(1, 150, 620, true);
    d->form_click(1, 150, 620, false);
    type(*d, "typed");
    ASSERT_TRUE(e.edit(*d)) << e.name;
    test::TempDir dir;
    ASSERT_TRUE(d->save_as(dir.file("f.pdf"), {})) << e.name;
    QPDF q;
    q.setSuppressWarnings(true);
    q.processFile(dir.file("f.pdf").c_str());
    QPDFObjectHandle field = q.getRoot().getKey("/AcroForm").getKey("/Fields").getArrayItem(0);
    EXPECT_EQ(field.getKey("/V").getUTF8Value(), "typed") << e.name;
  }
}

// Captures what the process writes to its standard error while alive.
class StderrCapture {
 public:
  explicit StderrCapture(const std::string& path) {
    std::fflush(stderr);
    saved_ = dup(2);
    FILE* f = std::fopen(path.c_str(), "w");
    dup2(fileno(f), 2);
    std::fclose(f);
  }
  ~StderrCapture() { restore(); }
  void restore() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
    saved_ = -1;
  }

 private:
  int saved_ = -1;
};

TEST(PageEdits, DamagedInputsStaySilent) {
  // A file qpdf has to repair (wrong xref offset) and one it cannot read at all.
  std::string damaged = test::text_pdf({"r"});
  damaged.replace(damaged.rfind("startxref\n") + 10, 1, "9");
  const std::string garbage = "%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 7 0 R >> endobj\n";
  test::TempDir dir;
  const std::string log = dir.file("stderr.txt");
  {
    StderrCapture capture(log);
    auto d = open_doc(test::text_pdf({"a", "b"}));
    d->merge(as_bytes(damaged), -1);
    d->merge(as_bytes(garbage), -1);
    d->move_page(0, 1);
    d->save_range(dir.file("r.pdf"), 0, 0);
    d->save_nup(dir.file("n.pdf"), 3, 3);
    capture.restore();
  }
  EXPECT_EQ(test::read_file(log), "");
}

TEST(PageEdits, BrokenPageTreesAreRefused) {
  // PDFium counts a kid that is no dictionary, or trusts a /Count above what the tree holds;
  // its page-tree edits crashed on the first and reported edits never made on the second.
  const struct {
    const char* name;
    const char* pages;
  } trees[] = {
      {"null kid", "<< /Type /Pages /Kids [3 0 R null 4 0 R] /Count 2 >>"},
      {"count lie", "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 4 >>"},
  };
  auto tree_pdf = [](const char* pages) {
    return build_pdf({"<< /Type /Catalog /Pages 2 0 R >>", pages,
                      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] >>",
                      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] >>"});
  };
  for (const auto& t : trees) {
    auto d = open_doc(tree_pdf(t.pages));
    ASSERT_NE(d, nullptr) << t.name;
    const int n = d->page_count();
    EXPECT_FALSE(d->delete_page(0)) << t.name;
    EXPECT_FALSE(d->delete_page(n - 1)) << t.name;
    EXPECT_FALSE(d->insert_blank_page(0, 50, 50)) << t.name;
    EXPECT_EQ(d->page_count(), n) << t.name;
    EXPECT_TRUE(d->insert_blank_page(n, 50, 50)) << t.name;  // appending walks no tree
  }

  // A kid that is a number shows to PDFium as a page it cannot read, so the file is opened from
  // qpdf's rebuild, whose tree holds both real pages; its edits are then sound.
  auto rebuilt = open_doc(tree_pdf("<< /Type /Pages /Kids [7 3 0 R 4 0 R] /Count 2 >>"));
  ASSERT_NE(rebuilt, nullptr);
  ASSERT_EQ(rebuilt->page_count(), 2);
  EXPECT_TRUE(rebuilt->unreadable_pages().empty());
  EXPECT_DOUBLE_EQ(rebuilt->page_info(1).width, 200);
  EXPECT_TRUE(rebuilt->delete_page(0));
  EXPECT_DOUBLE_EQ(rebuilt->page_info(0).width, 200);

  // qpdf reads a page dictionary it cannot parse (an integer beyond 64 bits) as null; merging
  // that null in gave a page that crashed the next deletion.
  test::PageSpec unreadable;
  unreadable.media_box = "[0 0 " + std::string(60, '9') + " 100]";
  auto d = open_doc(test::text_pdf({"a", "b"}));
  EXPECT_FALSE(d->merge(as_bytes(test::make_pdf({unreadable})), 0));
  EXPECT_EQ(page_texts(*d), (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(d->delete_page(0));
  EXPECT_EQ(page_texts(*d), (std::vector<std::string>{"b"}));
}

// Pages a, b in a nested /Pages node whose /Count is `nested_count`, then c under the root.
std::string nested_tree_pdf(int nested_count) {
  return build_pdf({
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R 6 0 R] /Count 3 >>",
      "<< /Type /Pages /Parent 2 0 R /Kids [4 0 R 5 0 R] /Count " + std::to_string(nested_count) +
          " /MediaBox [0 0 200 200] /Resources << /Font << /F1 7 0 R >> >> >>",
      "<< /Type /Page /Parent 3 0 R /Contents 8 0 R >>",
      "<< /Type /Page /Parent 3 0 R /Contents 9 0 R >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Contents 10 0 R "
      "/Resources << /Font << /F1 7 0 R >> >> >>",
      kFont,
      stream("BT /F1 12 Tf 20 100 Td (a) Tj ET"),
      stream("BT /F1 12 Tf 20 100 Td (b) Tj ET"),
      stream("BT /F1 12 Tf 20 100 Td (c) Tj ET"),
  });
}

TEST(PageEdits, DeletionFollowsThePagesShownWhenANestedCountLies) {
  // PDFium shows a, b, c by walking the kids, but deleted by the counts: another page than the
  // one asked for, or none while reporting one gone.
  for (int nested_count : {1, 5, 0, -2}) {
    SCOPED_TRACE(nested_count);
    for (int page = 0; page < 3; ++page) {
      SCOPED_TRACE(page);
      auto d = open_doc(nested_tree_pdf(nested_count));
      ASSERT_NE(d, nullptr);
      ASSERT_EQ(page_texts(*d), (std::vector<std::string>{"a", "b", "c"}));
      ASSERT_TRUE(d->delete_page(page));
      std::vector<std::string> left{"a", "b", "c"};
      left.erase(left.begin() + page);
      EXPECT_EQ(page_texts(*d), left);
      // Inherited boxes and resources stay with the pages left.
      EXPECT_DOUBLE_EQ(d->page_info(0).width, 200);
      test::TempDir dir;
      ASSERT_TRUE(d->save_as(dir.file("s.pdf"), {}));
      EXPECT_EQ(qpdf_check(dir.file("s.pdf")), "");
      EXPECT_EQ(page_texts(*open_doc(test::read_file(dir.file("s.pdf")))), left);
      ASSERT_TRUE(d->delete_page(0));
      EXPECT_EQ(d->page_count(), 1);
    }
  }
}

}  // namespace
