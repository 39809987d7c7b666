#include "desktop/ai/AiRequest.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QUrl>

#include "desktop/tools/BackendTools.h"

namespace quorvel::desktop::ai {

namespace {

const QString kSystemPrompt = QStringLiteral(
    "Ты — Tavi AI, помощник по работе с документами. Отвечай кратко и по существу, опираясь на "
    "текст документа.");
const QString kContextLabel = QStringLiteral("Документ:\n");
const QString kQuestionLabel = QStringLiteral("\n\nВопрос: ");

QString orDefault(const QString& value, const char* fallback) {
  return value.isEmpty() ? QString::fromLatin1(fallback) : value;
}

QJsonObject message(const char* role, const QString& content) {
  return {{QStringLiteral("role"), QString::fromLatin1(role)}, {QStringLiteral("content"), content}};
}

}  // namespace

ProviderSettings ProviderSettings::load() {
  QSettings st;
  ProviderSettings s;
  s.provider = st.value(QStringLiteral("ai/provider"), QStringLiteral("stub")).toString();
  s.apiKey = st.value(QStringLiteral("ai/api_key")).toString();
  s.model = st.value(QStringLiteral("ai/model")).toString();
  s.baseUrl = st.value(QStringLiteral("ai/base_url")).toString();
  return s;
}

ProviderRequest buildProviderRequest(const ProviderSettings& s, const QString& question,
                                     const QString& contextArg, const QString& backendBase) {
  const QString context = contextArg.left(kContextChars);
  const QString combined = kContextLabel + context + kQuestionLabel + question;
  const QString& p = s.provider;

  ProviderRequest out;
  QString url;
  QJsonObject body;
  if (p == QLatin1String("openai") || p == QLatin1String("deepseek") ||
      p == QLatin1String("ollama") || p == QLatin1String("custom")) {
    QString base = s.baseUrl;
    if (base.isEmpty()) {
      if (p == QLatin1String("openai")) base = QStringLiteral("https://api.openai.com/v1");
      else if (p == QLatin1String("deepseek")) base = QStringLiteral("https://api.deepseek.com/v1");
      else if (p == QLatin1String("ollama")) base = QStringLiteral("http://127.0.0.1:11434/v1");
      else return out;  // "custom" has no address of its own
    }
    out.kind = QStringLiteral("openai");
    url = base + QStringLiteral("/chat/completions");
    if (!s.apiKey.isEmpty()) out.request.setRawHeader("Authorization", "Bearer " + s.apiKey.toUtf8());
    body[QStringLiteral("model")] = orDefault(s.model, "gpt-4o-mini");
    body[QStringLiteral("messages")] = QJsonArray{message("system", kSystemPrompt),
                                                  message("system", kContextLabel + context),
                                                  message("user", question)};
  } else if (p == QLatin1String("gemini")) {
    out.kind = QStringLiteral("gemini");
    // The service takes its key in the query; callers keep it out of every text they show.
    url = QStringLiteral("%1/v1beta/models/%2:generateContent?key=%3")
              .arg(orDefault(s.baseUrl, "https://generativelanguage.googleapis.com"),
                   orDefault(s.model, "gemini-1.5-flash"), s.apiKey);
    const auto parts = [](const QString& text) {
      return QJsonArray{QJsonObject{{QStringLiteral("text"), text}}};
    };
    body[QStringLiteral("systemInstruction")] = QJsonObject{{QStringLiteral("parts"), parts(kSystemPrompt)}};
    body[QStringLiteral("contents")] = QJsonArray{QJsonObject{
        {QStringLiteral("role"), QStringLiteral("user")}, {QStringLiteral("parts"), parts(combined)}}};
  } else if (p == QLatin1String("anthropic")) {
    out.kind = QStringLiteral("anthropic");
    url = orDefault(s.baseUrl, "https://api.anthropic.com") + QStringLiteral("/v1/messages");
    // A null array would drop the header; the service expects it even when empty.
    out.request.setRawHeader("x-api-key", s.apiKey.isEmpty() ? QByteArray("") : s.apiKey.toUtf8());
    out.request.setRawHeader("anthropic-version", "2023-06-01");
    body[QStringLiteral("model")] = orDefault(s.model, "claude-3-5-sonnet-latest");
    body[QStringLiteral("max_tokens")] = 1500;
    body[QStringLiteral("system")] = kSystemPrompt;
    body[QStringLiteral("messages")] = QJsonArray{message("user", combined)};
  } else {
    out.kind = QStringLiteral("backend");
    url = backendBase + QStringLiteral("/ai/chat");
    body[QStringLiteral("messages")] = QJsonArray{message("user", question)};
    body[QStringLiteral("cite_sources")] = true;
    body[QStringLiteral("context")] = context;
    body[QStringLiteral("provider")] = s.provider;
    body[QStringLiteral("api_key")] = s.apiKey;
    body[QStringLiteral("base_url")] = s.baseUrl;
    body[QStringLiteral("model")] = s.model;
  }
  out.request.setUrl(QUrl(url, QUrl::TolerantMode));
  // A redirect to another host must receive neither the key nor the document's text, which
  // every request carries.
  out.request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
  out.body = QJsonDocument(body).toJson(QJsonDocument::Indented);
  out.request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
  return out;
}

namespace {

// The text of every part of a list in order: an object whose "text" is a string ("type", where
// given, must be "text"); anything else is passed over.
QString joinedText(const QJsonValue& parts) {
  QString out;
  for (const QJsonValue& p : parts.toArray()) {
    const QJsonObject o = p.toObject();
    const QJsonValue type = o.value(QLatin1String("type"));
    if (!type.isUndefined() && type != QLatin1String("text")) continue;
    if (const QJsonValue t = o.value(QLatin1String("text")); t.isString()) out += t.toString();
  }
  return out;
}

}  // namespace

ProviderAnswer readProviderAnswer(const QString& kind, const QByteArray& body) {
  ProviderAnswer a;
  QJsonParseError error{};
  const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
  if (body.trimmed().isEmpty()) {
    a.lack = ProviderAnswer::Lack::Empty;
    a.problem = QStringLiteral("пустой ответ");
    return a;
  }
  if (error.error != QJsonParseError::NoError || !doc.isObject()) {
    a.lack = ProviderAnswer::Lack::Foreign;
    a.problem = QStringLiteral("ответ не в формате провайдера: %1").arg(replyExcerpt(body));
    return a;
  }
  const QJsonObject root = doc.object();
  const auto first = [](const QJsonValue& v) { return v.toArray().at(0).toObject(); };
  QString stop;     // why the provider stopped, as it says
  QString blocked;  // its reason when it refused to answer
  if (kind == QLatin1String("openai")) {
    const QJsonObject choice = first(root[QStringLiteral("choices")]);
    // A string, or a list of parts as some compatible servers send.
    const QJsonValue content = choice[QStringLiteral("message")][QStringLiteral("content")];
    a.text = content.isString() ? content.toString() : joinedText(content);
    stop = choice[QStringLiteral("finish_reason")].toString();
    a.cut = stop == QLatin1String("length");
    if (stop == QLatin1String("content_filter")) blocked = stop;
  } else if (kind == QLatin1String("gemini")) {
    const QJsonObject candidate = first(root[QStringLiteral("candidates")]);
    a.text = joinedText(candidate[QStringLiteral("content")][QStringLiteral("parts")]);
    stop = candidate[QStringLiteral("finishReason")].toString();
    a.cut = stop == QLatin1String("MAX_TOKENS");
    blocked = root[QStringLiteral("promptFeedback")][QStringLiteral("blockReason")].toString();
    static const QStringList refusals{QStringLiteral("SAFETY"), QStringLiteral("RECITATION"),
                                      QStringLiteral("BLOCKLIST"), QStringLiteral("PROHIBITED_CONTENT"),
                                      QStringLiteral("SPII")};
    if (blocked.isEmpty() && refusals.contains(stop)) blocked = stop;
  } else if (kind == QLatin1String("anthropic")) {
    a.text = joinedText(root[QStringLiteral("content")]);
    stop = root[QStringLiteral("stop_reason")].toString();
    a.cut = stop == QLatin1String("max_tokens");
    if (stop == QLatin1String("refusal")) blocked = stop;
  } else if (const QJsonValue v = root[QStringLiteral("answer")]; v.isString()) {
    a.text = v.toString();
  }
  if (!a.text.isEmpty()) return a;
  a.cut = false;
  if (!blocked.isEmpty()) {
    a.lack = ProviderAnswer::Lack::Blocked;
    a.problem = QStringLiteral("провайдер отказался отвечать (%1)").arg(blocked);
  } else {
    a.lack = ProviderAnswer::Lack::Empty;
    a.problem = QStringLiteral("в ответе нет текста: %1").arg(replyExcerpt(body));
  }
  return a;
}

QString parseProviderAnswer(const QString& kind, const QByteArray& body) { return readProviderAnswer(kind, body).text; }

QString cutAnswer(const QString& answer, bool* cut) {
  *cut = answer.size() > kAnswerChars;
  if (!*cut) return answer;
  qsizetype n = kAnswerChars;
  if (answer.at(n - 1).isHighSurrogate()) --n;
  return answer.left(n);
}

QString withoutKey(QString text, const QString& key) {
  if (key.isEmpty()) return text;
  const QString stars = QStringLiteral("***");
  text.replace(QString::fromLatin1(QUrl::toPercentEncoding(key)), stars);
  text.replace(key, stars);
  return text;
}

}  // namespace quorvel::desktop::ai
