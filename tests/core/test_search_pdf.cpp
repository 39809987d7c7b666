// Search, ranking, extraction and compare over real PDFs read by the engine.
#include <gtest/gtest.h>

#include "common/fixtures.h"
#include "core/diff.h"
#include "core/extract.h"
#include "core/rank.h"
#include "core/search.h"

using namespace quorvel;

namespace {

std::unique_ptr<IDocument> open_pdf(const std::string& bytes) {
  static auto engine = make_engine(EngineKind::Pdfium);
  return engine->open(test::as_bytes(bytes), "");
}

std::string page_text(const IDocument& doc, int page) {
  std::string text;
  for (const TextRun& run : doc.extract_text(page).runs) {
    if (!text.empty()) text += '\n';
    text += run.text;
  }
  return text;
}

TEST(SearchPdf, HitsHaveBoxesInsideTheirRun) {
  auto doc = open_pdf(test::text_pdf({"nothing to see", "pay the invoice, then pay again", "Pay later"}));
  ASSERT_NE(doc, nullptr);
  const auto hits = search::search_document(*doc, "pay", search::Options{false, true, false}, 100);
  ASSERT_EQ(hits.size(), 3u);
  EXPECT_EQ(hits[0].page, 1);
  EXPECT_EQ(hits[1].page, 1);
  EXPECT_EQ(hits[2].page, 2);
  const TextPage page = doc->extract_text(1);
  const TextRun& run = page.runs[hits[1].run];
  EXPECT_EQ(run.text.substr(hits[1].offset, 3), "pay");
  // Text is drawn at (72, 720) in 12-point type: the second hit lies right of the first, on the line.
  EXPECT_TRUE(hits[0].chars.empty());
  EXPECT_GE(hits[0].left, 71.0);
  EXPECT_GT(hits[1].left, hits[0].right);
  EXPECT_GT(hits[0].top, hits[0].bottom);
  EXPECT_GT(hits[0].top, 715.0);
  EXPECT_LT(hits[0].bottom, 735.0);
  EXPECT_LE(hits[1].right, run.right + 0.5);
}

TEST(SearchPdf, RedactionBoxesRankingAndCompare) {
  auto doc = open_pdf(test::text_pdf({"Contact a.b@example.com on 01.02.2024", "budget budget", "budget"}));
  ASSERT_NE(doc, nullptr);
  const auto entities = extract::extract_entities(page_text(*doc, 0));
  ASSERT_EQ(entities.size(), 2u);
  EXPECT_EQ(entities[0].value, "a.b@example.com");
  EXPECT_EQ(entities[1].value, "01.02.2024");
  const auto boxes = extract::pii_rects(doc->extract_text(0), {entities[0].value, entities[1].value});
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_LT(boxes[0].x1, boxes[1].x0);  // the address stands before the date
  EXPECT_GT(boxes[0].y1, boxes[0].y0);

  const auto ranked = search::rank_pages(*doc, "budget", 5);
  ASSERT_EQ(ranked.size(), 2u);
  EXPECT_EQ(ranked[0].page, 1);
  EXPECT_EQ(ranked[1].page, 2);

  auto other = open_pdf(test::text_pdf({"Contact a.b@example.com on 01.02.2024", "budget cut"}));
  ASSERT_NE(other, nullptr);
  const auto diffs = diff::compare_documents(*doc, *other);
  ASSERT_EQ(diffs.size(), 3u);
  EXPECT_FALSE(diffs[0].changed);
  EXPECT_EQ(diffs[1].added, 1);
  EXPECT_EQ(diffs[1].removed, 1);
  EXPECT_EQ(diffs[2].removed, 1);
  EXPECT_EQ(diffs[2].added, 0);
}

}  // namespace
