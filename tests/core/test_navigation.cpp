// Links, outline and metadata through the PDFium engine.
#include <gtest/gtest.h>

#include <functional>

#include "common/fixtures.h"
#include "core/engine.h"

using namespace quorvel;
using quorvel::test::as_bytes;
using quorvel::test::make_pdf;
using quorvel::test::PageSpec;

namespace {

std::unique_ptr<IDocument> open_pdf(const std::string& pdf, const std::string& password = "") {
  static std::unique_ptr<IPdfEngine> engine = make_engine(EngineKind::Pdfium);
  auto doc = engine->open(as_bytes(pdf), password);
  EXPECT_NE(doc, nullptr);
  return doc;
}

// A document from numbered objects: object 1 is the catalog, object 2 the page tree, and
// pages are objects 3 to 2 + pages. Further objects follow from `first_free()` on.
struct PdfBuilder {
  explicit PdfBuilder(int pages, const std::string& catalog_extra = "") {
    std::string kids;
    for (int i = 0; i < pages; ++i) kids += std::to_string(3 + i) + " 0 R ";
    objs.push_back("<< /Type /Catalog /Pages 2 0 R " + catalog_extra + " >>");
    objs.push_back("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>");
    for (int i = 0; i < pages; ++i) objs.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>");
  }
  static std::string page_ref(int index) { return std::to_string(3 + index) + " 0 R"; }
  int first_free() const { return static_cast<int>(objs.size()) + 1; }
  void set(int id, std::string obj) {
    if (static_cast<size_t>(id) > objs.size()) objs.resize(static_cast<size_t>(id), "null");
    objs[static_cast<size_t>(id) - 1] = std::move(obj);
  }
  std::string str() const { return quorvel::test::build_pdf(objs); }
  std::vector<std::string> objs;
};

std::string ref(int id) { return std::to_string(id) + " 0 R"; }

// Outline root at object `root`; `items` are written by the caller.
PdfBuilder outline_doc(int pages) { return PdfBuilder(pages, "/Outlines " + ref(3 + pages) + " "); }

size_t count_items(const std::vector<OutlineItem>& items) {
  size_t n = items.size();
  for (const OutlineItem& i : items) n += count_items(i.children);
  return n;
}

int depth_of(const std::vector<OutlineItem>& items) {
  int d = 0;
  for (const OutlineItem& i : items) d = std::max(d, 1 + depth_of(i.children));
  return d;
}

// Titles, pages and nesting in one string, for comparing trees.
std::string flat(const std::vector<OutlineItem>& items) {
  std::string out;
  for (const OutlineItem& i : items) out += "(" + i.title + " " + std::to_string(i.page) + flat(i.children) + ")";
  return out;
}

TEST(Outline, TitlesPagesAndChildren) {
  PdfBuilder b = outline_doc(3);
  const int root = b.first_free(), intro = root + 1, second = root + 2, last = root + 3, child = root + 4;
  b.set(root, "<< /Type /Outlines /First " + ref(intro) + " /Last " + ref(last) + " /Count 4 >>");
  b.set(intro, "<< /Title (Intro) /Parent " + ref(root) + " /Next " + ref(second) + " /Dest [" +
                   PdfBuilder::page_ref(0) + " /XYZ 0 792 0] >>");
  b.set(second, "<< /Title <FEFF041F04400438043204350442> /Parent " + ref(root) + " /Prev " + ref(intro) +
                    " /Next " + ref(last) + " /First " + ref(child) + " /Last " + ref(child) +
                    " /A << /S /GoTo /D [" + PdfBuilder::page_ref(1) + " /Fit] >> >>");
  b.set(child, "<< /Title () /Parent " + ref(second) + " /Dest [" + PdfBuilder::page_ref(2) + " /Fit] >>");
  // Page 1 of another file is no page of this one.
  b.set(last, "<< /Title (No target) /Parent " + ref(root) + " /Prev " + ref(second) +
                  " /A << /S /GoToR /F (other.pdf) /D [1 /Fit] >> >>");
  auto doc = open_pdf(b.str());
  const std::vector<OutlineItem> out = doc->outline();
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0].title, "Intro");
  EXPECT_EQ(out[0].page, 0);
  EXPECT_TRUE(out[0].children.empty());
  EXPECT_EQ(out[1].title, "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82");  // Привет
  EXPECT_EQ(out[1].page, 1);
  ASSERT_EQ(out[1].children.size(), 1u);
  EXPECT_EQ(out[1].children[0].title, "");
  EXPECT_EQ(out[1].children[0].page, 2);
  EXPECT_EQ(out[2].title, "No target");
  EXPECT_EQ(out[2].page, -1);
  EXPECT_TRUE(doc->has_outline());

  // Without a tree, and with a root that has no bookmark, there is nothing to show.
  auto none = open_pdf(test::text_pdf({"no outline"}));
  EXPECT_TRUE(none->outline().empty());
  EXPECT_FALSE(none->has_outline());
  PdfBuilder bare = outline_doc(1);
  bare.set(bare.first_free(), "<< /Type /Outlines /Count 0 >>");
  auto empty_root = open_pdf(bare.str());
  EXPECT_TRUE(empty_root->outline().empty());
  EXPECT_FALSE(empty_root->has_outline());
}

// Builds an outline from a description: each bookmark names its first child and next sibling
// by index into `items` (-1 for none); item 0 is the first top-level bookmark.
struct Shape {
  int first = -1;
  int next = -1;
};

std::string shaped_outline(const std::vector<Shape>& items) {
  PdfBuilder b = outline_doc(1);
  const int root = b.first_free();
  auto id = [&](int i) { return root + 1 + i; };
  b.set(root, "<< /Type /Outlines /First " + ref(id(0)) + " >>");
  for (size_t i = 0; i < items.size(); ++i) {
    std::string obj = "<< /Title (b" + std::to_string(i) + ") /Dest [" + PdfBuilder::page_ref(0) + " /Fit]";
    if (items[i].first >= 0) obj += " /First " + ref(id(items[i].first));
    if (items[i].next >= 0) obj += " /Next " + ref(id(items[i].next));
    b.set(id(static_cast<int>(i)), obj + " >>");
  }
  return b.str();
}

TEST(Outline, LimitsAndLoops) {
  std::vector<Shape> nested(40);
  for (int i = 0; i + 1 < 40; ++i) nested[i].first = i + 1;
  std::vector<Shape> siblings(6000);
  for (int i = 0; i + 1 < 6000; ++i) siblings[i].next = i + 1;
  // Three top-level bookmarks with 4,000 children each, as a large manual has: all of them count.
  std::vector<Shape> wide;
  for (int t = 0; t < 3; ++t) {
    const int top = static_cast<int>(wide.size());
    wide.push_back({top + 1, -1});
    for (int c = 0; c < 4000; ++c) wide.push_back({-1, c + 1 < 4000 ? top + 2 + c : -1});
    if (t < 2) wide[static_cast<size_t>(top)].next = top + 4001;
  }
  const struct {
    const char* name;
    std::vector<Shape> shape;
    size_t items;
    int depth;
    size_t top_level;
  } table[] = {
      {"40 levels", nested, 33, 33, 1},
      {"6000 siblings", siblings, 5000, 1, 5000},
      {"own first child and next sibling", {{0, 0}}, 1, 1, 1},
      {"two siblings in a ring", {{-1, 1}, {-1, 0}}, 2, 1, 2},
      {"child points back to parent", {{1, -1}, {0, -1}}, 2, 2, 1},
      {"child is the next sibling too", {{1, 1}, {-1, -1}}, 2, 2, 1},
      {"12,003 bookmarks", wide, 12003, 2, 3},
  };
  for (const auto& row : table) {
    auto doc = open_pdf(shaped_outline(row.shape));
    const std::vector<OutlineItem> out = doc->outline();
    EXPECT_EQ(count_items(out), row.items) << row.name;
    EXPECT_EQ(depth_of(out), row.depth) << row.name;
    EXPECT_EQ(out.size(), row.top_level) << row.name;
    EXPECT_EQ(doc->has_outline(), !out.empty()) << row.name;
    const auto stepped = doc->outline_at(doc->revision(), [] { return false; });
    ASSERT_TRUE(stepped) << row.name;
    EXPECT_EQ(flat(*stepped), flat(out)) << row.name;
    if (!out.empty()) {
      EXPECT_EQ(out[0].title, "b0") << row.name;
    }
  }
  // The last list comes back whole and in order.
  const std::vector<OutlineItem> out = open_pdf(shaped_outline(wide))->outline();
  ASSERT_EQ(out.size(), 3u);
  ASSERT_EQ(out[2].children.size(), 4000u);
  EXPECT_EQ(out[2].title, "b8002");
  EXPECT_EQ(out[2].children.front().title, "b8003");
  EXPECT_EQ(out[2].children.back().title, "b12002");
  EXPECT_EQ(out[2].children.back().page, 0);
}

// The read beside the window: asked whether to stop before every bookmark, with the engine
// free for an edit meanwhile, and giving nothing once the document left the revision read.
TEST(Outline, ReadInSteps) {
  std::vector<Shape> chain(50);
  for (int i = 0; i + 1 < 50; ++i) chain[i].next = i + 1;
  chain[3].first = 49;
  chain[48].next = -1;
  const std::string pdf = shaped_outline(chain);
  enum Act { None, Stop, Edit };
  const struct {
    const char* name;
    int at;  // the question before which the act happens
    Act act;
    bool stale;  // an edit after the revision was taken, before the read
    bool whole;
  } table[] = {
      {"read through", -1, None, false, true},
      {"stopped between bookmarks", 10, Stop, false, false},
      {"edited between bookmarks", 10, Edit, false, false},
      {"edited before the last bookmark", 50, Edit, false, false},
      {"edited before the read", -1, None, true, false},
  };
  for (const auto& row : table) {
    auto doc = open_pdf(pdf);
    const uint64_t since = doc->revision();
    if (row.stale) {
      ASSERT_TRUE(doc->rotate_page(0, 1)) << row.name;
    }
    int asked = 0;
    const auto tree = doc->outline_at(since, [&] {
      if (++asked != row.at) return false;
      if (row.act == Stop) return true;
      EXPECT_TRUE(doc->rotate_page(0, 1)) << row.name;
      return false;
    });
    EXPECT_EQ(tree.has_value(), row.whole) << row.name;
    if (row.at > 0) {
      EXPECT_EQ(asked, row.at) << row.name;
    }
    if (tree) {
      EXPECT_EQ(flat(*tree), flat(doc->outline())) << row.name;
      EXPECT_EQ(asked, 50) << row.name;
    }
  }
}

TEST(Outline, ItemCopiesAreDeep) {
  OutlineItem a{"a", 0, {{"b", 1, {{"c", 2, {{"d", 3, {}}}}}}}};
  OutlineItem copy = a;
  copy.children[0].children[0].children[0].title = "changed";
  copy.children[0].page = 9;
  EXPECT_EQ(a.children[0].children[0].children[0].title, "d");
  EXPECT_EQ(a.children[0].page, 1);
}

TEST(Links, TargetsAndRectangles) {
  const std::string annots =
      "/Annots ["
      "<< /Type /Annot /Subtype /Link /Rect [300 400 100 200] /Dest [7 0 R /XYZ 0 0 0] >> "
      "<< /Type /Annot /Subtype /Link /Rect [10 10 50 50] /A << /S /URI /URI (https://example.org/a?b=1) >> >> "
      "<< /Type /Annot /Subtype /Link /Rect [10 60 50 90] /A << /S /Launch /F (calc.exe) >> >> "
      "<< /Type /Annot /Subtype /Link /Rect [10 60 50 90] /A << /S /URI /URI () >> >> "
      "<< /Type /Annot /Subtype /Link /Rect [60 60 90 90] /A << /S /GoTo /D [9 0 R /Fit] >> >> "
      "<< /Type /Annot /Subtype /Link /Rect [60 60 90 90] /Dest /Nowhere >> "
      "<< /Type /Annot /Subtype /Link /Rect [60 60 90 90] /A << /S /GoToR /F (other.pdf) /D [0 /Fit] >> >> "
      "<< /Type /Annot /Subtype /Link /Rect [60 60 90 90] /A << /S /GoToE /T << /R /C /N (a) >> /D [1 /Fit] >> >> "
      "<< /Type /Annot /Subtype /Text /Rect [60 60 90 90] /Contents (note) >> "
      "]";
  const std::string shifted_annots =
      "/Annots [<< /Type /Annot /Subtype /Link /Rect [150 750 250 780] /A << /S /URI /URI (mailto:a@b.c) >> >>]";
  auto doc = open_pdf(make_pdf({{612, 792, "", annots, ""},
                                {612, 792, "", "", ""},
                                {0, 0, "", shifted_annots, "[100 100 712 892]"}}));
  const struct {
    double x0, y0, x1, y1;
    int page;
    const char* uri;
  } want[] = {
      {100, 200, 300, 400, 1, ""},
      {10, 10, 50, 50, -1, "https://example.org/a?b=1"},
      {60, 60, 90, 90, 2, ""},
  };
  const std::vector<Link> links = doc->links(0);
  ASSERT_EQ(links.size(), std::size(want));
  for (size_t i = 0; i < links.size(); ++i) {
    EXPECT_DOUBLE_EQ(links[i].x0, want[i].x0) << i;
    EXPECT_DOUBLE_EQ(links[i].y0, want[i].y0) << i;
    EXPECT_DOUBLE_EQ(links[i].x1, want[i].x1) << i;
    EXPECT_DOUBLE_EQ(links[i].y1, want[i].y1) << i;
    EXPECT_EQ(links[i].page, want[i].page) << i;
    EXPECT_EQ(links[i].uri, want[i].uri) << i;
  }

  const std::vector<Link> shifted = doc->links(2);
  ASSERT_EQ(shifted.size(), 1u);
  EXPECT_DOUBLE_EQ(shifted[0].x0, 50);
  EXPECT_DOUBLE_EQ(shifted[0].y0, 650);
  EXPECT_DOUBLE_EQ(shifted[0].x1, 150);
  EXPECT_DOUBLE_EQ(shifted[0].y1, 680);
  EXPECT_EQ(shifted[0].uri, "mailto:a@b.c");

  EXPECT_TRUE(doc->links(1).empty());
  EXPECT_TRUE(doc->links(-1).empty());
  EXPECT_TRUE(doc->links(3).empty());
}

std::string with_header(std::string pdf, const std::string& header) {
  // Same length, so the cross-reference offsets stay right.
  return pdf.replace(0, header.size(), header);
}

TEST(Metadata, VersionTitleAuthor) {
  const std::string info = "<< /Title (Quarterly report) /Author <FEFF041804320430043D> >>";
  const std::string plain = make_pdf({{}}, info);
  const struct {
    const char* name;
    std::string pdf;
    std::string version, title, author;
  } table[] = {
      {"1.7 with info", plain, "1.7", "Quarterly report", "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD"},
      {"1.4", with_header(plain, "%PDF-1.4"), "1.4", "Quarterly report", "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD"},
      {"2.0", with_header(plain, "%PDF-2.0"), "2.0", "Quarterly report", "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD"},
      {"no info", make_pdf({{}}), "1.7", "", ""},
      {"empty title", make_pdf({{}}, "<< /Title () >>"), "1.7", "", ""},
  };
  for (const auto& row : table) {
    auto doc = open_pdf(row.pdf);
    ASSERT_NE(doc, nullptr) << row.name;
    const DocMetadata m = doc->metadata();
    EXPECT_EQ(m.version, row.version) << row.name;
    EXPECT_EQ(m.title, row.title) << row.name;
    EXPECT_EQ(m.author, row.author) << row.name;
    EXPECT_FALSE(m.encrypted) << row.name;
  }
}

TEST(Metadata, EncryptionFlag) {
  const std::string plain = make_pdf({{}}, "<< /Title (Secret plan) >>");
  const struct {
    const char* name;
    std::string user, owner, open_with;
    int bits;
  } table[] = {
      {"owner password only", "", "owner-pw", "", 256},
      {"user password", "user-pw", "owner-pw", "user-pw", 256},
  };
  for (const auto& row : table) {
    const std::string locked = test::qpdf_encrypt(plain, row.user, row.owner, row.bits);
    ASSERT_FALSE(locked.empty()) << row.name;
    auto doc = open_pdf(locked, row.open_with);
    ASSERT_NE(doc, nullptr) << row.name;
    const DocMetadata m = doc->metadata();
    EXPECT_TRUE(m.encrypted) << row.name;
    EXPECT_EQ(m.title, "Secret plan") << row.name;
  }
}

}  // namespace
