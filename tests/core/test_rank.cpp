#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "common/text_doc.h"
#include "core/rank.h"

using namespace quorvel;
using namespace quorvel::search;

using quorvel::test::TextDoc;

namespace {

std::vector<int> pages_of(const std::vector<RankedPage>& ranked) {
  std::vector<int> out;
  for (const RankedPage& r : ranked) out.push_back(r.page);
  return out;
}

double score_of(const IDocument& doc, const char* query) {
  auto r = rank_pages(doc, query, 10);
  return r.empty() ? 0.0 : r[0].score;
}

TEST(RankPages, TokensAndWeights) {
  auto one = TextDoc::of_texts({"the contract is here"});
  EXPECT_NEAR(score_of(one, "contract"), 0.2877, 5e-5);  // ln(2 / 1.5)
  EXPECT_NEAR(score_of(one, "Contract"), 0.2877, 5e-5);

  std::vector<std::string> ten(10, "filler text");
  ten[6] = "a report on things";
  auto doc = TextDoc::of_texts(ten);
  auto ranked = rank_pages(doc, "report", 12);
  ASSERT_EQ(ranked.size(), 1u);
  EXPECT_EQ(ranked[0].page, 6);
  EXPECT_NEAR(ranked[0].score, 1.9924, 5e-5);  // ln(11 / 1.5)
  // A repeated query word counts again, in whatever case it is repeated.
  EXPECT_DOUBLE_EQ(score_of(doc, "report report"), 2 * ranked[0].score);
  EXPECT_DOUBLE_EQ(score_of(doc, "Report REPORT"), 2 * ranked[0].score);

  struct Case {
    const char* page;
    const char* query;
    bool scores;
  };
  const Case cases[] = {
      {"only договор here", "Договор", true},  // case follows Unicode
      {"ДОГОВОР ПОСТАВКИ", "договор", true},
      {"Ёлка", "ёлка", true},
      {"договор", "«договор»", true},         // quotes of any script split words
      {"цена", "цена—договор", true},
      {"only договор here", "договорный", false},
      {"concatenate", "cat", true},            // inside a longer word
      {"x y z", "a b c", false},               // one-letter words are no tokens
      {"я", "я", false},                       // in any script
      {"my mail box", "e-mail", true},
      {"e", "e-mail", false},
      {"snake_case", "_case", true},
      {"no match", "absent", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.page) + " / " + c.query);
    auto d = TextDoc::of_texts({c.page});
    EXPECT_EQ(!rank_pages(d, c.query, 5).empty(), c.scores);
  }
  // 'e-mail' is the single token 'mail'.
  auto mail = TextDoc::of_texts({"mail here", "nothing"});
  EXPECT_DOUBLE_EQ(score_of(mail, "e-mail"), score_of(mail, "mail"));
}

TEST(RankPages, TermFrequencyDocumentFrequencyAndOrder) {
  // df('aa') = 3 of 5; tf counts without overlap: 'aaaa' holds 'aa' twice, 'aaa' once.
  auto doc = TextDoc::of_texts({"aaaa", "zz", "aaa", "aa zz", "none"});
  auto ranked = rank_pages(doc, "aa", 10);
  const double w = std::log(6.0 / 3.5);
  ASSERT_EQ(pages_of(ranked), (std::vector<int>{0, 2, 3}));
  EXPECT_DOUBLE_EQ(ranked[0].score, 2 * w);
  EXPECT_DOUBLE_EQ(ranked[1].score, w);
  EXPECT_DOUBLE_EQ(ranked[2].score, w);  // equal scores keep page order

  auto words = TextDoc::of_texts({"kw", "kw kw", "kw kw kw kw", "kw kw kw", "kw kw kw kw kw"});
  EXPECT_EQ(pages_of(rank_pages(words, "kw", 3)), (std::vector<int>{4, 2, 3}));
  EXPECT_TRUE(rank_pages(words, "kw", 0).empty());
  EXPECT_TRUE(rank_pages(TextDoc({}), "kw", 3).empty());
}

TEST(RankPages, SnippetWindows) {
  struct Case {
    size_t hit;
    size_t length;
    size_t expect_start;
    size_t expect_size;
  };
  const Case cases[] = {
      {10, 300, 0, 120},
      {100, 300, 60, 120},
      {100, 150, 60, 90},  // shorter than the window: up to the end
      {0, 30, 0, 30},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hit);
    std::string text(c.length, '.');
    text.replace(c.hit, 4, "Qzzq");
    auto doc = TextDoc::of_texts({text});
    auto ranked = rank_pages(doc, "qzzq", 1);
    ASSERT_EQ(ranked.size(), 1u);
    EXPECT_EQ(ranked[0].snippet, text.substr(c.expect_start, c.expect_size));
  }
  // The earliest first occurrence of any token anchors the window, and the snippet is cut from
  // the text before lowering, even inside a multi-byte character.
  std::string text = "ЁЁЁЁЁЁЁЁ" + std::string(35, '-') + "Late" + std::string(30, '-') + "ЁЁ early";
  auto doc = TextDoc::of_texts({text});
  auto ranked = rank_pages(doc, "early late", 1);
  ASSERT_EQ(ranked.size(), 1u);
  EXPECT_EQ(ranked[0].snippet, text.substr(11, 120));
  EXPECT_EQ(ranked[0].snippet[0], '\x81');  // the second byte of 'Ё'
  // A text made of several runs: leading empty runs add nothing, a later empty run a line break.
  TextDoc runs({TextPage{{TextRun{"", 0, 0, 0, 0, {}}, TextRun{"Alpha", 0, 0, 0, 0, {}},
                          TextRun{"", 0, 0, 0, 0, {}}, TextRun{"beta", 0, 0, 0, 0, {}}}}});
  auto r = rank_pages(runs, "beta", 1);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].snippet, "Alpha\n\nbeta");
}

TEST(VectorRanking, CosineAndRanking) {
  EXPECT_EQ(cosine_similarity({1, 2}, {1, 2, 3}), 0.0);
  EXPECT_EQ(cosine_similarity({}, {}), 0.0);
  EXPECT_EQ(cosine_similarity({0, 0}, {1, 2}), 0.0);
  EXPECT_NEAR(cosine_similarity({0.3f, -2, 5}, {0.3f, -2, 5}), 1.0, 1e-12);
  EXPECT_NEAR(cosine_similarity({1, 0}, {-1, 0}), -1.0, 1e-12);

  auto doc = TextDoc::of_texts({"zero", "away", std::string(200, 'x'), "close", "same"});
  const std::vector<float> q{1, 0};
  const std::vector<std::vector<float>> vecs{{0, 0}, {-1, 0.5f}, {1, 1}, {1, 0.1f}, {2, 0}};
  auto ranked = rank_by_vectors(doc, q, vecs, 12);
  ASSERT_EQ(pages_of(ranked), (std::vector<int>{4, 3, 2}));
  EXPECT_NEAR(ranked[0].score, 1.0, 1e-12);
  EXPECT_EQ(ranked[2].snippet, std::string(120, 'x'));
  EXPECT_EQ(pages_of(rank_by_vectors(doc, q, vecs, 2)), (std::vector<int>{4, 3}));
  // Exactly one vector per page.
  EXPECT_TRUE(rank_by_vectors(doc, q, {{1, 0}, {1, 0}}, 12).empty());
  EXPECT_TRUE(rank_by_vectors(doc, {}, vecs, 12).empty());
  EXPECT_TRUE(rank_by_vectors(doc, q, vecs, 0).empty());
}

TEST(RagContext, BlocksOrderAndCut) {
  auto doc = TextDoc::of_texts({"intro", "", "the budget and the budget", "budget once"});
  EXPECT_EQ(build_rag_context(doc, "budget", 8000),
            "[стр. 3]\nthe budget and the budget\n[стр. 4]\nbudget once\n");
  // No token, or no page with one: every page in order, an empty page still has its block.
  const std::string all = "[стр. 1]\nintro\n[стр. 2]\n\n[стр. 3]\nthe budget and the budget\n[стр. 4]\nbudget once\n";
  EXPECT_EQ(build_rag_context(doc, "a b c", 8000), all);
  EXPECT_EQ(build_rag_context(doc, "missing", 8000), all);
  // The limit cuts anywhere, also inside a Cyrillic letter of a header.
  for (size_t limit : {size_t{1}, size_t{4}, size_t{20}, size_t{37}, all.size() - 1, all.size(), all.size() + 5}) {
    SCOPED_TRACE(limit);
    EXPECT_EQ(build_rag_context(doc, "", limit), all.substr(0, limit));
  }
  EXPECT_EQ(build_rag_context(doc, "", 4), "[\xd1\x81\xd1");
  EXPECT_EQ(build_rag_context(doc, "budget", 0), "");
  EXPECT_EQ(build_rag_context(TextDoc({}), "budget", 100), "");
}

}  // namespace
