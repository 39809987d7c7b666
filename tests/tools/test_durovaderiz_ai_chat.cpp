// The stand-in's offline assistant: answers come from the context's sentences alone.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "routes.h"

namespace durovaderiz {
namespace {

QJsonObject answerOf(const std::string& body, int expectStatus = 200) {
  Request req;
  req.method = "POST";
  req.path = "/ai/chat";
  req.body = body;
  const Response r = dispatch(req);
  EXPECT_EQ(r.status, expectStatus) << r.body;
  return QJsonDocument::fromJson(QByteArray::fromStdString(r.body)).object();
}

std::string chat(const QString& question, const QString& context, bool cite = true) {
  QJsonObject o{{"messages", QJsonArray{QJsonObject{{"role", "user"}, {"content", question}}}},
                {"cite_sources", cite}, {"context", context}, {"provider", "stub"}, {"api_key", ""},
                {"base_url", ""}, {"model", ""}};
  return QJsonDocument(o).toJson().toStdString();
}

TEST(AiChat, AnswersFromTheSentencesSharingTheMostWordsWithTheQuestion) {
  const QString context = QStringLiteral(
      "[стр. 1]\nДоговор поставки заключён в Москве. Погода была хорошей.\n"
      "[стр. 2]\nСумма договора поставки составляет 100 рублей. Срок оплаты десять дней.");
  struct Case {
    QString question;
    QString answer;
  };
  const Case cases[] = {
      {QStringLiteral("Какая сумма договора поставки?"),
       QStringLiteral("Договор поставки заключён в Москве. [стр. 1] Сумма договора поставки составляет 100 "
                      "рублей. [стр. 2]")},
      {QStringLiteral("Какой срок оплаты?"), QStringLiteral("Срок оплаты десять дней. [стр. 2]")},
      {QStringLiteral("Кто подписал?"), QStringLiteral("В документе не нашлось ничего по этому вопросу.")},
  };
  for (const Case& c : cases) {
    const QJsonObject a = answerOf(chat(c.question, context));
    EXPECT_EQ(a["answer"].toString(), c.answer) << c.question.toStdString();
    EXPECT_EQ(a["mode"].toString(), "offline");
    // The same input gives the same answer.
    EXPECT_EQ(answerOf(chat(c.question, context)), a);
  }
  EXPECT_EQ(answerOf(chat(QStringLiteral("Какой срок оплаты?"), context, false))["answer"].toString(),
            QStringLiteral("Срок оплаты десять дней."));
}

TEST(AiChat, EmptyContextAndMalformedBodies) {
  EXPECT_EQ(answerOf(chat(QStringLiteral("Что здесь?"), QString()))["answer"].toString(),
            QStringLiteral("В документе нет текста, по которому можно ответить."));
  answerOf("not json", 400);
  answerOf("[1, 2]", 400);
}

}  // namespace
}  // namespace durovaderiz
