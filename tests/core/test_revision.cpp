// The document's change counter: every kind of change raises it and reading leaves it, and a
// rewrite whose words or pages were read from an older document applies nothing.
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "test_edit_support.h"
#include "common/time_bound.h"
#include "core/pdfium/pdfium_document.h"

using namespace quorvel;
using namespace quorvel::test;

namespace {

std::vector<TextSpan> one_word(const std::string& text) { return {{text, 100, 40, 150, 52, 0, 3}}; }

std::string page_text_of(IDocument& doc, int page) { return quorvel::page_text(doc.extract_text(page)); }

}  // namespace

TEST(Revision, ChangesRaiseItAndReadsLeaveIt) {
  struct Row {
    const char* what;
    std::function<void(IDocument&, const std::string& dir)> act;
    bool changes;
  };
  const std::vector<Row> rows{
      {"reads", [](IDocument& d, const std::string&) {
         d.page_info(0);
         d.extract_text(1);
         d.render_tile(0, RenderRequest{1.0, 0, 0, 50, 50, 0});
         d.links(0);
         d.source_bytes();
       }, false},
      {"saves", [](IDocument& d, const std::string& dir) {
         EXPECT_TRUE(d.save_as(dir + "/copy.pdf", {}));
         EXPECT_TRUE(d.save_range(dir + "/range.pdf", 0, 1));
       }, false},
      {"rotation", [](IDocument& d, const std::string&) { EXPECT_TRUE(d.rotate_page(0, 1)); }, true},
      {"crop", [](IDocument& d, const std::string&) { EXPECT_TRUE(d.crop_page(1, 10, 10, 300, 300)); }, true},
      {"deletion", [](IDocument& d, const std::string&) { EXPECT_TRUE(d.delete_page(2)); }, true},
      {"move", [](IDocument& d, const std::string&) { EXPECT_TRUE(d.move_page(0, 2)); }, true},
      {"blank page", [](IDocument& d, const std::string&) { EXPECT_TRUE(d.insert_blank_page(1, 200, 200)); }, true},
      {"stamp", [](IDocument& d, const std::string&) { EXPECT_TRUE(d.stamp_text(0, "X", 12, 0, 0, 0, 255, 50, 50, 0)); }, true},
      {"text layer", [](IDocument& d, const std::string&) { EXPECT_EQ(d.add_text_layer(0, one_word("layer")), 1); }, true},
      {"redaction", [](IDocument& d, const std::string&) { EXPECT_GT(d.redact(1, {{0, 0, 612, 792}}), 0); }, true},
  };
  const std::string pdf = text_pdf({"one", "two", "three"});
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    TempDir dir;
    auto doc = open_pdf(pdf);
    ASSERT_TRUE(doc);
    const uint64_t before = doc->revision();
    row.act(*doc, dir.path());
    EXPECT_EQ(doc->revision() != before, row.changes);
  }
}

// Words recognised on the document as it was go nowhere once a page was deleted since: they
// would land on the page that took its place.
TEST(Revision, TextLayerReadFromAnOlderDocumentAppliesNothing) {
  auto doc = open_pdf(text_pdf({"one", "two", "three"}));
  ASSERT_TRUE(doc);
  const uint64_t read = doc->revision();
  ASSERT_TRUE(doc->delete_page(0));
  EXPECT_EQ(doc->add_text_layers({{0, one_word("recognised")}}, read), std::vector<int>{0});
  EXPECT_EQ(doc->page_count(), 2);
  EXPECT_EQ(page_text_of(*doc, 0).find("recognised"), std::string::npos);
  EXPECT_EQ(doc->add_text_layers({{0, one_word("recognised")}}, doc->revision()), std::vector<int>{1});
  EXPECT_NE(page_text_of(*doc, 0).find("recognised"), std::string::npos);
}

namespace {

std::unique_ptr<IDocument> many_pages() {
  return open_pdf(text_pdf(std::vector<std::string>(400, "name ivan@mail.ru and more words on the line")));
}

std::vector<std::pair<int, std::vector<annot::Rect>>> every_page(int pages) {
  std::vector<std::pair<int, std::vector<annot::Rect>>> work;
  for (int p = 0; p < pages; ++p) work.push_back({p, {{0, 0, 612, 792}}});
  return work;
}

}  // namespace

// A redaction of many pages rewrites the document with qpdf outside the engine's lock: another
// document renders meanwhile without waiting for the rewrite.
TEST(Revision, RedactionOfManyPagesLeavesTheEngineFree) {
  auto big = many_pages();
  auto other = open_pdf(text_pdf({"other"}));
  ASSERT_TRUE(big && other);
  const auto work = every_page(big->page_count());

  std::atomic<bool> done{false};
  std::vector<int> painted;
  std::thread redaction([&] {
    painted = big->redact_pages(work);
    done = true;
  });
  using Clock = std::chrono::steady_clock;
  Clock::duration worst{};
  int renders = 0;
  while (!done) {
    const auto start = Clock::now();
    const RenderedTile tile = other->render_tile(0, RenderRequest{1.0, 0, 0, 200, 200, 0});
    const auto took = Clock::now() - start;
    EXPECT_EQ(tile.width, 200);
    if (!done) {
      worst = std::max(worst, took);
      ++renders;
    }
  }
  redaction.join();
  EXPECT_GE(renders, 3);
  EXPECT_LE(std::chrono::duration_cast<std::chrono::milliseconds>(worst).count(), time_bound_ms(100));
  EXPECT_EQ(std::count(painted.begin(), painted.end(), 1), 400);
  EXPECT_EQ(page_text_of(*big, 399).find("ivan"), std::string::npos);
}

// A page deleted while the rewrite runs stays deleted, whichever comes first: the rewrite then
// gives up rather than swap in the document it copied.
TEST(Revision, PageDeletedDuringARewriteStaysDeleted) {
  auto big = many_pages();
  ASSERT_TRUE(big);
  const auto work = every_page(big->page_count());
  std::atomic<bool> started{false};
  std::vector<int> painted;
  std::thread redaction([&] {
    started = true;
    painted = big->redact_pages(work);
  });
  while (!started) std::this_thread::yield();
  EXPECT_TRUE(big->delete_page(0));
  redaction.join();
  EXPECT_EQ(big->page_count(), 399);
  // The redaction reached the document whole (before or after the deletion) or not at all.
  const bool applied = std::count(painted.begin(), painted.end(), 1) > 0;
  for (int page = 0; page < big->page_count(); page += 37)
    EXPECT_EQ(page_text_of(*big, page).find("ivan") == std::string::npos, applied) << page;
}

// A paint's render gives up on an engine held by other work instead of waiting for it, and
// renders as usual once the engine is free.
TEST(RenderSoon, GivesUpOnlyWhileTheEngineIsHeld) {
  auto doc = open_pdf(text_pdf({"one"}));
  ASSERT_TRUE(doc);
  const RenderRequest req{1.0, 0, 0, 100, 100, 0};
  bool busy = true;
  RenderedTile tile;
  {
    std::lock_guard<std::mutex> held(pdfium::lock());
    std::thread paint([&] { tile = doc->render_tile_soon(0, req, 20, busy); });
    paint.join();
  }
  EXPECT_TRUE(busy);
  EXPECT_EQ(tile.width, 0);
  tile = doc->render_tile_soon(0, req, 20, busy);
  EXPECT_FALSE(busy);
  EXPECT_EQ(tile.width, 100);
  EXPECT_EQ(tile.pixels, doc->render_tile(0, req).pixels);
}
