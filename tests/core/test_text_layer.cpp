// The invisible text layer as readers see it: lines with spaces, each word over its box on
// pages shown turned, and the page's own content as it was; and the pixel size of images.
#include <algorithm>
#include <cmath>
#include <regex>

#include <gtest/gtest.h>

#include "test_edit_support.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

// Words of two lines in the bottom margin, in page space on a page shown as stored.
std::vector<TextSpan> two_lines() {
  return {{"alpha", 100, 40, 150, 52, 0, 3}, {"beta", 160, 40, 200, 52, 0, 3}, {"gamma", 210, 40, 280, 52, 0, 3},
          {"delta", 100, 20, 150, 32, 1, 3}, {"epsilon", 160, 20, 240, 32, 1, 3}, {"zeta", 250, 20, 290, 32, 1, 3}};
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    if (end > start && text.substr(start, end - start).find_first_not_of(" \f") != std::string::npos)
      out.push_back(text.substr(start, end - start));
  }
  return out;
}

struct ShownWord {
  std::string text;
  double left, top, right, bottom;  // points from the top left of the crop box, as shown
};

std::vector<ShownWord> shown_words(const std::string& pdf, int page) {
  std::string out;
  const std::string n = std::to_string(page + 1);
  run_program({"pdftotext", "-bbox", "-cropbox", "-f", n, "-l", n, pdf, "-"}, &out);
  static const std::regex re(R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re");
  std::vector<ShownWord> words;
  for (std::sregex_iterator it(out.begin(), out.end(), re), end; it != end; ++it) {
    const std::smatch& m = *it;
    words.push_back({m[5], std::stod(m[1]), std::stod(m[2]), std::stod(m[3]), std::stod(m[4])});
  }
  return words;
}

// A page whose own content a rewrite would damage: TJ word gaps, and a graphics state left
// saved with a transformation that must not reach the layer.
const std::string kProducerContent =
    "BT /F1 12 Tf 72 740 Td [(Untouched)-600(second)-300(line)] TJ ET\n"
    "q 0.5 0 0 0.5 20 10 cm BT /F1 12 Tf 72 740 Td (scaled) Tj ET\n";

// `pages` letter pages of that content.
std::string producer_pdf(size_t pages) {
  PageSpec page;
  page.content = kProducerContent;
  return make_pdf(std::vector<PageSpec>(pages, page));
}

}  // namespace

// Each row: the layer on two pages of a document, saved, read back by pdftotext line by line,
// with the page's own content, its rendering and its lines of text as they were.
TEST(TextLayer, LinesReadBackWithSpacesAndThePageStaysAsItWas) {
  struct Row {
    const char* what;
    std::string pdf;
    std::string password;
  };
  const std::string producer = producer_pdf(2);
  std::vector<Row> rows{{"own content", producer, ""}, {"encrypted", qpdf_encrypt(producer, "pw", "owner"), "pw"}};
  const std::string manual = read_file("/usr/share/doc/libtasn1-doc/libtasn1.pdf");
  if (!manual.empty()) rows.push_back({"TeX manual", manual, ""});
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    TempDir dir;
    ASSERT_TRUE(write_file(dir.file("in.pdf"), row.pdf));
    auto doc = open_pdf(row.pdf, row.password);
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->add_text_layer(0, two_lines()), 6);
    EXPECT_EQ(doc->add_text_layer(1, two_lines()), 6);
    // This program's own reader, in the open document.
    const std::string own = page_text(*doc, 0);
    EXPECT_NE(own.find("alpha beta gamma"), std::string::npos) << own;
    EXPECT_NE(own.find("delta epsilon zeta"), std::string::npos) << own;

    ASSERT_TRUE(doc->save_as(dir.file("out.pdf"), {}));
    if (!row.password.empty()) {
      EXPECT_FALSE(open_file(dir.file("out.pdf")));
      ASSERT_TRUE(run_program({"qpdf", "--password=pw", "--decrypt", dir.file("out.pdf"), dir.file("plain.pdf")}) == 0);
      ASSERT_TRUE(run_program({"qpdf", "--password=pw", "--decrypt", dir.file("in.pdf"), dir.file("in-plain.pdf")}) == 0);
    } else {
      std::filesystem::copy_file(dir.file("out.pdf"), dir.file("plain.pdf"));
      std::filesystem::copy_file(dir.file("in.pdf"), dir.file("in-plain.pdf"));
    }
    EXPECT_TRUE(qpdf_check(dir.file("plain.pdf")));
    for (int page : {0, 1}) {
      const std::vector<std::string> lines = lines_of(pdftotext(dir.file("plain.pdf"), page));
      for (const char* line : {"alpha beta gamma", "delta epsilon zeta"})
        EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line;
      for (const std::string& line : lines_of(pdftotext(dir.file("in-plain.pdf"), page)))
        EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line;
      const Raster before = render_poppler(dir.file("in-plain.pdf"), page), after = render_poppler(dir.file("plain.pdf"), page);
      ASSERT_GT(before.inked(0, 0, 612, 792), 100);
      EXPECT_EQ(before.rgb, after.rgb) << "page " << page;
    }
    // One font serves both pages.
    const std::string qdf = qdf_text(dir.file("plain.pdf"));
    size_t fonts = 0;
    for (size_t at = qdf.find("/FontFile2"); at != std::string::npos; at = qdf.find("/FontFile2", at + 1)) ++fonts;
    EXPECT_EQ(fonts, 1u);
    // The page's own stream is there byte for byte.
    if (row.pdf == producer) {
      EXPECT_NE(qdf.find(kProducerContent), std::string::npos);
    }
  }
}

// A word's box as another reader sees it on the page as shown: from the start of the
// recognised box to its end, its top at the box's top, on pages turned every way and with a
// crop box away from the media box's corner.
TEST(TextLayer, WordsFillTheirBoxesOnTurnedPages) {
  struct Row {
    int rotate;
    double crop;  // the crop box's offset into the media box
  };
  for (const Row& row : {Row{0, 0}, Row{90, 0}, Row{180, 25}, Row{270, 0}, Row{90, 40}}) {
    SCOPED_TRACE("rotate " + std::to_string(row.rotate) + ", crop " + std::to_string(row.crop));
    TempDir dir;
    const double W = 400, H = 600;  // page space
    PageSpec spec;
    spec.width = W + 2 * row.crop;
    spec.height = H + 2 * row.crop;
    spec.extra = "/Rotate " + std::to_string(row.rotate) + " /CropBox [" + std::to_string(row.crop) + ' ' +
                 std::to_string(row.crop) + ' ' + std::to_string(row.crop + W) + ' ' + std::to_string(row.crop + H) + ']';
    auto doc = open_pdf(make_pdf({spec}));
    ASSERT_TRUE(doc);
    // Boxes as shown (left, top, right, bottom from the top left), turned into page space.
    const bool side = row.rotate % 180 != 0;
    auto page_point = [&](double u, double v, double& x, double& y) {
      switch (row.rotate) {
        case 90: x = v, y = u; break;
        case 180: x = W - u, y = v; break;
        case 270: x = W - v, y = H - u; break;
        default: x = u, y = H - v;
      }
    };
    const std::vector<ShownWord> want{{"Recognised", 50, 100, 170, 116}, {"words", 180, 100, 250, 116}, {"here", 40, 200, 90, 210}};
    std::vector<TextSpan> words;
    for (size_t i = 0; i < want.size(); ++i) {
      TextSpan s;
      s.text = want[i].text;
      double xa, ya, xb, yb;
      page_point(want[i].left, want[i].top, xa, ya);
      page_point(want[i].right, want[i].bottom, xb, yb);
      s.x0 = std::min(xa, xb), s.x1 = std::max(xa, xb), s.y0 = std::min(ya, yb), s.y1 = std::max(ya, yb);
      s.line = i < 2 ? 0 : 1;
      words.push_back(s);
    }
    ASSERT_EQ(doc->add_text_layer(0, words), 3);
    ASSERT_TRUE(doc->save_as(dir.file("out.pdf"), {}));
    const std::vector<ShownWord> got = shown_words(dir.file("out.pdf"), 0);
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
      EXPECT_EQ(got[i].text, want[i].text);
      EXPECT_NEAR(got[i].left, want[i].left, 0.5) << want[i].text;
      EXPECT_NEAR(got[i].right, want[i].right, 0.5) << want[i].text;
      EXPECT_NEAR(got[i].top, want[i].top, 0.5) << want[i].text;
      EXPECT_GE(got[i].bottom, want[i].bottom) << want[i].text;
    }
    // This program's selection boxes cover the same box along the line.
    double lo = 1e9, hi = -1e9;
    for (const TextRun& run : doc->extract_text(0).runs) {
      if (run.text.rfind("Recognised", 0) != 0) continue;
      for (const CharBox& c : run.chars) {
        if (c.offset >= 10) continue;
        lo = std::min(lo, side ? std::min(c.top, c.bottom) : c.left);
        hi = std::max(hi, side ? std::max(c.top, c.bottom) : c.right);
      }
    }
    EXPECT_NEAR(hi - lo, want[0].right - want[0].left, 0.5);
  }
}

// The layers of many pages in one rewrite make the copy that one call per page makes: the same
// text for this program's reader and for pdftotext, the same rendering, one font. Entries that
// add nothing give 0 and take nothing from the others.
TEST(TextLayer, ManyPagesAtOnceMakeTheCopyOfOnePageAtATime) {
  struct Row {
    const char* what;
    std::string pdf;
    std::string password;
    std::vector<int> pages;
  };
  const std::string producer = producer_pdf(3);
  std::vector<Row> rows{{"own content", producer, "", {0, 2, 1}},
                        {"encrypted", qpdf_encrypt(producer, "pw", "owner"), "pw", {1, 2}}};
  const std::string manual = read_file("/usr/share/doc/libtasn1-doc/libtasn1.pdf");
  if (!manual.empty()) rows.push_back({"TeX manual", manual, "", {0, 3, 5, 35}});
  // Each page's words differ, so that a layer written on the wrong page shows.
  auto words_of = [](int page) {
    std::vector<TextSpan> words = two_lines();
    words[0].text = "page" + std::to_string(page);
    return words;
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    TempDir dir;
    auto one = open_pdf(row.pdf, row.password), many = open_pdf(row.pdf, row.password);
    ASSERT_TRUE(one && many);
    std::vector<std::pair<int, std::vector<TextSpan>>> entries;
    std::vector<int> expected;
    for (int page : row.pages) {
      expected.push_back(one->add_text_layer(page, words_of(page)));
      entries.emplace_back(page, words_of(page));
    }
    // Nothing to add, and a page the document does not have.
    entries.emplace_back(row.pages.front(), std::vector<TextSpan>{});
    entries.emplace_back(one->page_count(), words_of(0));
    expected.insert(expected.end(), {0, 0});
    EXPECT_EQ(many->add_text_layers(entries), expected);
    EXPECT_EQ(expected.front(), 6);

    ASSERT_TRUE(one->save_as(dir.file("one.pdf"), {}));
    ASSERT_TRUE(many->save_as(dir.file("many.pdf"), {}));
    for (const char* name : {"one", "many"}) {
      const std::string file = dir.file(std::string(name) + ".pdf");
      if (row.password.empty()) {
        std::filesystem::copy_file(file, dir.file(std::string(name) + "-plain.pdf"));
      } else {
        ASSERT_EQ(run_program({"qpdf", "--password=pw", "--decrypt", file, dir.file(std::string(name) + "-plain.pdf")}), 0);
      }
    }
    const std::string a = dir.file("one-plain.pdf"), b = dir.file("many-plain.pdf");
    EXPECT_TRUE(qpdf_check(b));
    for (int page = 0; page < one->page_count(); ++page) {
      SCOPED_TRACE("page " + std::to_string(page));
      EXPECT_EQ(page_text(*many, page), page_text(*one, page));
      EXPECT_EQ(pdftotext(b, page), pdftotext(a, page));
      EXPECT_EQ(render_poppler(b, page).rgb, render_poppler(a, page).rgb);
    }
    EXPECT_NE(page_text(*many, row.pages.back()).find("page" + std::to_string(row.pages.back())), std::string::npos);
    const std::string qdf = qdf_text(b);
    size_t fonts = 0;
    for (size_t at = qdf.find("/FontFile2"); at != std::string::npos; at = qdf.find("/FontFile2", at + 1)) ++fonts;
    EXPECT_EQ(fonts, 1u);
  }
}

TEST(TextLayer, WhiteSpaceIsNoWord) {
  auto doc = open_pdf(producer_pdf(1));
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->add_text_layer(0, {{" ", 10, 10, 50, 20}, {"\t\n", 10, 30, 50, 40}, {"\xC2\xA0", 10, 50, 50, 60}}), 0);
  EXPECT_EQ(page_text(*doc, 0).find("alpha"), std::string::npos);
  EXPECT_EQ(doc->add_text_layer(0, {{" ", 10, 10, 50, 20}, {"alpha", 100, 100, 150, 112}}), 1);
  EXPECT_NE(page_text(*doc, 0).find("alpha"), std::string::npos);
}

TEST(Images, PixelSizeOfAnImage) {
  auto doc = open_pdf(multi_stream_pdf({"BT /F1 12 Tf 72 720 Td (caption) Tj ET q 50 0 0 40 100 100 cm /Im1 Do Q"}, true));
  ASSERT_TRUE(doc);
  const std::vector<IDocument::ImageRef> images = doc->list_images(0);
  ASSERT_EQ(images.size(), 1u);
  int w = 0, h = 0;
  EXPECT_TRUE(doc->image_pixel_size(0, images[0].index, w, h));
  EXPECT_EQ(w, 2);
  EXPECT_EQ(h, 2);
  EXPECT_FALSE(doc->image_pixel_size(0, 0, w, h));  // the caption
  EXPECT_FALSE(doc->image_pixel_size(0, 9, w, h));
  EXPECT_FALSE(doc->image_pixel_size(1, images[0].index, w, h));
}
