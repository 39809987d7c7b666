// What goes to a language-model service and what comes back: one POST in the dialect of the
// chosen provider, and the answer text taken from the reply body of that dialect.
#pragma once

#include <QByteArray>
#include <QNetworkRequest>
#include <QString>

namespace quorvel::desktop::ai {

// The provider settings as stored; read afresh for every request.
struct ProviderSettings {
  QString provider = QStringLiteral("stub");
  QString apiKey;
  QString model;
  QString baseUrl;
  static ProviderSettings load();
};

struct ProviderRequest {
  QString kind;  // "openai", "gemini", "anthropic", "backend"; empty: nothing to send
  QNetworkRequest request;
  QByteArray body;
};

inline constexpr int kContextChars = 8000;

// Builds the request for a question with its context (cut to its first 8000 characters).
// "custom" without a base URL gives an empty kind.
ProviderRequest buildProviderRequest(const ProviderSettings& s, const QString& question,
                                     const QString& context, const QString& backendBase);

// What a reply body holds: the answer, or why there is none.
struct ProviderAnswer {
  enum class Lack { None, Empty, Foreign, Blocked };
  QString text;  // every text part of the answer, in order
  bool cut = false;  // the provider stopped at its length limit
  Lack lack = Lack::None;
  // What came back instead of an answer, for the user; empty with an answer.
  QString problem;
};
ProviderAnswer readProviderAnswer(const QString& kind, const QByteArray& body);

// The answer text of the kind, or empty when the body holds none.
QString parseProviderAnswer(const QString& kind, const QByteArray& body);

// A reply body beyond this many bytes is not read: no answer needs it.
inline constexpr qint64 kMaxReplyBytes = 16 << 20;
// An answer of more characters is cut before it reaches the log, which would take many seconds
// to lay it out.
inline constexpr qsizetype kAnswerChars = 1 << 20;

// The answer's first kAnswerChars characters, a surrogate pair kept whole; `cut` says whether
// anything was left out.
QString cutAnswer(const QString& answer, bool* cut);

// The text with every occurrence of the key, as typed and as it stands in a URL, made "***".
QString withoutKey(QString text, const QString& key);

}  // namespace quorvel::desktop::ai
