// The assistant without a language model: the answer is made of the context's sentences that
// share the most words with the question, so it is offline and the same for the same input.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>

#include <algorithm>

#include "routes.h"

namespace durovaderiz {

namespace {

constexpr int kMaxSentences = 2;

QSet<QString> wordsOf(const QString& text) {
  QSet<QString> words;
  static const QRegularExpression word(QStringLiteral("[\\w]{3,}"),
                                       QRegularExpression::UseUnicodePropertiesOption);
  for (auto it = word.globalMatch(text.toLower()); it.hasNext();) words.insert(it.next().captured());
  return words;
}

struct Sentence {
  QString text;
  int page = 0;  // from the "[стр. N]" block it stands in, 0 outside one
  int score = 0;
};

std::vector<Sentence> sentencesOf(const QString& context) {
  static const QRegularExpression header(QStringLiteral("^\\[стр\\. (\\d+)\\]$"));
  static const QRegularExpression end(QStringLiteral("(?<=[.!?…])\\s+"));
  std::vector<Sentence> out;
  int page = 0;
  for (const QString& rawLine : context.split(QLatin1Char('\n'))) {
    const QString line = rawLine.trimmed();
    if (const auto m = header.match(line); m.hasMatch()) {
      page = m.captured(1).toInt();
      continue;
    }
    for (const QString& s : line.split(end, Qt::SkipEmptyParts))
      if (!s.trimmed().isEmpty()) out.push_back({s.trimmed(), page, 0});
  }
  return out;
}

}  // namespace

Response handle_ai_chat(const Request& req) {
  QJsonParseError err{};
  const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(req.body), &err);
  if (err.error != QJsonParseError::NoError || !doc.isObject())
    return text_reply(400, "the body must be a JSON object");
  const QJsonObject in = doc.object();
  QString question;
  for (const QJsonValue& m : in[QStringLiteral("messages")].toArray())
    if (m[QStringLiteral("role")].toString() == QLatin1String("user"))
      question = m[QStringLiteral("content")].toString();
  const bool cite = in[QStringLiteral("cite_sources")].toBool();

  std::vector<Sentence> sentences = sentencesOf(in[QStringLiteral("context")].toString());
  const QSet<QString> asked = wordsOf(question);
  for (Sentence& s : sentences) s.score = int(wordsOf(s.text).intersect(asked).size());

  std::vector<size_t> best;
  for (size_t i = 0; i < sentences.size(); ++i)
    if (sentences[i].score > 0) best.push_back(i);
  // Highest score first; a tie goes to the earlier sentence.
  std::stable_sort(best.begin(), best.end(),
                   [&](size_t a, size_t b) { return sentences[a].score > sentences[b].score; });
  if (best.size() > kMaxSentences) best.resize(kMaxSentences);
  std::sort(best.begin(), best.end());

  QStringList parts;
  for (size_t i : best) {
    QString s = sentences[i].text;
    if (cite && sentences[i].page > 0) s += QStringLiteral(" [стр. %1]").arg(sentences[i].page);
    parts << s;
  }
  QString answer;
  if (sentences.empty())
    answer = QStringLiteral("В документе нет текста, по которому можно ответить.");
  else if (parts.isEmpty())
    answer = QStringLiteral("В документе не нашлось ничего по этому вопросу.");
  else
    answer = parts.join(QLatin1Char(' '));
  return json_reply(200, {{QStringLiteral("answer"), answer}, {QStringLiteral("mode"), QStringLiteral("offline")}});
}

}  // namespace durovaderiz
