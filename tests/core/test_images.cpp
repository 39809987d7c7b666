// Images on a page, the invisible text layer and stamped text.
#include <climits>
#include <cmath>
#include <limits>
#include <filesystem>

#include <gtest/gtest.h>

#include "core/pdfium/pdfium_fonts.h"
#include "test_edit_support.h"

using namespace quorvel;
using namespace quorvel::test;
using ImageRef = IDocument::ImageRef;

namespace {

const char* const kCyrillic = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82";  // Привет

// A text object, then two images: objects 0, 1 and 2.
std::string text_and_two_images() {
  return multi_stream_pdf({"BT /F1 12 Tf 72 720 Td (caption) Tj ET "
                           "q 50 0 0 40 100 100 cm /Im1 Do Q q 20 0 0 30 300 300 cm /Im1 Do Q"},
                          true);
}

void expect_box(const ImageRef& r, double l, double b, double rt, double t) {
  EXPECT_NEAR(r.left, l, 0.01);
  EXPECT_NEAR(r.bottom, b, 0.01);
  EXPECT_NEAR(r.right, rt, 0.01);
  EXPECT_NEAR(r.top, t, 0.01);
}

std::vector<uint8_t> bgra(std::initializer_list<uint32_t> argb) {
  std::vector<uint8_t> out;
  for (uint32_t c : argb) {
    out.push_back(c & 0xFF);
    out.push_back((c >> 8) & 0xFF);
    out.push_back((c >> 16) & 0xFF);
    out.push_back(c >> 24);
  }
  return out;
}

bool is_colour(const uint8_t* p, int r, int g, int b) {
  return std::abs(p[0] - r) < 30 && std::abs(p[1] - g) < 30 && std::abs(p[2] - b) < 30;
}

// Character boxes of the page's text, in order.
std::vector<CharBox> chars_of(const IDocument& doc, int page) {
  std::vector<CharBox> out;
  for (const TextRun& r : doc.extract_text(page).runs) out.insert(out.end(), r.chars.begin(), r.chars.end());
  return out;
}

}  // namespace

TEST(Images, ListAndDeleteByObjectIndex) {
  TempDir dir;
  auto doc = open_pdf(text_and_two_images());
  ASSERT_TRUE(doc);
  std::vector<ImageRef> imgs = doc->list_images(0);
  ASSERT_EQ(imgs.size(), 2u);
  EXPECT_EQ(imgs[0].index, 1);
  EXPECT_EQ(imgs[1].index, 2);
  expect_box(imgs[0], 100, 100, 150, 140);
  expect_box(imgs[1], 300, 300, 320, 330);

  EXPECT_FALSE(doc->delete_image(0, 0));  // the text object
  EXPECT_FALSE(doc->delete_image(0, 3));
  EXPECT_FALSE(doc->delete_image(0, -1));
  EXPECT_FALSE(doc->delete_image(1, 1));
  EXPECT_EQ(doc->list_images(0).size(), 2u);

  ASSERT_TRUE(doc->delete_image(0, 1));
  imgs = doc->list_images(0);
  ASSERT_EQ(imgs.size(), 1u);
  EXPECT_EQ(imgs[0].index, 1);
  expect_box(imgs[0], 300, 300, 320, 330);
  EXPECT_EQ(page_text(*doc, 0), "caption");

  ASSERT_TRUE(doc->save_as(dir.file("out.pdf"), {}));
  EXPECT_TRUE(qpdf_check(dir.file("out.pdf")));
  auto copy = open_file(dir.file("out.pdf"));
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->list_images(0).size(), 1u);
  EXPECT_TRUE(doc->list_images(5).empty());
}

TEST(Images, ADeletedImageLeavesTheFile) {
  TempDir dir;
  auto doc = open_pdf(multi_stream_pdf({"q 50 0 0 40 100 100 cm /Im1 Do Q"}, true));
  ASSERT_TRUE(doc);
  ASSERT_TRUE(doc->delete_image(0, 0));
  ASSERT_TRUE(doc->save_as(dir.file("out.pdf"), {}));
  const std::string qdf = qdf_text(dir.file("out.pdf"));
  ASSERT_FALSE(qdf.empty());
  EXPECT_EQ(qdf.find("/Image"), std::string::npos);
}

TEST(Images, PagesSharingResourcesKeepTheirImages) {
  TempDir dir;
  // Both pages draw /Im1 from one resource dictionary; only page 0 loses its image.
  const std::string draw = "q 50 0 0 50 100 100 cm /Im1 Do Q";
  auto doc = open_pdf(build_pdf({
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 /Resources 5 0 R /MediaBox [0 0 612 792] >>",
      "<< /Type /Page /Parent 2 0 R /Contents 7 0 R >>",
      "<< /Type /Page /Parent 2 0 R /Contents 8 0 R >>",
      "<< /XObject << /Im1 6 0 R >> >>",
      image_object(),
      stream_object(draw),
      stream_object(draw),
  }));
  ASSERT_TRUE(doc);
  ASSERT_TRUE(doc->delete_image(0, 0));
  ASSERT_TRUE(doc->save_as(dir.file("out.pdf"), {}));
  EXPECT_TRUE(qpdf_check(dir.file("out.pdf")));
  auto copy = open_file(dir.file("out.pdf"));
  ASSERT_TRUE(copy);
  EXPECT_TRUE(copy->list_images(0).empty());
  ASSERT_EQ(copy->list_images(1).size(), 1u);
  EXPECT_GT(render_poppler(dir.file("out.pdf"), 1).inked(100, 100, 150, 150), 2000);
}

TEST(Images, BoundsAreInPageSpace) {
  auto doc = open_pdf(build_pdf({
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /CropBox [50 50 600 780] "
      "/Resources << /XObject << /Im1 4 0 R >> >> /Contents 5 0 R >>",
      image_object(),
      stream_object("q 50 0 0 40 100 100 cm /Im1 Do Q q 20 0 0 30 300 300 cm /Im1 Do Q"),
  }));
  ASSERT_TRUE(doc);
  const std::vector<ImageRef> imgs = doc->list_images(0);
  ASSERT_EQ(imgs.size(), 2u);
  expect_box(imgs[0], 50, 50, 100, 90);
  ASSERT_TRUE(doc->place_image(0, bgra({0xFF000000}).data(), 1, 1, 10, 10, 20, 20));
  expect_box(doc->list_images(0).back(), 10, 10, 20, 20);
}

TEST(Images, PlaceFillsTheBoxWhicheverCornersCome) {
  struct Case {
    double x0, y0, x1, y1;
  } cases[] = {{100, 200, 300, 300}, {300, 300, 100, 200}, {300, 200, 100, 300}};
  // Two pixels, first row on top: red above blue.
  const std::vector<uint8_t> px = bgra({0xFFFF0000, 0xFF0000FF});
  for (const Case& c : cases) {
    auto doc = open_pdf(make_pdf({PageSpec{}}));
    ASSERT_TRUE(doc);
    ASSERT_TRUE(doc->place_image(0, px.data(), 1, 2, c.x0, c.y0, c.x1, c.y1));
    const std::vector<ImageRef> imgs = doc->list_images(0);
    ASSERT_EQ(imgs.size(), 1u);
    expect_box(imgs[0], 100, 200, 300, 300);
    const Raster r = render_pdfium(*doc, 0);
    EXPECT_TRUE(is_colour(r.at(200, 290), 255, 0, 0));
    EXPECT_TRUE(is_colour(r.at(200, 210), 0, 0, 255));
    EXPECT_TRUE(is_colour(r.at(200, 310), 255, 255, 255));
  }
}

TEST(Images, PlaceStretchesAndKeepsStraightAlpha) {
  TempDir dir;
  auto doc = open_pdf(make_pdf({PageSpec{}}));
  ASSERT_TRUE(doc);
  // Opaque green beside a fully transparent pixel whose colour channels must not show.
  const std::vector<uint8_t> px = bgra({0xFF00FF00, 0x00FF0000});
  ASSERT_TRUE(doc->place_image(0, px.data(), 2, 1, 0, 0, 100, 50));
  expect_box(doc->list_images(0).at(0), 0, 0, 100, 50);
  ASSERT_TRUE(doc->save_as(dir.file("out.pdf"), {}));
  EXPECT_TRUE(qpdf_check(dir.file("out.pdf")));
  for (const Raster& r : {render_pdfium(*open_file(dir.file("out.pdf")), 0), render_poppler(dir.file("out.pdf"), 0)}) {
    ASSERT_GT(r.width, 0);
    EXPECT_TRUE(is_colour(r.at(25, 25), 0, 255, 0));
    EXPECT_TRUE(is_colour(r.at(75, 25), 255, 255, 255));
  }
}

TEST(Images, PlaceRefusesBadInput) {
  auto doc = open_pdf(make_pdf({PageSpec{}}));
  ASSERT_TRUE(doc);
  const std::vector<uint8_t> px = bgra({0xFF000000, 0xFF000000});
  EXPECT_FALSE(doc->place_image(0, px.data(), 2, 0, 0, 0, 10, 10));
  EXPECT_FALSE(doc->place_image(0, px.data(), 0, 1, 0, 0, 10, 10));
  EXPECT_FALSE(doc->place_image(0, px.data(), -2, -1, 0, 0, 10, 10));
  EXPECT_FALSE(doc->place_image(0, nullptr, 2, 1, 0, 0, 10, 10));
  EXPECT_FALSE(doc->place_image(1, px.data(), 2, 1, 0, 0, 10, 10));
  EXPECT_FALSE(doc->place_image(0, px.data(), 2, 1, 0, 0, std::numeric_limits<double>::infinity(), 10));
  // Sizes whose byte count is absurd are refused before a single pixel is read.
  EXPECT_FALSE(doc->place_image(0, px.data(), INT_MAX, 1, 0, 0, 10, 10));
  EXPECT_FALSE(doc->place_image(0, px.data(), INT_MAX / 4, INT_MAX, 0, 0, 10, 10));
  EXPECT_FALSE(doc->place_image(0, px.data(), 1 << 20, 1 << 20, 0, 0, 10, 10));
  EXPECT_TRUE(doc->list_images(0).empty());
}

TEST(TextLayer, InvisibleWordsThatReadBack) {
  TempDir dir;
  auto doc = open_pdf(make_pdf({PageSpec{}}));
  ASSERT_TRUE(doc);
  const std::vector<TextSpan> words{
      {"tall", 100, 700, 200, 730}, {"", 100, 600, 200, 620}, {"flat", 300, 400.25, 350, 400}, {"tell", 100, 500, 200, 510}};
  EXPECT_EQ(doc->add_text_layer(0, words), 3);
  EXPECT_EQ(doc->add_text_layer(0, {}), 0);
  EXPECT_EQ(doc->add_text_layer(3, words), 0);
  EXPECT_EQ(render_pdfium(*doc, 0).inked(0, 0, 612, 792), 0);

  const std::vector<CharBox> c = chars_of(*doc, 0);
  ASSERT_GE(c.size(), 11u);
  auto height_of = [&](double y_near) {  // tallest glyph of the word on that baseline
    double h = 0;
    for (const CharBox& b : c) {
      if (std::min(b.bottom, b.top) < y_near + 0.5 && std::max(b.bottom, b.top) > y_near + 0.5)
        h = std::max(h, std::fabs(b.top - b.bottom));
    }
    return h;
  };
  // The 0.5-point box gets size 10, like the 10-point box; the 30-point box is three times that.
  EXPECT_NEAR(height_of(400), height_of(500), 0.5);
  EXPECT_NEAR(height_of(700), 3 * height_of(500), 2.0);
  // Baselines start at the boxes' lower-left corners.
  for (const CharBox& b : c) {
    if (std::fabs(std::min(b.bottom, b.top) - 400) < 5) {
      EXPECT_GE(b.left, 299.5);
    }
  }

  ASSERT_TRUE(doc->save_as(dir.file("out.pdf"), {}));
  auto copy = open_file(dir.file("out.pdf"));
  ASSERT_TRUE(copy);
  const std::string text = page_text(*copy, 0);
  for (const char* w : {"tall", "flat", "tell"}) EXPECT_NE(text.find(w), std::string::npos) << text;
  EXPECT_EQ(render_poppler(dir.file("out.pdf"), 0).inked(0, 0, 612, 792), 0);
}

// The layer's own font encodes every character: no font file is needed for Cyrillic.
TEST(TextLayer, CyrillicNeedsNoFontFile) {
  TempDir dir;
  FontPaths none({dir.file("missing.ttf")});
  auto doc = open_pdf(make_pdf({PageSpec{}}));
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->add_text_layer(0, {{kCyrillic, 100, 700, 200, 712}, {"latin", 100, 600, 200, 612}}), 2);
  ASSERT_TRUE(doc->save_as(dir.file("out.pdf"), {}));
  EXPECT_TRUE(qpdf_check(dir.file("out.pdf")));
  auto copy = open_file(dir.file("out.pdf"));
  ASSERT_TRUE(copy);
  EXPECT_NE(page_text(*copy, 0).find(kCyrillic), std::string::npos);
  EXPECT_NE(pdftotext(dir.file("out.pdf")).find(kCyrillic), std::string::npos);
}

TEST(StampText, RunsAlongTheAngle) {
  auto doc = open_pdf(make_pdf({PageSpec{}, PageSpec{}}));
  ASSERT_TRUE(doc);
  ASSERT_TRUE(doc->stamp_text(0, "HHHH", 20, 0, 0, 0, 255, 100, 200, 0));
  ASSERT_TRUE(doc->stamp_text(1, "HHHH", 20, 0, 0, 0, 255, 300, 100, 90));

  const std::vector<CharBox> flat = chars_of(*doc, 0);
  ASSERT_EQ(flat.size(), 4u);
  EXPECT_NEAR(std::min(flat[0].bottom, flat[0].top), 200, 1.0);  // H sits on the baseline
  EXPECT_NEAR(flat[0].left, 100, 2.5);
  for (size_t i = 1; i < flat.size(); ++i) {
    EXPECT_GT(flat[i].left, flat[i - 1].left + 5);
    EXPECT_NEAR(flat[i].bottom, flat[0].bottom, 0.01);
  }

  const std::vector<CharBox> up = chars_of(*doc, 1);
  ASSERT_EQ(up.size(), 4u);
  for (size_t i = 0; i < up.size(); ++i) {
    // Turned counter-clockwise: glyphs lie left of x = 300 and climb from y = 100.
    EXPECT_LE(std::max(up[i].left, up[i].right), 300.5);
    EXPECT_GE(std::min(up[i].left, up[i].right), 280);
    if (i > 0) {
      EXPECT_GT(std::min(up[i].bottom, up[i].top), std::min(up[i - 1].bottom, up[i - 1].top) + 5);
    }
  }
  EXPECT_NEAR(std::min(up[0].bottom, up[0].top), 100, 2.5);
}

TEST(StampText, ColourAlphaAndRefusals) {
  TempDir dir;
  auto doc = open_pdf(make_pdf({PageSpec{}}));
  ASSERT_TRUE(doc);
  EXPECT_FALSE(doc->stamp_text(0, "", 12, 0, 0, 0, 255, 10, 10, 0));
  EXPECT_FALSE(doc->stamp_text(1, "x", 12, 0, 0, 0, 255, 10, 10, 0));
  EXPECT_FALSE(doc->stamp_text(0, "x", 12, 0, 0, 0, 255, 10, std::numeric_limits<double>::quiet_NaN(), 0));
  const bool block = have_dejavu();  // the full block needs the TrueType font
  if (block) {
    ASSERT_TRUE(doc->stamp_text(0, "\xE2\x96\x88\xE2\x96\x88", 60, 255, 0, 0, 255, 100, 100, 0));
  }
  ASSERT_TRUE(doc->stamp_text(0, "MMMM", 60, 0, 0, 255, 128, 100, 400, 0));
  ASSERT_TRUE(doc->save_as(dir.file("out.pdf"), {}));
  for (const Raster& r : {render_pdfium(*open_file(dir.file("out.pdf")), 0), render_poppler(dir.file("out.pdf"), 0)}) {
    ASSERT_GT(r.width, 0);
    if (block) {
      EXPECT_TRUE(is_colour(r.at(115, 125), 255, 0, 0));  // inside the full block
    }
    // Half-transparent blue over white.
    int half = 0;
    for (int x = 100; x < 300; ++x) half += is_colour(r.at(x, 420), 128, 128, 255);
    EXPECT_GT(half, 20);
  }
}

TEST(StampText, CyrillicReadsBackAfterReopening) {
  if (!have_dejavu()) GTEST_SKIP() << "no DejaVu font";
  TempDir dir;
  auto doc = open_pdf(make_pdf({PageSpec{}}));
  ASSERT_TRUE(doc);
  ASSERT_TRUE(doc->stamp_text(0, kCyrillic, 14, 0, 0, 0, 255, 72, 72, 0));
  ASSERT_TRUE(doc->save_as(dir.file("out.pdf"), {}));
  EXPECT_TRUE(qpdf_check(dir.file("out.pdf")));
  auto copy = open_file(dir.file("out.pdf"));
  ASSERT_TRUE(copy);
  EXPECT_EQ(page_text(*copy, 0), kCyrillic);
  {
    FontPaths none({dir.file("missing.ttf")});
    auto other = open_pdf(make_pdf({PageSpec{}}));
    ASSERT_TRUE(other);
    EXPECT_FALSE(other->stamp_text(0, kCyrillic, 14, 0, 0, 0, 255, 72, 72, 0));
  }
}
