#define POINTERHOLDER_TRANSITION 4
// Pictures drawn over many pages at once: one image object a picture, the pages' own content
// kept, and the same rendering as placing the picture page by page.
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <cmath>
#include <limits>
#include <set>

#include <gtest/gtest.h>

#include "test_edit_support.h"

using namespace quorvel;
using namespace quorvel::test;
using Picture = IDocument::Picture;
using Placement = IDocument::PicturePlacement;

namespace {

// Five pages that each ask something of the drawing: a page that inherits its resources, one
// whose content leaves the matrix moved, an offset crop box on a turned page, contents split
// over two streams with an inherited media box, and a page that already names an image
// /QvPic0.
std::string five_pages() {
  return build_pdf({
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R 5 0 R 7 0 R 9 0 R 12 0 R] /Count 5 /MediaBox [0 0 400 300] "
      "/Resources << /Font << /F1 14 0 R >> >> >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>",
      stream_object("BT /F1 12 Tf 72 720 Td (first page) Tj ET"),
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Resources << /Font << /F1 14 0 R >> >> "
      "/Contents 6 0 R >>",
      stream_object("1 0 0 1 150 -200 cm 0 0 1 rg 0 300 100 100 re f"),
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /CropBox [50 60 500 700] /Rotate 90 "
      "/Contents 8 0 R >>",
      stream_object("1 0 0 rg 60 70 200 100 re f BT /F1 20 Tf 100 400 Td (cropped) Tj ET"),
      "<< /Type /Page /Parent 2 0 R /Contents [10 0 R 11 0 R] >>",
      stream_object("q 0 0.6 0 rg"),
      stream_object("20 20 200 100 re f Q"),
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 13 0 R "
      "/Resources << /Font << /F1 14 0 R >> /XObject << /QvPic0 15 0 R >> >> >>",
      stream_object("q 40 0 0 40 10 10 cm /QvPic0 Do Q"),
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
      image_object(),
  });
}

// Colours and alpha that change across the picture, so that a picture drawn shifted, flipped,
// premultiplied or without its mask shows.
Picture gradient(int width, int height, uint8_t tint) {
  Picture p{width, height, {}};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      p.bgra.push_back(static_cast<uint8_t>(x * 255 / width));
      p.bgra.push_back(tint);
      p.bgra.push_back(static_cast<uint8_t>(y * 255 / height));
      p.bgra.push_back(static_cast<uint8_t>(40 + (x + y) * 200 / (width + height)));
    }
  }
  return p;
}

const std::vector<Picture> kPictures{gradient(30, 20, 90), gradient(16, 16, 200)};
// As the watermark places its square: over the page and past its edges; on the cropped page in
// its page space; on the split page with the corners given right to left.
const std::vector<Placement> kPlacements{
    {0, 0, -61, 29, 673, 763},  {1, 0, -59.5, 64, 654.5, 778}, {2, 1, 10, 20, 440, 600},
    {3, 1, 390, 10, 10, 290},   {4, 0, 100, 100, 500, 400},
};

void place_page_by_page(IDocument& doc) {
  for (const Placement& p : kPlacements) {
    const Picture& pic = kPictures[static_cast<size_t>(p.picture)];
    ASSERT_TRUE(doc.place_image(p.page, pic.bgra.data(), pic.width, pic.height, p.x0, p.y0, p.x1, p.y1));
  }
}

// The largest difference of one colour channel between two renderings of a page.
int largest_difference(const Raster& a, const Raster& b) {
  if (a.width != b.width || a.height != b.height || a.rgb.size() != b.rgb.size()) return 256;
  int worst = 0;
  for (size_t i = 0; i < a.rgb.size(); ++i) worst = std::max(worst, std::abs(a.rgb[i] - b.rgb[i]));
  return worst;
}

bool same_renderings(IDocument& a, IDocument& b) {
  if (a.page_count() != b.page_count()) return false;
  for (int page = 0; page < a.page_count(); ++page) {
    if (largest_difference(render_pdfium(a, page), render_pdfium(b, page)) > 0) return false;
  }
  return true;
}

struct SavedCopy {
  int images = 0;      // image objects that are not soft masks
  int soft_masks = 0;
  std::vector<std::vector<std::string>> contents;  // per page, each content stream's data
};

SavedCopy read_copy(const std::string& path) {
  SavedCopy copy;
  QPDF q;
  q.processFile(path.c_str());
  std::set<QPDFObjGen> masks;
  for (QPDFObjectHandle o : q.getAllObjects()) {
    if (o.isStream() && o.getDict().getKey("/SMask").isStream()) masks.insert(o.getDict().getKey("/SMask").getObjGen());
  }
  for (QPDFObjectHandle o : q.getAllObjects()) {
    if (!o.isStream() || !o.getDict().getKey("/Subtype").isNameAndEquals("/Image")) continue;
    ++(masks.count(o.getObjGen()) ? copy.soft_masks : copy.images);
  }
  for (QPDFPageObjectHelper page : QPDFPageDocumentHelper(q).getAllPages()) {
    std::vector<std::string> streams;
    for (QPDFObjectHandle s : page.getPageContents()) {
      const std::shared_ptr<Buffer> data = s.getStreamData();
      streams.emplace_back(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
    }
    copy.contents.push_back(std::move(streams));
  }
  return copy;
}

}  // namespace

// Each picture is stored once however many pages show it, every page's own content streams
// stay as they were between the two added ones, and every page renders exactly as placing the
// picture page by page does: on a turned page with an offset crop box, after content that moves
// the matrix, and beside an image of the page that already bears the name the drawing would take.
TEST(SharedPictures, OneImageAPictureRenderedAsPlacedPageByPage) {
  TempDir dir;
  const std::string pdf = five_pages();
  auto by_page = open_pdf(pdf);
  auto shared = open_pdf(pdf);
  ASSERT_TRUE(by_page && shared);
  place_page_by_page(*by_page);
  ASSERT_EQ(shared->place_shared_pictures(kPictures, kPlacements), 5);
  EXPECT_TRUE(same_renderings(*by_page, *shared));
  EXPECT_EQ(shared->list_images(4).size(), 2u);

  ASSERT_TRUE(by_page->save_as(dir.file("by_page.pdf"), {}));
  ASSERT_TRUE(shared->save_as(dir.file("shared.pdf"), {}));
  EXPECT_TRUE(qpdf_check(dir.file("shared.pdf")));
  const SavedCopy old_way = read_copy(dir.file("by_page.pdf"));
  const SavedCopy copy = read_copy(dir.file("shared.pdf"));
  EXPECT_EQ(old_way.images, 1 + 5);  // the page's own image and one a placement
  EXPECT_EQ(copy.images, 1 + 2);
  EXPECT_EQ(copy.soft_masks, 2);

  const std::vector<std::vector<std::string>> own{
      {"BT /F1 12 Tf 72 720 Td (first page) Tj ET"},
      {"1 0 0 1 150 -200 cm 0 0 1 rg 0 300 100 100 re f"},
      {"1 0 0 rg 60 70 200 100 re f BT /F1 20 Tf 100 400 Td (cropped) Tj ET"},
      {"q 0 0.6 0 rg", "20 20 200 100 re f Q"},
      {"q 40 0 0 40 10 10 cm /QvPic0 Do Q"},
  };
  ASSERT_EQ(copy.contents.size(), own.size());
  for (size_t page = 0; page < own.size(); ++page) {
    const std::vector<std::string>& streams = copy.contents[page];
    ASSERT_EQ(streams.size(), own[page].size() + 2) << page;
    EXPECT_EQ(streams.front(), "q\n");
    for (size_t i = 0; i < own[page].size(); ++i) EXPECT_EQ(streams[i + 1], own[page][i]) << page;
    EXPECT_EQ(streams.back().rfind("\nQ\nq ", 0), 0u) << page;
  }

  // The stamped document goes on as any other: a second stamp shares its picture the same way.
  ASSERT_EQ(shared->place_shared_pictures({kPictures[1]}, {{0, 0, 0, 0, 50, 50}, {1, 0, 0, 0, 50, 50}}), 2);
  ASSERT_TRUE(shared->save_as(dir.file("twice.pdf"), {}));
  EXPECT_EQ(read_copy(dir.file("twice.pdf")).images, 1 + 3);
}

// An encrypted document is stamped with its password and stays encrypted.
TEST(SharedPictures, EncryptedDocumentKeepsItsPassword) {
  TempDir dir;
  auto doc = open_pdf(qpdf_encrypt(five_pages(), "user", "owner"), "user");
  ASSERT_TRUE(doc);
  ASSERT_EQ(doc->place_shared_pictures(kPictures, kPlacements), 5);
  ASSERT_TRUE(doc->save_as(dir.file("locked.pdf"), {}));
  EXPECT_FALSE(open_file(dir.file("locked.pdf")));
  auto reopened = open_file(dir.file("locked.pdf"), "user");
  ASSERT_TRUE(reopened);
  EXPECT_EQ(reopened->list_images(0).size(), 1u);
}

// Stopped at any point, the document is as it was; a run to the end reports rising figures up
// to 100.
TEST(SharedPictures, StoppedLeavesTheDocumentAsItWas) {
  const std::string pdf = five_pages();
  auto untouched = open_pdf(pdf);
  ASSERT_TRUE(untouched);
  for (const int stop_at : {0, 10, 50, 99}) {
    auto doc = open_pdf(pdf);
    ASSERT_TRUE(doc);
    std::vector<int> heard;
    EXPECT_EQ(doc->place_shared_pictures(kPictures, kPlacements,
                                         [&](int percent) {
                                           heard.push_back(percent);
                                           return percent < stop_at;
                                         }),
              0)
        << stop_at;
    EXPECT_GE(heard.back(), stop_at);
    EXPECT_TRUE(same_renderings(*doc, *untouched)) << stop_at;
    EXPECT_TRUE(doc->list_images(0).empty());
  }
  auto doc = open_pdf(pdf);
  std::vector<int> heard;
  ASSERT_EQ(doc->place_shared_pictures(kPictures, kPlacements, [&](int percent) {
    heard.push_back(percent);
    return true;
  }), 5);
  EXPECT_TRUE(std::is_sorted(heard.begin(), heard.end()));
  EXPECT_EQ(heard.front(), 0);
  EXPECT_EQ(heard.back(), 100);
}

// What place_image would refuse is passed over and not counted; with nothing left to draw the
// document stays as it was.
TEST(SharedPictures, RefusedPlacementsArePassedOver) {
  const double inf = std::numeric_limits<double>::infinity();
  const Picture short_of_pixels{4, 4, std::vector<uint8_t>(4 * 4 * 4 - 1, 0xFF)};
  const Picture empty{0, 4, {}};
  const std::vector<Picture> pictures{kPictures[0], short_of_pixels, empty};
  const struct {
    const char* what;
    Placement placement;
  } refused[] = {
      {"page before the first", {-1, 0, 0, 0, 10, 10}},
      {"page after the last", {5, 0, 0, 0, 10, 10}},
      {"no such picture", {0, 3, 0, 0, 10, 10}},
      {"too few pixels", {0, 1, 0, 0, 10, 10}},
      {"no pixels", {0, 2, 0, 0, 10, 10}},
      {"infinite corner", {0, 0, 0, 0, inf, 10}},
      {"corner not a number", {0, 0, std::nan(""), 0, 10, 10}},
  };
  const std::string pdf = five_pages();
  auto untouched = open_pdf(pdf);
  for (const auto& r : refused) {
    auto doc = open_pdf(pdf);
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->place_shared_pictures(pictures, {r.placement}), 0) << r.what;
    EXPECT_TRUE(same_renderings(*doc, *untouched)) << r.what;
    EXPECT_EQ(doc->place_shared_pictures(pictures, {r.placement, {1, 0, 0, 0, 10, 10}}), 1) << r.what;
  }
  auto doc = open_pdf(pdf);
  EXPECT_EQ(doc->place_shared_pictures({}, kPlacements), 0);
  EXPECT_EQ(doc->place_shared_pictures(kPictures, {}), 0);
}
