#include <gtest/gtest.h>

#include <cstring>

#include "common/fixtures.h"
#include "core/engine.h"

using namespace quorvel;
using quorvel::test::as_bytes;

namespace {

std::unique_ptr<IPdfEngine> engine() { return make_engine(EngineKind::Pdfium); }

TEST(Engine, OnlyPdfiumKind) {
  EXPECT_NE(make_engine(EngineKind::Pdfium), nullptr);
  for (int k : {1, -1, 2, 1000}) EXPECT_EQ(make_engine(static_cast<EngineKind>(k)), nullptr) << k;
  const EngineCapabilities caps = engine()->capabilities();
  EXPECT_TRUE(caps.renders && caps.reads_text && caps.edits);
}

TEST(Engine, PasswordMatrix) {
  const std::string plain = test::text_pdf({"one", "two"});
  const std::string locked = test::qpdf_encrypt(plain, "user-pw", "owner-pw");
  // AES-256 whose /Perms contradicts /P: PDFium refuses every password, qpdf decrypts it.
  const std::string sealed_open = test::permissions_disagree(test::qpdf_encrypt(plain, "", "owner-pw"));
  const std::string sealed = test::permissions_disagree(locked);
  ASSERT_FALSE(locked.empty() || sealed_open.empty() || sealed.empty()) << "qpdf could not make the fixtures";
  std::string damaged = plain.substr(0, 40);

  const struct {
    const char* name;
    const std::string* bytes;
    const char* password;
    bool opens;
    bool needs_password;
  } table[] = {
      {"plain, no password", &plain, "", true, false},
      {"plain, any password", &plain, "whatever", true, false},
      {"locked, no password", &locked, "", false, true},
      {"locked, wrong", &locked, "nope", false, true},
      {"locked, user", &locked, "user-pw", true, false},
      {"locked, owner", &locked, "owner-pw", true, false},
      {"damaged", &damaged, "", false, false},
      {"sealed, empty user password", &sealed_open, "", true, false},
      {"sealed, no password", &sealed, "", false, true},
      {"sealed, wrong", &sealed, "nope", false, true},
      {"sealed, user", &sealed, "user-pw", true, false},
      {"sealed, owner", &sealed, "owner-pw", true, false},
  };
  auto e = engine();
  for (const auto& row : table) {
    auto doc = e->open(as_bytes(*row.bytes), row.password);
    EXPECT_EQ(doc != nullptr, row.opens) << row.name;
    EXPECT_EQ(e->last_open_needs_password(), row.needs_password) << row.name;
    if (doc) {
      EXPECT_EQ(doc->page_count(), 2) << row.name;
      EXPECT_EQ(doc->extract_text(1).runs.at(0).text, "two") << row.name;
      // Page edits start from the file the document lives on, a decrypted copy for the sealed.
      EXPECT_TRUE(doc->insert_blank_page(0, 100, 100)) << row.name;
      EXPECT_EQ(doc->page_count(), 3) << row.name;
    }
  }
}

// A document that lives on qpdf's decrypted copy is saved protected as its file was: the copy
// asks for the same password, and none of its text is readable without it.
TEST(Engine, CopiesOfADecryptedDocumentStayProtected) {
  const std::string plain = test::text_pdf({"secret text"});
  const std::string sealed = test::permissions_disagree(test::qpdf_encrypt(plain, "user-pw", "owner-pw"));
  ASSERT_FALSE(sealed.empty()) << "qpdf could not make the fixture";
  auto e = engine();
  auto doc = e->open(as_bytes(sealed), "user-pw");
  ASSERT_NE(doc, nullptr);
  test::TempDir dir;
  for (bool edited : {false, true}) {
    if (edited) {
      ASSERT_TRUE(doc->insert_blank_page(0, 100, 100));
    }
    const std::string path = dir.path() + (edited ? "/edited.pdf" : "/copy.pdf");
    ASSERT_TRUE(doc->save_as(path, {})) << path;
    const std::string saved = test::read_file(path);
    EXPECT_EQ(saved.find("secret text"), std::string::npos) << path;
    EXPECT_EQ(e->open(as_bytes(saved), ""), nullptr) << path;
    EXPECT_TRUE(e->last_open_needs_password()) << path;
    auto back = e->open(as_bytes(saved), "user-pw");
    ASSERT_NE(back, nullptr) << path;
    EXPECT_EQ(back->page_count(), edited ? 2 : 1) << path;
  }
}

TEST(Engine, WrongThenRightPassword) {
  const std::string locked = test::qpdf_encrypt(test::text_pdf({"x"}), "secret", "owner");
  auto e = engine();
  EXPECT_EQ(e->open(as_bytes(locked), "bad"), nullptr);
  EXPECT_TRUE(e->last_open_needs_password());
  EXPECT_NE(e->open(as_bytes(locked), "secret"), nullptr);
  EXPECT_FALSE(e->last_open_needs_password());
}

// PDFium reports a tree without kids as one page (the tree itself) and a tree of nulls as
// pages that do not load; neither has a page to read. A wrong /Count over real kids does.
TEST(Engine, TellsPageTreesWithoutAReadablePage) {
  const struct {
    const char* name;
    const char* tree;
    int pages;
    bool readable;
  } table[] = {
      {"sound", "/Kids [3 0 R] /Count 1", 1, true},
      {"no kids", "/Count 0", 1, false},
      {"no kids, absurd count", "/Count 9999999999", 1, false},
      {"empty kids", "/Kids [] /Count 0", 0, false},
      {"nulls only", "/Kids [null null] /Count 2", 2, false},
      {"kids a null", "/Kids null /Count 1", 1, false},
      {"count 0 over a real kid", "/Kids [3 0 R] /Count 0", 1, true},
      {"absurd count over a real kid", "/Kids [3 0 R] /Count 9999999999", 1, true},
  };
  auto e = engine();
  for (const auto& row : table) {
    const std::string pdf = test::tree_pdf(row.tree);
    auto doc = e->open(as_bytes(pdf), "");
    ASSERT_NE(doc, nullptr) << row.name;
    EXPECT_EQ(doc->page_count(), row.pages) << row.name;
    EXPECT_EQ(has_readable_page(*doc), row.readable) << row.name;
  }
}

TEST(Engine, EmptyBytesNeverReachTheLibrary) {
  auto e = engine();
  EXPECT_EQ(e->open({}, ""), nullptr);
  EXPECT_FALSE(e->last_open_needs_password());
  const std::string locked = test::qpdf_encrypt(test::text_pdf({"x"}), "pw", "o");
  e->open(as_bytes(locked), "");
  ASSERT_TRUE(e->last_open_needs_password());
  EXPECT_EQ(e->open({}, "pw"), nullptr);
  EXPECT_FALSE(e->last_open_needs_password());
}

TEST(Engine, DocumentKeepsItsOwnCopyAndOutlivesEngine) {
  std::string bytes = test::text_pdf({"a", "b", "c"});
  auto e = engine();
  auto doc = e->open(as_bytes(bytes), "");
  ASSERT_NE(doc, nullptr);
  std::memset(bytes.data(), 0, bytes.size());
  bytes.clear();
  bytes.shrink_to_fit();
  e.reset();
  EXPECT_EQ(doc->page_count(), 3);
}

TEST(Engine, TwoDocumentsAlternate) {
  auto e = engine();
  const std::string a = test::text_pdf({"a1", "a2"});
  const std::string b = test::text_pdf({"b1", "b2", "b3"});
  auto da = e->open(as_bytes(a), "");
  auto db = e->open(as_bytes(b), "");
  ASSERT_TRUE(da && db);
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(da->page_count(), 2);
    EXPECT_EQ(db->page_count(), 3);
    RenderRequest req{1.0, 0, 0, 10, 10, 0};
    da->render_tile(i % 2, req);
    db->render_tile(i % 3, req);
  }
}

TEST(Engine, FormOperationsWithoutFormDoNothing) {
  auto e = engine();
  auto doc = e->open(as_bytes(test::text_pdf({"no form here"})), "");
  ASSERT_NE(doc, nullptr);
  EXPECT_FALSE(doc->has_form());
  doc->form_char('x');  // before any click
  doc->form_click(0, 100, 100, true);
  doc->form_click(0, 100, 100, false);
  doc->form_char('x');
  doc->form_key(8, true);
  doc->form_key(8, false);
  doc->form_click(99, 1, 1, true);
  EXPECT_EQ(doc->page_count(), 1);
}

// The base versions of the optional operations, as an engine that provides none of them.
class MinimalDocument : public IDocument {
 public:
  int page_count() const override { return 1; }
  PageInfo page_info(int) const override { return {612, 792, 0}; }
  RenderedTile render_tile(int, const RenderRequest&) override { return {}; }
  TextPage extract_text(int) const override { return {}; }
  DocMetadata metadata() const override { return {}; }
};

TEST(Engine, BaseVersionsReportNothingDone) {
  MinimalDocument d;
  EXPECT_TRUE(d.outline().empty());
  EXPECT_TRUE(d.links(0).empty());
  EXPECT_FALSE(d.has_form());
  d.form_click(0, 1, 1, true);
  d.form_char(65);
  d.form_key(8, true);
  EXPECT_FALSE(d.save_as("/nonexistent/x.pdf", {}));
  EXPECT_FALSE(d.delete_page(0));
  EXPECT_FALSE(d.rotate_page(0, 1));
  EXPECT_FALSE(d.move_page(0, 1));
  EXPECT_FALSE(d.merge({}, 0));
  EXPECT_FALSE(d.save_range("x", 0, 0));
  EXPECT_FALSE(d.save_nup("x", 2, 2));
  EXPECT_FALSE(d.insert_blank_page(0, 612, 792));
  EXPECT_TRUE(d.list_images(0).empty());
  EXPECT_FALSE(d.delete_image(0, 0));
  EXPECT_FALSE(d.crop_page(0, 0, 0, 1, 1));
  EXPECT_DOUBLE_EQ(d.crop_origin(0).x, 0);
  EXPECT_DOUBLE_EQ(d.crop_origin(0).y, 0);
  EXPECT_EQ(d.redact(0, {{0, 0, 1, 1}}), 0);
  EXPECT_EQ(d.add_text_layer(0, {{"w", 0, 0, 1, 1}}), 0);
  const uint8_t px[4] = {0, 0, 0, 255};
  EXPECT_FALSE(d.place_image(0, px, 1, 1, 0, 0, 1, 1));
  EXPECT_FALSE(d.stamp_text(0, "s", 12, 0, 0, 0, 255, 0, 0, 0));
  EXPECT_EQ(d.replace_text(0, "a", "b"), 0);
  EXPECT_FALSE(d.insert_text(0, "t", 0, 0, 12, 0));
}

TEST(Engine, OutlineItemCopiesDeep) {
  OutlineItem root{"root", 0, {{"child", 1, {{"grandchild", 2, {}}}}}};
  OutlineItem copy = root;
  copy.children[0].children[0].title = "changed";
  copy.children[0].children.push_back({"extra", 3, {}});
  EXPECT_EQ(root.children[0].children[0].title, "grandchild");
  EXPECT_EQ(root.children[0].children.size(), 1u);
}

}  // namespace
