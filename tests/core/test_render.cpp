// Page size, tiles and text runs through the PDFium engine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>

#include "common/fixtures.h"
#include "core/engine.h"

using namespace quorvel;
using quorvel::test::as_bytes;
using quorvel::test::build_pdf;
using quorvel::test::make_pdf;
using quorvel::test::PageSpec;

namespace {

std::unique_ptr<IDocument> open_pdf(const std::string& pdf) {
  static std::unique_ptr<IPdfEngine> engine = make_engine(EngineKind::Pdfium);
  auto doc = engine->open(as_bytes(pdf), "");
  EXPECT_NE(doc, nullptr);
  return doc;
}

bool dark(const RenderedTile& t, int x, int y) {
  const uint8_t* p = &t.pixels[(static_cast<size_t>(y) * t.width + x) * 4];
  return p[0] < 128 && p[1] < 128 && p[2] < 128;
}

bool all_white(const RenderedTile& t) {
  for (uint8_t b : t.pixels) {
    if (b != 0xFF) return false;
  }
  return !t.pixels.empty();
}

struct Box {
  int left = std::numeric_limits<int>::max(), top = std::numeric_limits<int>::max();
  int right = -1, bottom = -1;  // inclusive
  bool empty() const { return right < 0; }
};

Box dark_box(const RenderedTile& t) {
  Box b;
  for (int y = 0; y < t.height; ++y) {
    for (int x = 0; x < t.width; ++x) {
      if (!dark(t, x, y)) continue;
      b.left = std::min(b.left, x);
      b.right = std::max(b.right, x);
      b.top = std::min(b.top, y);
      b.bottom = std::max(b.bottom, y);
    }
  }
  return b;
}

RenderedTile full_page(IDocument& doc, int page, double scale, int rotation = 0) {
  const PageInfo info = doc.page_info(page);
  const bool odd = ((info.rotation / 90 + (rotation & 3)) & 1) != 0;
  const double w = odd ? info.height : info.width;
  const double h = odd ? info.width : info.height;
  return doc.render_tile(page, {scale, 0, 0, static_cast<int>(std::lround(w * scale)),
                                static_cast<int>(std::lround(h * scale)), rotation});
}

TEST(PageInfo, SizeBeforeOwnRotation) {
  PageSpec plain{595, 842, "", "", ""};
  PageSpec turned{595, 842, "", "/Rotate 90", ""};
  PageSpec upside{595, 842, "", "/Rotate 180", ""};
  PageSpec back{595, 842, "", "/Rotate -90", ""};
  PageSpec shifted{0, 0, "", "", "[100 100 712 892]"};
  PageSpec cropped{612, 792, "", "/CropBox [50 60 350 460]", ""};
  auto doc = open_pdf(make_pdf({plain, turned, upside, back, shifted, cropped}));
  const struct {
    int page;
    double w, h;
    int rotation;
  } table[] = {
      {0, 595, 842, 0}, {1, 595, 842, 90}, {2, 595, 842, 180}, {3, 595, 842, 270},
      {4, 612, 792, 0}, {5, 300, 400, 0},  {-1, 0, 0, 0},      {6, 0, 0, 0},
  };
  for (const auto& row : table) {
    const PageInfo info = doc->page_info(row.page);
    EXPECT_NEAR(info.width, row.w, 0.01) << row.page;
    EXPECT_NEAR(info.height, row.h, 0.01) << row.page;
    EXPECT_EQ(info.rotation, row.rotation) << row.page;
  }
}

// Page shapes met in real files: own and inherited boxes and rotation, odd /Rotate values,
// crop boxes against the media box, and kids that are no page at all.
struct Leaf {
  std::string entries;  // the page dictionary's entries besides /Type and /Parent
  double w, h;
  int rotation;
};

const Leaf kRootLeaves[] = {
    {"/MediaBox [0 0 595 842]", 595, 842, 0},
    {"/MediaBox [0 0 595 842] /Rotate 90", 595, 842, 90},
    {"/MediaBox [0 0 595 842] /Rotate 180", 595, 842, 180},
    {"/MediaBox [0 0 595 842] /Rotate 270", 595, 842, 270},
    {"/MediaBox [0 0 595 842] /Rotate -90", 595, 842, 270},
    {"/MediaBox [0 0 595 842] /Rotate 450", 595, 842, 90},
    {"/MediaBox [0 0 595 842] /Rotate 45", 595, 842, 0},
    {"/MediaBox [0 0 595 842] /Rotate -450", 595, 842, 270},
    {"/MediaBox [0 0 595 842] /Rotate 5 0 R", 595, 842, 270},
    {"/MediaBox [0 0 595 842] /Rotate 90.0", 595, 842, 90},
    {"/MediaBox [0 0 595 842] /Rotate /R90", 595, 842, 0},
    {"/MediaBox [0 0 595 842] /Rotate (90)", 595, 842, 0},
    {"/MediaBox [0 0 595 842] /Rotate 99999999999", 595, 842, 0},
    {"/MediaBox [100 100 712 892]", 612, 792, 0},
    {"/MediaBox [612 792 0 0]", 612, 792, 0},
    {"/MediaBox [0 0 612 792] /CropBox [50 60 350 460]", 300, 400, 0},
    {"/MediaBox [0 0 612 792] /CropBox [50 60 350 460] /Rotate 90", 300, 400, 90},
    {"/MediaBox [0 0 612 792] /CropBox [-100 -100 1000 1000]", 612, 792, 0},
    {"/MediaBox [0 0 612 792] /CropBox [700 800 900 900]", 0, 0, 0},
    {"", 612, 792, 0},
    {"/MediaBox [0 0 0 0]", 612, 792, 0},
    {"/MediaBox [0 0 200 300] /Contents 6 0 R", 200, 300, 0},
};

// Kids of the intermediate node (/MediaBox [0 0 400 500] /CropBox [10 20 310 420] /Rotate 90),
// the last two below a further node with /Rotate 180.
const Leaf kInheritingLeaves[] = {
    {"", 300, 400, 90},
    {"/Rotate 0", 300, 400, 0},
    {"/MediaBox [0 0 200 250]", 190, 230, 90},
    {"", 300, 400, 180},
    {"/Rotate 270", 300, 400, 270},
};

// Objects: 1 catalog, 2 root, 3 intermediate, 4 its child node, 5 an integer, 6 a broken
// content stream, then the leaves. The root's kids: the first leaves, a reference to nothing,
// an integer, the intermediate node, one more page.
std::string page_shapes_pdf() {
  std::vector<std::string> objs(6);
  std::string root_kids, mid_kids, low_kids;
  auto add_leaf = [&](const std::string& entries, int parent) {
    objs.push_back("<< /Type /Page /Parent " + std::to_string(parent) + " 0 R " + entries + " >>");
    return std::to_string(objs.size()) + " 0 R ";
  };
  for (const Leaf& l : kRootLeaves) root_kids += add_leaf(l.entries, 2);
  root_kids += "999 0 R 7 3 0 R ";
  for (int i = 0; i < 3; ++i) mid_kids += add_leaf(kInheritingLeaves[i].entries, 3);
  for (int i = 3; i < 5; ++i) low_kids += add_leaf(kInheritingLeaves[i].entries, 4);
  root_kids += add_leaf("/MediaBox [0 0 100 200] /Rotate 90", 2);
  const size_t total = std::size(kRootLeaves) + 2 + std::size(kInheritingLeaves) + 1;
  objs[0] = "<< /Type /Catalog /Pages 2 0 R >>";
  objs[1] = "<< /Type /Pages /Kids [" + root_kids + "] /Count " + std::to_string(total) + " >>";
  objs[2] = "<< /Type /Pages /Parent 2 0 R /Kids [" + mid_kids + "4 0 R] /Count 5 /MediaBox [0 0 400 500] "
            "/CropBox [10 20 310 420] /Rotate 90 >>";
  objs[3] = "<< /Type /Pages /Parent 3 0 R /Kids [" + low_kids + "] /Count 2 /Rotate 180 >>";
  objs[4] = "270";
  objs[5] = "<< /Length 17 >>\nstream\nBT /F9 12 Tf (x q\nendstream";
  return build_pdf(objs);
}

std::vector<Leaf> page_shapes_expected() {
  std::vector<Leaf> rows(std::begin(kRootLeaves), std::end(kRootLeaves));
  rows.push_back({"missing object", 0, 0, 0});
  rows.push_back({"integer kid", 0, 0, 0});
  rows.insert(rows.end(), std::begin(kInheritingLeaves), std::end(kInheritingLeaves));
  rows.push_back({"after the subtree", 100, 200, 90});
  return rows;
}

TEST(PageInfo, PageShapes) {
  auto doc = open_pdf(page_shapes_pdf());
  ASSERT_TRUE(doc);
  const std::vector<Leaf> rows = page_shapes_expected();
  ASSERT_EQ(doc->page_count(), static_cast<int>(rows.size()));
  // Twice: the first call may read the page tree, the second must agree with it.
  for (int pass = 0; pass < 2; ++pass) {
    for (size_t i = 0; i < rows.size(); ++i) {
      const PageInfo info = doc->page_info(static_cast<int>(i));
      EXPECT_NEAR(info.width, rows[i].w, 0.01) << i << " " << rows[i].entries;
      EXPECT_NEAR(info.height, rows[i].h, 0.01) << i << " " << rows[i].entries;
      EXPECT_EQ(info.rotation, rows[i].rotation) << i << " " << rows[i].entries;
    }
  }
  const PageInfo past = doc->page_info(static_cast<int>(rows.size()));
  EXPECT_EQ(past.width, 0);
  EXPECT_EQ(past.rotation, 0);
}

// A PDF 1.5 file of `objects` (numbered from 1, object 1 the catalog) where those marked in
// `packed` sit in one uncompressed object stream, indexed by an uncompressed xref stream.
std::string object_stream_pdf(const std::vector<std::string>& objects, const std::vector<bool>& packed) {
  std::string head, body;
  for (size_t i = 0; i < objects.size(); ++i) {
    if (!packed[i]) continue;
    head += std::to_string(i + 1) + " " + std::to_string(body.size()) + " ";
    body += objects[i] + "\n";
  }
  const size_t stream_no = objects.size() + 1, xref_no = objects.size() + 2;
  std::string out = "%PDF-1.5\n";
  std::vector<size_t> offset(xref_no + 1, 0);
  for (size_t i = 0; i < objects.size(); ++i) {
    if (packed[i]) continue;
    offset[i + 1] = out.size();
    out += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  offset[stream_no] = out.size();
  const std::string data = head + body;
  out += std::to_string(stream_no) + " 0 obj\n<< /Type /ObjStm /N " +
         std::to_string(std::count(packed.begin(), packed.end(), true)) + " /First " + std::to_string(head.size()) +
         " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream\nendobj\n";
  offset[xref_no] = out.size();
  std::string rows;
  int index = 0;
  auto row = [&rows](int type, size_t field2, int field3) {
    rows += static_cast<char>(type);
    for (int shift = 24; shift >= 0; shift -= 8) rows += static_cast<char>((field2 >> shift) & 0xFF);
    rows += static_cast<char>((field3 >> 8) & 0xFF);
    rows += static_cast<char>(field3 & 0xFF);
  };
  row(0, 0, 0xFFFF);
  for (size_t n = 1; n <= xref_no; ++n) {
    if (n <= objects.size() && packed[n - 1])
      row(2, stream_no, index++);
    else
      row(1, offset[n], 0);
  }
  out += std::to_string(xref_no) + " 0 obj\n<< /Type /XRef /Size " + std::to_string(xref_no + 1) +
         " /W [1 4 2] /Root 1 0 R /Length " + std::to_string(rows.size()) + " >>\nstream\n" + rows +
         "\nendstream\nendobj\nstartxref\n" + std::to_string(offset[xref_no]) + "\n%%EOF\n";
  return out;
}

// Large manuals keep their page tree in object streams, which page shapes search as text
// rather than parse: a turn spelled with escapes, written outside the stream, or inherited from
// a node must still be found, and text that only looks like one must change nothing.
TEST(PageInfo, ObjectStreamTrees) {
  const struct {
    const char* name;
    std::string root, second;
    bool second_packed;
    std::vector<int> rotations;
  } table[] = {
      {"no turn anywhere", "", "", true, {0, 0, 0}},
      {"escaped name", "", "/Ro#74ate 90", true, {0, 90, 0}},
      {"page outside the stream", "", "/Rotate 90", false, {0, 90, 0}},
      {"inherited from the root", "/Rotate 180", "/Rotate 0", true, {180, 0, 180}},
      {"lookalike in a string", "", "/Annots [<< /Subtype /Link /Rect [0 0 9 9] /A << /S /URI /URI (x:/Rotate) >> >>]",
       true, {0, 0, 0}},
  };
  for (const auto& row : table) {
    std::vector<std::string> objs{"<< /Type /Catalog /Pages 2 0 R >>",
                                  "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Count 3 " + row.root + " >>"};
    for (int i = 0; i < 3; ++i)
      objs.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + std::to_string(200 * (i + 1)) + " " +
                     std::to_string(200 * (i + 1) + 100) + "] " + (i == 1 ? row.second : "") + " >>");
    auto doc = open_pdf(object_stream_pdf(objs, {true, true, true, row.second_packed, true}));
    ASSERT_TRUE(doc) << row.name;
    ASSERT_EQ(doc->page_count(), 3) << row.name;
    for (int i = 0; i < 3; ++i) {
      const PageInfo info = doc->page_info(i);
      EXPECT_EQ(info.width, 200 * (i + 1)) << row.name << " " << i;
      EXPECT_EQ(info.height, 200 * (i + 1) + 100) << row.name << " " << i;
      EXPECT_EQ(info.rotation, row.rotations[static_cast<size_t>(i)]) << row.name << " " << i;
    }
  }
}

// Trees whose /Count disagrees with their kids: the pages PDFium finds keep their shapes, the
// others give the zero result.
TEST(PageInfo, CountsThatLie) {
  const std::string a = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 400] /Rotate 90 >>";
  const std::string b = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 500 600] >>";
  const struct {
    std::vector<std::string> objs;
    std::vector<PageInfo> pages;
  } table[] = {
      // The root promises three pages and has two.
      {{"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 3 >>", a, b},
       {{300, 400, 90}, {500, 600, 0}, {0, 0, 0}}},
      // An intermediate node claims one page and holds two.
      {{"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [5 0 R 4 0 R] /Count 3 >>", a, b,
        "<< /Type /Pages /Parent 2 0 R /Kids [3 0 R 6 0 R] /Count 1 /Rotate 180 >>",
        "<< /Type /Page /Parent 5 0 R /MediaBox [0 0 10 20] >>"},
       {{300, 400, 90}, {10, 20, 180}, {500, 600, 0}}},
      // A page listed twice.
      {{"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R 4 0 R 3 0 R] /Count 3 >>", a, b},
       {{300, 400, 90}, {500, 600, 0}, {300, 400, 90}}},
  };
  int n = 0;
  for (const auto& row : table) {
    auto doc = open_pdf(build_pdf(row.objs));
    ASSERT_TRUE(doc) << n;
    std::vector<PageInfo> got;
    for (int i = 0; i < doc->page_count(); ++i) got.push_back(doc->page_info(i));
    ASSERT_EQ(got.size(), row.pages.size()) << n;
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].width, row.pages[i].width) << n << "/" << i;
      EXPECT_EQ(got[i].height, row.pages[i].height) << n << "/" << i;
      EXPECT_EQ(got[i].rotation, row.pages[i].rotation) << n << "/" << i;
    }
    ++n;
  }
}

// Shapes read before an edit must follow the edits PDFium makes in place, and an encrypted
// file gives the same shapes as a plain one.
TEST(PageInfo, FollowsEditsAndEncryption) {
  const std::vector<PageSpec> specs{{200, 300, "", "", ""}, {400, 500, "", "/Rotate 90", ""}, {600, 700, "", "", ""}};
  const std::string plain = make_pdf(specs);
  auto shapes = [](IDocument& d) {
    std::vector<std::string> out;
    for (int i = 0; i < d.page_count(); ++i) {
      const PageInfo p = d.page_info(i);
      out.push_back(std::to_string(std::lround(p.width)) + "x" + std::to_string(std::lround(p.height)) + "@" +
                    std::to_string(p.rotation));
    }
    return out;
  };
  using V = std::vector<std::string>;
  for (const std::string& pdf : {plain, quorvel::test::qpdf_encrypt(plain, "pw", "owner")}) {
    static std::unique_ptr<IPdfEngine> engine = make_engine(EngineKind::Pdfium);
    auto doc = engine->open(as_bytes(pdf), pdf == plain ? "" : "pw");
    ASSERT_TRUE(doc);
    EXPECT_EQ(shapes(*doc), (V{"200x300@0", "400x500@90", "600x700@0"}));
    ASSERT_TRUE(doc->rotate_page(2, 3));
    EXPECT_EQ(shapes(*doc), (V{"200x300@0", "400x500@90", "600x700@270"}));
    ASSERT_TRUE(doc->delete_page(0));
    EXPECT_EQ(shapes(*doc), (V{"400x500@90", "600x700@270"}));
    ASSERT_TRUE(doc->insert_blank_page(1, 100, 150));
    EXPECT_EQ(shapes(*doc), (V{"400x500@90", "100x150@0", "600x700@270"}));
    ASSERT_TRUE(doc->crop_page(0, 0, 0, 50, 60));
    ASSERT_TRUE(doc->rotate_page(0, 1));
    EXPECT_EQ(shapes(*doc), (V{"50x60@180", "100x150@0", "600x700@270"}));
    ASSERT_TRUE(doc->move_page(0, 2));
    EXPECT_EQ(shapes(*doc), (V{"100x150@0", "600x700@270", "50x60@180"}));
  }
}

// A 200 x 100 page with a black square in its lower-left corner, turned four ways.
TEST(RenderTile, RotationsAndTileSizes) {
  const std::string marker = "0 0 0 rg 0 0 20 20 re f";
  auto doc = open_pdf(make_pdf({{200, 100, marker, "", ""}, {200, 100, marker, "/Rotate 90", ""}}));
  enum Corner { BottomLeft, TopLeft, TopRight, BottomRight };
  const struct {
    int page;
    int rotation;
    int width, height;
    Corner corner;
  } table[] = {
      {0, 0, 200, 100, BottomLeft}, {0, 1, 100, 200, TopLeft},   {0, 2, 200, 100, TopRight},
      {0, 3, 100, 200, BottomRight}, {0, 4, 200, 100, BottomLeft}, {0, -1, 100, 200, BottomRight},
      {0, 5, 100, 200, TopLeft},    {1, 0, 100, 200, TopLeft},   {1, 3, 200, 100, BottomLeft},
      {1, 1, 200, 100, TopRight},
  };
  for (const auto& row : table) {
    const RenderedTile t = full_page(*doc, row.page, 1.0, row.rotation);
    ASSERT_EQ(t.width, row.width) << row.page << "/" << row.rotation;
    ASSERT_EQ(t.height, row.height) << row.page << "/" << row.rotation;
    ASSERT_EQ(t.pixels.size(), static_cast<size_t>(t.width) * t.height * 4);
    const Box b = dark_box(t);
    ASSERT_FALSE(b.empty());
    EXPECT_EQ(b.right - b.left + 1, 20);
    EXPECT_EQ(b.bottom - b.top + 1, 20);
    const bool left = b.left == 0, top = b.top == 0;
    const bool right = b.right == t.width - 1, bottom = b.bottom == t.height - 1;
    switch (row.corner) {
      case BottomLeft: EXPECT_TRUE(left && bottom) << row.page << "/" << row.rotation; break;
      case TopLeft: EXPECT_TRUE(left && top) << row.page << "/" << row.rotation; break;
      case TopRight: EXPECT_TRUE(right && top) << row.page << "/" << row.rotation; break;
      case BottomRight: EXPECT_TRUE(right && bottom) << row.page << "/" << row.rotation; break;
    }
  }
}

TEST(RenderTile, BgraOrderAndTileOffsets) {
  // Red left half, blue square at the top right, on a 300 x 200 page.
  auto doc = open_pdf(make_pdf({{300, 200, "1 0 0 rg 0 0 150 200 re f 0 0 1 rg 250 150 50 50 re f", "", ""}}));
  const RenderedTile full = full_page(*doc, 0, 2.0);
  ASSERT_EQ(full.width, 600);
  const uint8_t* red = &full.pixels[(static_cast<size_t>(10) * 600 + 10) * 4];
  EXPECT_EQ(std::vector<uint8_t>(red, red + 4), (std::vector<uint8_t>{0, 0, 255, 255}));
  const uint8_t* blue = &full.pixels[(static_cast<size_t>(10) * 600 + 590) * 4];
  EXPECT_EQ(std::vector<uint8_t>(blue, blue + 4), (std::vector<uint8_t>{255, 0, 0, 255}));

  // A tile equals the same rectangle of the whole page; what lies off the page is white.
  for (const auto& [x, y] : std::vector<std::pair<int, int>>{{37, 53}, {280, 0}, {-10, -7}, {550, 350}}) {
    const RenderedTile t = doc->render_tile(0, {2.0, x, y, 100, 80, 0});
    ASSERT_EQ(t.width, 100);
    ASSERT_EQ(t.height, 80);
    for (int ty = 0; ty < 80; ++ty) {
      for (int tx = 0; tx < 100; ++tx) {
        const int px = x + tx, py = y + ty;
        const uint8_t* got = &t.pixels[(static_cast<size_t>(ty) * 100 + tx) * 4];
        if (px < 0 || py < 0 || px >= 600 || py >= 400) {
          ASSERT_EQ(got[0] & got[1] & got[2] & got[3], 0xFF) << x << "," << y << " at " << tx << "," << ty;
        } else {
          const uint8_t* want = &full.pixels[(static_cast<size_t>(py) * 600 + px) * 4];
          ASSERT_EQ(std::vector<uint8_t>(got, got + 4), std::vector<uint8_t>(want, want + 4))
              << x << "," << y << " at " << tx << "," << ty;
        }
      }
    }
  }
}

TEST(RenderTile, FullPageAtOneAndAHalf) {
  auto doc = open_pdf(make_pdf({{595, 842, "0 0 0 rg 0 0 595 842 re f", "", ""}}));
  const RenderedTile t = doc->render_tile(0, {1.5, 0, 0, 893, 1263, 0});
  ASSERT_EQ(t.width, 893);
  ASSERT_EQ(t.height, 1263);
  EXPECT_TRUE(dark(t, 0, 0));
  EXPECT_TRUE(dark(t, 892, 1262));
  EXPECT_TRUE(all_white(doc->render_tile(0, {1.5, 893, 0, 16, 16, 0})));
  EXPECT_TRUE(all_white(doc->render_tile(0, {1.5, 0, 1263, 16, 16, 0})));
}

TEST(RenderTile, EmptyResults) {
  auto doc = open_pdf(make_pdf({{595, 842, "0 0 0 rg 0 0 595 842 re f", "", ""}}));
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    const char* name;
    int page;
    RenderRequest req;
    bool rendered;
  } table[] = {
      {"0 x 100", 0, {1.0, 0, 0, 0, 100, 0}, false},
      {"100 x 0", 0, {1.0, 0, 0, 100, 0, 0}, false},
      {"negative width", 0, {1.0, 0, 0, -5, 10, 0}, false},
      {"scale 0", 0, {0.0, 0, 0, 10, 10, 0}, false},
      {"negative scale", 0, {-1.0, 0, 0, 10, 10, 0}, false},
      {"NaN scale", 0, {std::nan(""), 0, 0, 10, 10, 0}, false},
      {"infinite scale", 0, {inf, 0, 0, 10, 10, 0}, false},
      {"page wider than an int", 0, {1e7, 0, 0, 10, 10, 0}, false},
      {"page -1", -1, {1.0, 0, 0, 10, 10, 0}, false},
      {"page past the end", 1, {1.0, 0, 0, 10, 10, 0}, false},
      {"tiny scale", 0, {1e-9, 0, 0, 10, 10, 0}, true},
      {"far left and up", 0, {1.0, std::numeric_limits<int>::min(), std::numeric_limits<int>::min(), 10, 10, 0}, true},
      {"far right and down", 0, {1.0, std::numeric_limits<int>::max(), std::numeric_limits<int>::max(), 10, 10, 0}, true},
  };
  for (const auto& row : table) {
    const RenderedTile t = doc->render_tile(row.page, row.req);
    if (row.rendered) {
      EXPECT_EQ(t.width, row.req.width) << row.name;
      EXPECT_TRUE(all_white(t)) << row.name;
    } else {
      EXPECT_EQ(t.width, 0) << row.name;
      EXPECT_EQ(t.height, 0) << row.name;
      EXPECT_TRUE(t.pixels.empty()) << row.name;
    }
  }
}

TEST(ExtractText, RunsAndCharacterBoxes) {
  PageSpec two_lines{612, 792, "BT /F1 12 Tf 72 720 Td (Hello) Tj 0 -40 Td (caf\351 & co) Tj ET", "", ""};
  PageSpec blank{612, 792, "", "", ""};
  PageSpec graphics_only{612, 792, "0 0 0 rg 10 10 100 100 re f", "", ""};
  auto doc = open_pdf(make_pdf({two_lines, blank, graphics_only}));
  const TextPage tp = doc->extract_text(0);
  ASSERT_EQ(tp.runs.size(), 2u);
  EXPECT_EQ(tp.runs[0].text.substr(0, 5), "Hello");
  EXPECT_EQ(tp.runs[1].text, "caf\xC3\xA9 & co");
  for (const TextRun& run : tp.runs) {
    EXPECT_LT(run.left, run.right);
    EXPECT_GT(run.top, run.bottom);
    for (size_t i = 0; i < run.chars.size(); ++i) {
      const CharBox& c = run.chars[i];
      EXPECT_LE(c.offset, run.text.size());
      if (i > 0) {
        EXPECT_GE(c.offset, run.chars[i - 1].offset);
      }
      const double cx = (c.left + c.right) / 2, cy = (c.top + c.bottom) / 2;
      EXPECT_TRUE(cx >= run.left - 1 && cx <= run.right + 1 && cy >= run.bottom - 1 && cy <= run.top + 1);
    }
  }
  // é takes two bytes, so the space after it starts at byte 5.
  ASSERT_EQ(tp.runs[1].chars.size(), 9u);
  EXPECT_EQ(tp.runs[1].chars[3].offset, 3u);
  EXPECT_EQ(tp.runs[1].chars[4].offset, 5u);
  EXPECT_NEAR(tp.runs[0].chars[0].left, 72.9, 0.5);
  EXPECT_NEAR(tp.runs[0].bottom, 720, 0.5);
  EXPECT_NEAR(tp.runs[1].bottom, 680, 0.5);

  EXPECT_TRUE(doc->extract_text(1).runs.empty());
  EXPECT_TRUE(doc->extract_text(2).runs.empty());
  EXPECT_TRUE(doc->extract_text(-1).runs.empty());
  EXPECT_TRUE(doc->extract_text(3).runs.empty());
}

TEST(ExtractText, FallbackRunWhenNoRectangleGetsText) {
  // A flattened text matrix: the characters have boxes, their rectangle is empty.
  auto doc = open_pdf(make_pdf({{500, 300, "BT /F1 12 Tf 1 0 0 0 72 200 Tm (Hello) Tj ET", "", ""}}));
  const TextPage tp = doc->extract_text(0);
  ASSERT_EQ(tp.runs.size(), 1u);
  EXPECT_EQ(tp.runs[0].text, "Hello");
  EXPECT_TRUE(tp.runs[0].chars.empty());
  EXPECT_DOUBLE_EQ(tp.runs[0].left, 0);
  EXPECT_DOUBLE_EQ(tp.runs[0].bottom, 0);
  EXPECT_NEAR(tp.runs[0].right, 500, 0.01);
  EXPECT_NEAR(tp.runs[0].top, 300, 0.01);
}

// A font whose ToUnicode map gives A a character beyond the Basic Multilingual Plane, which
// PDFium hands out as two surrogate halves.
std::string astral_pdf() {
  const std::string cmap =
      "/CIDInit /ProcSet findresource begin 12 dict begin begincmap /CMapName /X def "
      "1 begincodespacerange <00> <FF> endcodespacerange 2 beginbfchar <41> <D83DDE00> "
      "<42> <0042> endbfchar endcmap CMapName currentdict /CMap defineresource pop end end";
  const std::string content = "BT /F2 24 Tf 72 700 Td (ABA) Tj ET";
  const std::vector<std::string> objs = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F2 5 0 R >> >> "
      "/Contents 4 0 R >>",
      "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream",
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /ToUnicode 6 0 R >>",
      "<< /Length " + std::to_string(cmap.size()) + " >>\nstream\n" + cmap + "\nendstream"};
  return build_pdf(objs);
}

TEST(ExtractText, CharacterBeyondBmpIsValidUtf8) {
  auto doc = open_pdf(astral_pdf());
  const TextPage tp = doc->extract_text(0);
  ASSERT_EQ(tp.runs.size(), 1u);
  EXPECT_EQ(tp.runs[0].text, "\xF0\x9F\x98\x80" "B\xF0\x9F\x98\x80");
  std::vector<size_t> offsets;
  for (const CharBox& c : tp.runs[0].chars) offsets.push_back(c.offset);
  EXPECT_EQ(offsets, (std::vector<size_t>{0, 4, 4, 5, 9}));
}

TEST(RenderTile, TypedFormTextIsDrawn) {
  // One empty text field at [100 600 400 640] on a page whose media box starts at (50, 50).
  const std::string pdf = build_pdf({
      "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [5 0 R] /DA (/Helv 24 Tf 0 g) "
      "/DR << /Font << /Helv 3 0 R >> >> >> >>",
      "<< /Type /Pages /Kids [4 0 R] /Count 1 >>",
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [50 50 662 842] /Annots [5 0 R] >>",
      "<< /Type /Annot /Subtype /Widget /FT /Tx /T (name) /Rect [100 600 400 640] /P 4 0 R "
      "/DA (/Helv 24 Tf 0 g) /F 4 >>",
  });
  auto doc = open_pdf(pdf);
  ASSERT_TRUE(doc->has_form());
  // The field in tile pixels at scale 1: x 50..350, y 792 - 590 .. 792 - 550.
  const RenderRequest field{1.0, 50, 202, 300, 40, 0};
  EXPECT_TRUE(dark_box(doc->render_tile(0, field)).empty());
  doc->form_click(0, 150, 570, true);
  doc->form_click(0, 150, 570, false);
  for (char c : std::string("WWWW")) doc->form_char(static_cast<unsigned char>(c));
  const Box b = dark_box(doc->render_tile(0, field));
  ASSERT_FALSE(b.empty());
  EXPECT_GT(b.right - b.left, 40);
}

// Page space starts at the crop box's lower-left corner, whatever the file's numbers.
TEST(PageSpace, CharacterBoxesLieOnTheirGlyphs) {
  PageSpec shifted{0, 0, "BT /F1 48 Tf 200 700 Td (HIT) Tj ET", "", "[100 100 712 892]"};
  PageSpec cropped{612, 792, "BT /F1 48 Tf 200 300 Td (HIT) Tj ET", "/CropBox [150 250 450 650]", ""};
  PageSpec turned{0, 0, "BT /F1 48 Tf 200 700 Td (HIT) Tj ET", "/Rotate 90", "[100 100 712 892]"};
  auto doc = open_pdf(make_pdf({shifted, cropped, turned}));
  const struct {
    int page;
    double glyph_x, glyph_y;  // where the text starts, in page space
  } table[] = {{0, 100, 600}, {1, 50, 50}, {2, 100, 600}};
  const double scale = 2.0;
  for (const auto& row : table) {
    const TextPage tp = doc->extract_text(row.page);
    ASSERT_EQ(tp.runs.size(), 1u) << row.page;
    const TextRun& run = tp.runs[0];
    EXPECT_EQ(run.text, "HIT");
    EXPECT_NEAR(run.chars.front().left, row.glyph_x + 3.5, 1.0) << row.page;  // H's side bearing
    EXPECT_NEAR(run.bottom, row.glyph_y, 0.5) << row.page;

    // Unturned render: the dark pixels are exactly the glyphs' boxes.
    const PageInfo info = doc->page_info(row.page);
    const RenderedTile t = full_page(*doc, row.page, scale, (4 - info.rotation / 90) & 3);
    ASSERT_NEAR(t.width, info.width * scale, 1) << row.page;
    const Box b = dark_box(t);
    ASSERT_FALSE(b.empty()) << row.page;
    EXPECT_NEAR(b.left, run.chars.front().left * scale, 2) << row.page;
    EXPECT_NEAR(b.right + 1, run.chars.back().right * scale, 2) << row.page;
    EXPECT_NEAR(b.top, (info.height - run.top) * scale, 2) << row.page;
    EXPECT_NEAR(b.bottom + 1, (info.height - run.bottom) * scale, 2) << row.page;
  }
}

}  // namespace
