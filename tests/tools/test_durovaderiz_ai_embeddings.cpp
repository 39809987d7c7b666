// The stand-in's offline embeddings: one vector per text, in order, fixed for a text, closer
// for texts that share words (also in other forms of a Russian word).
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <vector>

#include "core/rank.h"
#include "routes.h"

using namespace durovaderiz;

namespace {

Response post(const std::string& body) {
  Request req;
  req.method = "POST";
  req.path = "/ai/embeddings";
  req.body = body;
  return dispatch(req);
}

std::vector<std::vector<float>> vectorsOf(const QStringList& texts) {
  const QJsonObject in{{"provider", "gigachat"}, {"api_key", "k"}, {"base_url", ""},
                       {"texts", QJsonArray::fromStringList(texts)}};
  const Response r = post(QJsonDocument(in).toJson().toStdString());
  EXPECT_EQ(r.status, 200) << r.body;
  EXPECT_EQ(r.content_type, "application/json");
  std::vector<std::vector<float>> out;
  for (const QJsonValue& v : QJsonDocument::fromJson(QByteArray::fromStdString(r.body))["vectors"].toArray()) {
    std::vector<float> vec;
    for (const QJsonValue& x : v.toArray()) vec.push_back(float(x.toDouble()));
    out.push_back(vec);
  }
  return out;
}

}  // namespace

TEST(AiEmbeddings, OneVectorPerTextThatRanksSharedWordsHigher) {
  const QStringList texts{"срок оплаты", "Погода в Москве была хорошей.", "Оплата производится в срок десять дней.",
                          " ", "Срок оплаты"};
  const auto v = vectorsOf(texts);
  ASSERT_EQ(v.size(), size_t(texts.size()));
  for (const auto& x : v) EXPECT_EQ(x.size(), v[0].size());
  using quorvel::search::cosine_similarity;
  // "оплаты" and "оплата" share their stem; the weather page shares nothing.
  EXPECT_GT(cosine_similarity(v[0], v[2]), 0.5);
  EXPECT_EQ(cosine_similarity(v[0], v[1]), 0.0);
  // A text without words resembles nothing; letter case does not matter.
  EXPECT_EQ(cosine_similarity(v[0], v[3]), 0.0);
  EXPECT_EQ(v[0], v[4]);
  // The same text gives the same vector in another request.
  EXPECT_EQ(vectorsOf({"Погода в Москве была хорошей."})[0], v[1]);
  EXPECT_TRUE(vectorsOf({}).empty());
}

TEST(AiEmbeddings, RefusesABodyWithoutTexts) {
  for (const char* body : {"not json", "[1]", R"({"texts":"a"})", R"({"provider":"gigachat"})", R"({"texts":["a",2]})"})
    EXPECT_EQ(post(body).status, 400) << body;
}

TEST(AiEmbeddings, AnswersManyTinyTextsOnlyWithinTheRequestsMemory) {
  // A short body of one-letter texts asks for an answer hundreds of times its size.
  const auto body = [](int count) {
    std::string b = R"({"texts":[)";
    for (int i = 0; i < count; ++i) b += i ? R"(,"a")" : R"("a")";
    return b + "]}";
  };
  WorkLimits limits;
  limits.memory = 8u << 20;
  Request req;
  req.method = "POST";
  req.path = "/ai/embeddings";
  req.body = body(100000);
  req.work = std::make_shared<Work>(limits);
  // The server turns a refusal thrown from deep inside into the answer.
  Response refused;
  try {
    refused = dispatch(req);
  } catch (const WorkRefused& no) {
    refused = text_reply(no.status, no.what);
  }
  EXPECT_EQ(refused.status, 413);
  EXPECT_NE(refused.body.find("memory"), std::string::npos) << refused.body;

  req.body = body(1000);
  req.work = std::make_shared<Work>(limits);
  const Response r = dispatch(req);
  ASSERT_EQ(r.status, 200);
  EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromStdString(r.body))["vectors"].toArray().size(), 1000);
}
