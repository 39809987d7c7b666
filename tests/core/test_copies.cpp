// Copies, page ranges, parts and N-up sheets written from the document's own file: what they
// cost (the file is read once, and never saved whole while unchanged), that they keep its size,
// and that no edit of the open document is left out of them.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/fixtures.h"
#include "common/manual_like.h"
#include "core/pdfium/pdfium_document.h"
#include "core/pdfium/qpdf_bridge.h"
#include "test_edit_support.h"

namespace fs = std::filesystem;
using namespace quorvel;
using namespace quorvel::test;

namespace {

const std::string& small_manual() {
  static const std::string pdf = manual_like_pdf({120, 150, true});
  return pdf;
}

// What a reader sees of a document: per page its shape, text and images.
struct Page {
  PageInfo info;
  std::string text;
  size_t images = 0;
  bool operator==(const Page& o) const {
    return info.width == o.info.width && info.height == o.info.height && info.rotation == o.info.rotation &&
           text == o.text && images == o.images;
  }
};
std::vector<Page> seen(IDocument& d) {
  std::vector<Page> pages;
  for (int i = 0; i < d.page_count(); ++i) pages.push_back({d.page_info(i), page_text(d, i), d.list_images(i).size()});
  return pages;
}

}  // namespace

TEST(Copies, NothingAddedKeepsTheFilesSize) {
  const std::string& input = small_manual();
  ASSERT_FALSE(input.empty());
  ASSERT_NE(input.find("/ObjStm"), std::string::npos);
  const struct {
    const char* name;
    std::function<bool(IDocument&)> edit;
  } table[] = {
      {"unchanged", [](IDocument&) { return true; }},
      {"a page turned", [](IDocument& d) { return d.rotate_page(3, 1); }},
      {"a page cropped", [](IDocument& d) { return d.crop_page(5, 10, 10, 500, 700); }},
      {"a page moved", [](IDocument& d) { return d.move_page(0, 7); }},
      {"turned, then moved", [](IDocument& d) { return d.rotate_page(3, 1) && d.move_page(0, 7); }},
  };
  TempDir dir;
  for (const auto& row : table) {
    auto doc = open_pdf(input);
    ASSERT_NE(doc, nullptr);
    ASSERT_TRUE(row.edit(*doc)) << row.name;
    ASSERT_TRUE(doc->save_as(dir.file("copy.pdf"), {})) << row.name;
    EXPECT_LE(fs::file_size(dir.file("copy.pdf")), input.size() * 11 / 10) << row.name;
    EXPECT_TRUE(qpdf_check(dir.file("copy.pdf"))) << row.name;
  }
  // Nothing changed: the copy is the file.
  auto doc = open_pdf(input);
  ASSERT_TRUE(doc->save_as(dir.file("same.pdf"), {}));
  EXPECT_TRUE(read_file(dir.file("same.pdf")) == input);
}

// The copies start from the file's bytes only while nothing changed the document: every kind of
// edit must show in the saved copy and in a range of all pages as it shows in the document.
TEST(Copies, EveryEditReachesEveryCopy) {
  const std::vector<uint8_t> red{0, 0, 255, 255};
  const struct {
    const char* name;
    std::function<bool(IDocument&)> edit;
  } table[] = {
      {"turn", [](IDocument& d) { return d.rotate_page(1, 1); }},
      {"crop", [](IDocument& d) { return d.crop_page(0, 10, 10, 300, 300); }},
      {"blank page", [](IDocument& d) { return d.insert_blank_page(1, 200, 200); }},
      {"deleted page", [](IDocument& d) { return d.delete_page(0); }},
      {"stamp", [](IDocument& d) { return d.stamp_text(0, "STAMPED", 20, 0, 0, 0, 255, 100, 100, 0); }},
      {"image", [&](IDocument& d) { return d.place_image(0, red.data(), 1, 1, 10, 10, 50, 50); }},
      {"inserted text", [](IDocument& d) { return d.insert_text(1, "INSERTED", 72, 100, 12, 0); }},
      {"replaced text", [](IDocument& d) { return d.replace_text(2, "three", "THREE") > 0; }},
      {"merged file", [](IDocument& d) { return d.merge(as_bytes(text_pdf({"four"})), -1); }},
      {"turn, then a page moved", [](IDocument& d) { return d.rotate_page(1, 1) && d.move_page(2, 0); }},
  };
  TempDir dir;
  for (const auto& row : table) {
    SCOPED_TRACE(row.name);
    auto doc = open_pdf(text_pdf({"one", "two", "three"}));
    ASSERT_TRUE(row.edit(*doc));
    const std::vector<Page> want = seen(*doc);
    ASSERT_TRUE(doc->save_as(dir.file("copy.pdf"), {}));
    ASSERT_TRUE(doc->save_range(dir.file("range.pdf"), 0, doc->page_count() - 1));
    for (const char* name : {"copy.pdf", "range.pdf"}) {
      auto copy = open_file(dir.file(name));
      ASSERT_NE(copy, nullptr) << name;
      EXPECT_TRUE(seen(*copy) == want) << name;
    }
  }

  // Typing into a field changes the document too.
  auto form = open_pdf(one_field_form_pdf());
  ASSERT_TRUE(form && form->has_form());
  type_into_field(*form, "abc");
  ASSERT_TRUE(form->save_as(dir.file("form.pdf"), {}));
  EXPECT_NE(qdf_text(dir.file("form.pdf")).find("/V (abc)"), std::string::npos);
}

TEST(Copies, RangesReadTheFileOnceAndNeverSaveItWhole) {
  const std::string& input = small_manual();
  auto doc = open_pdf(input);
  ASSERT_NE(doc, nullptr);
  TempDir dir;
  const size_t reads = qpdf_bridge::documents_read(), saves = pdfium::whole_saves();
  ASSERT_TRUE(doc->save_range(dir.file("range.pdf"), 40, 49));
  EXPECT_EQ(qpdf_bridge::documents_read() - reads, 1u);
  EXPECT_EQ(pdfium::whole_saves() - saves, 0u);
  auto range = open_file(dir.file("range.pdf"));
  ASSERT_NE(range, nullptr);
  EXPECT_EQ(range->page_count(), 10);
  EXPECT_EQ(page_text(*range, 0).substr(0, 5), "41.1 ");

  std::vector<PageRangeFile> parts;
  for (int k = 0; k < 12; ++k) parts.push_back({dir.file("part" + std::to_string(k) + ".pdf"), 10 * k, 10 * k + 9});
  const size_t reads_before_split = qpdf_bridge::documents_read();
  const std::vector<bool> written = doc->save_ranges(parts);
  EXPECT_EQ(qpdf_bridge::documents_read() - reads_before_split, 1u);
  EXPECT_EQ(pdfium::whole_saves() - saves, 0u);
  EXPECT_EQ(written, std::vector<bool>(12, true));
  for (int k = 0; k < 12; ++k) {
    auto part = open_file(parts[static_cast<size_t>(k)].path);
    ASSERT_NE(part, nullptr) << k;
    EXPECT_EQ(part->page_count(), 10) << k;
    EXPECT_EQ(page_text(*part, 0).substr(0, std::to_string(10 * k + 1).size() + 2), std::to_string(10 * k + 1) + ".1")
        << k;
  }
  // Each part is as small as its pages: far below the whole file.
  EXPECT_LT(fs::file_size(parts[0].path) * 4, input.size());

  // Once the document differs from its file, the parts come from one save of it.
  ASSERT_TRUE(doc->rotate_page(0, 1));
  const std::vector<bool> after = doc->save_ranges({parts[0], parts[1]});
  EXPECT_EQ(after, (std::vector<bool>{true, true}));
  EXPECT_EQ(pdfium::whole_saves() - saves, 1u);
  EXPECT_EQ(open_file(parts[0].path)->page_info(0).rotation, 90);
}

// A sheet shows what its pages show: filled fields and annotation appearances are drawn into
// the sheet's copy of each page, and the open document keeps its own.
TEST(Copies, NupSheetsShowFieldsAndAnnotations) {
  const std::string ap = "BT /Helv 12 Tf 2 8 Td (Filled in by hand) Tj ET";
  const std::string sig = "BT /Helv 12 Tf 2 8 Td (Signed A. Person) Tj ET";
  const std::string pdf = build_pdf({
      "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [5 0 R] /DA (/Helv 12 Tf 0 g) "
      "/DR << /Font << /Helv 3 0 R >> >> >> >>",
      "<< /Type /Pages /Kids [4 0 R] /Count 1 >>",
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Annots [5 0 R 7 0 R] /Contents 9 0 R "
      "/Resources << /Font << /F1 3 0 R >> >> >>",
      "<< /Type /Annot /Subtype /Widget /FT /Tx /T (name) /V (Filled in by hand) /Rect [100 600 400 640] "
      "/P 4 0 R /DA (/Helv 12 Tf 0 g) /F 4 /AP << /N 6 0 R >> >>",
      stream_object(ap, "/Type /XObject /Subtype /Form /BBox [0 0 300 40] /Resources << /Font << /Helv 3 0 R >> >>"),
      "<< /Type /Annot /Subtype /FreeText /Rect [100 400 400 440] /Contents (Signed A. Person) /F 4 "
      "/DA (/Helv 12 Tf 0 g) /AP << /N 8 0 R >> >>",
      stream_object(sig, "/Type /XObject /Subtype /Form /BBox [0 0 300 40] /Resources << /Font << /Helv 3 0 R >> >>"),
      stream_object("BT /F1 12 Tf 72 720 Td (Page text) Tj ET"),
  });
  TempDir dir;
  auto doc = open_pdf(pdf);
  ASSERT_NE(doc, nullptr);
  ASSERT_TRUE(doc->save_nup(dir.file("sheet.pdf"), 1, 1));
  const std::string text = pdftotext(dir.file("sheet.pdf"));
  for (const char* shown : {"Page text", "Filled in by hand", "Signed A. Person"})
    EXPECT_NE(text.find(shown), std::string::npos) << shown;
  ASSERT_TRUE(doc->save_as(dir.file("same.pdf"), {}));
  EXPECT_TRUE(read_file(dir.file("same.pdf")) == pdf);

  // A value typed through the form layer shows on the sheet as on the page.
  auto form = open_pdf(one_field_form_pdf());
  ASSERT_TRUE(form && form->has_form());
  type_into_field(*form, "typed value");
  ASSERT_TRUE(form->save_nup(dir.file("typed.pdf"), 2, 1));
  EXPECT_NE(pdftotext(dir.file("typed.pdf")).find("typed value"), std::string::npos);
}

// A rebuild through qpdf after content was taken out keeps what still names that content (a
// deleted image stays in its page's resources); the copy drops it all the same.
TEST(Copies, RemovedContentStaysOutAfterARebuild) {
  auto doc = open_pdf(multi_stream_pdf({"q 50 0 0 40 100 100 cm /Im1 Do Q"}, true));
  ASSERT_NE(doc, nullptr);
  ASSERT_TRUE(doc->delete_image(0, 0));
  ASSERT_TRUE(doc->merge(as_bytes(text_pdf({"appended"})), -1));
  TempDir dir;
  ASSERT_TRUE(doc->save_as(dir.file("out.pdf"), {}));
  const std::string qdf = qdf_text(dir.file("out.pdf"));
  ASSERT_FALSE(qdf.empty());
  EXPECT_EQ(qdf.find("/Image"), std::string::npos);
}
