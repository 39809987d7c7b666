#include "desktop/ai/AiEmbeddings.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <string>

namespace quorvel::desktop::ai {

namespace {

constexpr int kPageTextChars = 2000;

QJsonObject geminiRequest(const QString& modelPath, const QString& text) {
  return {{QStringLiteral("model"), modelPath},
          {QStringLiteral("content"),
           QJsonObject{{QStringLiteral("parts"), QJsonArray{QJsonObject{{QStringLiteral("text"), text}}}}}}};
}

EmbeddingCall call(const QString& url, const QJsonObject& body, int count) {
  EmbeddingCall c;
  c.request.setUrl(QUrl(url, QUrl::TolerantMode));
  c.request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
  // A redirect to another host must receive neither the key (in the URL, a header or the body)
  // nor the pages' text.
  c.request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
  c.body = QJsonDocument(body).toJson(QJsonDocument::Indented);
  c.count = count;
  return c;
}

}  // namespace

EmbeddingTarget embeddingTarget(const QString& provider, const QString& key, const QString& base) {
  const auto orDefault = [&](const char* fallback) { return base.isEmpty() ? QString::fromLatin1(fallback) : base; };
  if (provider == QLatin1String("openai") && !key.isEmpty())
    return {QStringLiteral("openai"), orDefault("https://api.openai.com/v1")};
  if (provider == QLatin1String("deepseek") && !key.isEmpty())
    return {QStringLiteral("openai"), orDefault("https://api.deepseek.com/v1")};
  if (provider == QLatin1String("ollama")) return {QStringLiteral("openai"), orDefault("http://127.0.0.1:11434/v1")};
  if (provider == QLatin1String("custom") && !base.isEmpty()) return {QStringLiteral("openai"), base};
  if (provider == QLatin1String("gemini") && !key.isEmpty())
    return {QStringLiteral("gemini"), orDefault("https://generativelanguage.googleapis.com")};
  if ((provider == QLatin1String("gigachat") || provider == QLatin1String("yandexgpt")) && !key.isEmpty())
    return {QStringLiteral("backend"), base};
  return {};
}

QStringList embeddingTexts(const IDocument& doc, const QString& query) {
  QStringList texts{query};
  const int n = doc.page_count();
  for (int i = 0; i < n; ++i) {
    const std::string joined = page_text(doc.extract_text(i));
    QString text = QString::fromUtf8(joined.data(), qsizetype(joined.size()));
    if (text.size() > kPageTextChars) {
      qsizetype cut = kPageTextChars;
      // Half a surrogate pair would not survive the JSON encoding.
      if (text.at(cut - 1).isHighSurrogate()) --cut;
      text.truncate(cut);
    }
    texts << (text.trimmed().isEmpty() ? QStringLiteral(" ") : text);
  }
  return texts;
}

QList<EmbeddingCall> embeddingCalls(const QString& mode, const QString& base, const EmbeddingSettings& s,
                                    const QStringList& texts, const QUrl& backendEndpoint) {
  QList<EmbeddingCall> calls;
  const bool keyed = !s.key.isEmpty();
  if (mode == QLatin1String("gemini")) {
    const QString model = s.model.isEmpty() ? QStringLiteral("text-embedding-004") : s.model;
    const QString modelPath = model.startsWith(QLatin1String("models/")) ? model : QStringLiteral("models/") + model;
    const QString url = QStringLiteral("%1/v1beta/%2:batchEmbedContents?key=%3").arg(base, modelPath, s.key);
    for (qsizetype from = 0; from < texts.size(); from += kGeminiBatch) {
      QJsonArray requests;
      const QStringList part = texts.mid(from, kGeminiBatch);
      for (const QString& t : part) requests.append(geminiRequest(modelPath, t));
      calls.append(call(url, {{QStringLiteral("requests"), requests}}, int(part.size())));
    }
  } else if (mode == QLatin1String("openai")) {
    const QString model = s.model.isEmpty() ? QStringLiteral("text-embedding-3-small") : s.model;
    EmbeddingCall c = call(base + QStringLiteral("/embeddings"),
                           {{QStringLiteral("model"), model}, {QStringLiteral("input"), QJsonArray::fromStringList(texts)}},
                           int(texts.size()));
    if (keyed) c.request.setRawHeader("Authorization", "Bearer " + s.key.toUtf8());
    calls.append(c);
  } else if (mode == QLatin1String("backend")) {
    QJsonObject body{{QStringLiteral("provider"), s.provider},
                     {QStringLiteral("api_key"), s.key},
                     {QStringLiteral("base_url"), base},
                     {QStringLiteral("texts"), QJsonArray::fromStringList(texts)}};
    if (!s.model.isEmpty()) body[QStringLiteral("model")] = s.model;
    EmbeddingCall c = call(QString(), body, int(texts.size()));
    c.request.setUrl(backendEndpoint);
    calls.append(c);
  }
  return calls;
}

std::optional<std::vector<std::vector<float>>> embeddingVectors(const QString& mode, const QByteArray& body,
                                                                int expected) {
  const QJsonObject root = QJsonDocument::fromJson(body).object();
  const bool backend = mode == QLatin1String("backend"), gemini = mode == QLatin1String("gemini");
  const QJsonArray items =
      root[backend ? QStringLiteral("vectors") : gemini ? QStringLiteral("embeddings") : QStringLiteral("data")].toArray();
  if (items.size() != expected) return std::nullopt;
  std::vector<std::vector<float>> out;
  out.reserve(size_t(items.size()));
  for (const QJsonValue& item : items) {
    const QJsonArray numbers =
        backend ? item.toArray() : item[gemini ? QStringLiteral("values") : QStringLiteral("embedding")].toArray();
    std::vector<float> v;
    v.reserve(size_t(numbers.size()));
    for (const QJsonValue& x : numbers) v.push_back(x.isDouble() ? float(x.toDouble()) : 0.0f);
    out.push_back(std::move(v));
  }
  return out;
}

}  // namespace quorvel::desktop::ai
