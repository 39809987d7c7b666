// Embeddings without a model: each text becomes a hashed bag of its word stems, so texts that
// share words point the same way. Offline, and the same vector for the same text in every run.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <cmath>
#include <cstdint>
#include <vector>

#include "routes.h"

namespace durovaderiz {

namespace {

constexpr int kDimensions = 256;
// Russian inflects at the end of a word: the first letters stand for the word's forms.
constexpr int kStemChars = 5;

// FNV-1a over the stem's UTF-8 bytes: fixed, unlike Qt's seeded hashes.
uint32_t fnv1a(const QByteArray& bytes) {
  uint32_t h = 2166136261u;
  for (char c : bytes) {
    h ^= static_cast<unsigned char>(c);
    h *= 16777619u;
  }
  return h;
}

QJsonArray embed(const QString& text) {
  static const QRegularExpression word(QStringLiteral("\\w{2,}"), QRegularExpression::UseUnicodePropertiesOption);
  std::vector<double> v(kDimensions, 0.0);
  for (auto it = word.globalMatch(text.toLower()); it.hasNext();)
    v[fnv1a(it.next().captured().left(kStemChars).toUtf8()) % kDimensions] += 1.0;
  double norm = 0.0;
  for (double x : v) norm += x * x;
  norm = std::sqrt(norm);
  QJsonArray out;
  // A text without words stays the zero vector, which resembles nothing.
  for (double x : v) out.append(norm > 0.0 ? x / norm : 0.0);
  return out;
}

}  // namespace

Response handle_ai_embeddings(const Request& req) {
  QJsonParseError err{};
  const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(req.body), &err);
  if (err.error != QJsonParseError::NoError || !doc.isObject())
    return text_reply(400, "the body must be a JSON object");
  const QJsonValue texts = doc.object()[QStringLiteral("texts")];
  if (!texts.isArray()) return text_reply(400, "texts must be an array of strings");
  QJsonArray vectors;
  for (const QJsonValue& t : texts.toArray()) {
    if (!t.isString()) return text_reply(400, "texts must be an array of strings");
    vectors.append(embed(t.toString()));
  }
  return json_reply(200, {{QStringLiteral("vectors"), vectors}, {QStringLiteral("mode"), QStringLiteral("offline")}});
}

}  // namespace durovaderiz
