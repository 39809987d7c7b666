// The page cache holds a bounded number of pages: form input and edits must outlive pages
// being closed and loaded again.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "core/pdfium/pdfium_document.h"
#include "test_edit_support.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

constexpr int kPages = 120;

// kPages pages of 300 x 300; page 1 holds text and an image, page 3 a text field; the rest
// are blank.
std::string many_pages_pdf() {
  std::vector<std::string> objs{
      "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [7 0 R] /DA (/Helv 24 Tf 0 g) "
      "/DR << /Font << /Helv 3 0 R >> >> >> >>",
      "",
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
      image_object(),
      stream_object("BT /F1 24 Tf 40 200 Td (secret words) Tj ET q 50 0 0 40 150 50 cm /Im1 Do Q"),
      stream_object(""),
      "<< /Type /Annot /Subtype /Widget /FT /Tx /T (name) /Rect [20 100 280 140] /P 11 0 R "
      "/DA (/Helv 24 Tf 0 g) /F 4 >>",
  };
  const int first = static_cast<int>(objs.size()) + 1;
  std::string kids;
  for (int i = 0; i < kPages; ++i) {
    kids += std::to_string(first + i) + " 0 R ";
    objs.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 300] "
                   "/Resources << /Font << /F1 3 0 R >> /XObject << /Im1 4 0 R >> >> /Contents " +
                   std::string(i == 1 ? "5" : "6") + " 0 R" + (i == 3 ? " /Annots [7 0 R]" : "") + " >>");
  }
  objs[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(kPages) + " >>";
  return build_pdf(objs);
}

RenderedTile full_page(IDocument& doc, int page, double scale) {
  const PageInfo info = doc.page_info(page);
  const bool odd = (info.rotation / 90) % 2 == 1;
  const double w = odd ? info.height : info.width, h = odd ? info.width : info.height;
  return doc.render_tile(page, {scale, 0, 0, static_cast<int>(std::lround(w * scale)),
                                static_cast<int>(std::lround(h * scale)), 0});
}

// Renders every page except `skip`, as a scroll through the document does.
void render_all_but(IDocument& doc, int skip) {
  for (int p = 0; p < doc.page_count(); ++p) {
    if (p == skip) continue;
    ASSERT_FALSE(full_page(doc, p, 0.2).pixels.empty()) << p;
  }
}

int dark_pixels(const RenderedTile& t) {
  int n = 0;
  for (size_t i = 0; i + 3 < t.pixels.size(); i += 4) n += t.pixels[i] < 128 && t.pixels[i + 1] < 128 && t.pixels[i + 2] < 128;
  return n;
}

size_t open_pages(IDocument& doc) { return dynamic_cast<pdfium::PdfiumDocument&>(doc).open_pages(); }

void type(IDocument& doc, const std::string& text) {
  for (char c : text) doc.form_char(static_cast<unsigned char>(c));
}

TEST(PageCache, FieldKeepsFocusAndInputWhileOtherPagesComeAndGo) {
  const std::string pdf = many_pages_pdf();
  // The field's box at scale 1, in tile pixels.
  const RenderRequest field{1.0, 20, 160, 260, 40, 0};

  auto reference = open_pdf(pdf);
  ASSERT_TRUE(reference && reference->has_form());
  reference->form_click(3, 150, 120, true);
  reference->form_click(3, 150, 120, false);
  type(*reference, "WWWW");
  const RenderedTile expected = reference->render_tile(3, field);

  auto doc = open_pdf(pdf);
  doc->form_click(3, 150, 120, true);
  doc->form_click(3, 150, 120, false);
  type(*doc, "WW");
  render_all_but(*doc, 3);
  EXPECT_LE(open_pages(*doc), 32u);
  // The second half goes into the same field, after the first.
  type(*doc, "WW");
  const RenderedTile got = doc->render_tile(3, field);
  ASSERT_EQ(got.pixels.size(), expected.pixels.size());
  EXPECT_TRUE(got.pixels == expected.pixels);

  // Once the form page is another one, the field's page may close; its value stays.
  doc->form_click(50, 10, 10, true);
  doc->form_click(50, 10, 10, false);
  render_all_but(*doc, 3);
  EXPECT_LE(open_pages(*doc), 32u);
  EXPECT_GT(dark_pixels(doc->render_tile(3, field)), 0);
}

TEST(PageCache, EditedPageClosedAndLoadedAgainShowsTheEdit) {
  const std::vector<uint8_t> black{0, 0, 0, 255};
  const struct {
    const char* name;
    std::function<bool(IDocument&)> edit;
  } table[] = {
      {"insert text", [](IDocument& d) { return !have_dejavu() || d.insert_text(1, "typed", 40, 120, 20, 0); }},
      {"stamp", [](IDocument& d) { return d.stamp_text(1, "STAMP", 30, 255, 0, 0, 255, 40, 250, 0); }},
      {"place image", [&](IDocument& d) { return d.place_image(1, black.data(), 1, 1, 200, 200, 260, 260); }},
      {"delete image",
       [](IDocument& d) {
         const auto images = d.list_images(1);
         return images.size() == 1 && d.delete_image(1, images[0].index);
       }},
      {"redact", [](IDocument& d) { return d.redact(1, {{30, 190, 290, 230}}) > 0; }},
      {"replace text", [](IDocument& d) { return d.replace_text(1, "secret", "public") > 0; }},
      {"rotate", [](IDocument& d) { return d.rotate_page(1, 1); }},
      {"crop", [](IDocument& d) { return d.crop_page(1, 0, 0, 200, 150); }},
  };
  const std::string pdf = many_pages_pdf();
  for (const auto& row : table) {
    auto doc = open_pdf(pdf);
    ASSERT_TRUE(doc) << row.name;
    const RenderedTile before = full_page(*doc, 1, 1.0);
    ASSERT_TRUE(row.edit(*doc)) << row.name;
    const RenderedTile edited = full_page(*doc, 1, 1.0);
    const PageInfo shape = doc->page_info(1);
    if (std::string(row.name) != "insert text" || have_dejavu()) {
      EXPECT_FALSE(edited.width == before.width && edited.pixels == before.pixels) << row.name;
    }
    render_all_but(*doc, 1);
    EXPECT_LE(open_pages(*doc), 32u) << row.name;
    const PageInfo reloaded_shape = doc->page_info(1);
    EXPECT_EQ(reloaded_shape.rotation, shape.rotation) << row.name;
    EXPECT_EQ(reloaded_shape.width, shape.width) << row.name;
    EXPECT_EQ(reloaded_shape.height, shape.height) << row.name;
    const RenderedTile reloaded = full_page(*doc, 1, 1.0);
    EXPECT_EQ(reloaded.width, edited.width) << row.name;
    EXPECT_EQ(reloaded.height, edited.height) << row.name;
    EXPECT_TRUE(reloaded.pixels == edited.pixels) << row.name;
  }
}

}  // namespace
