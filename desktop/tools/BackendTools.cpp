#include "desktop/tools/BackendTools.h"

#include <QNetworkReply>
#include <QSaveFile>
#include <QStatusBar>

#include <limits>

#include "desktop/window/BackendLink.h"
#include "desktop/window/MainWindow.h"
#include "desktop/window/lang.h"

namespace quorvel::desktop {

QUrl backendToolUrl(const QString& endpoint, const QueryItems& items) {
  QUrl url = MainWindow::backendUrl(endpoint);
  if (items.isEmpty()) return url;
  QByteArray query;
  for (const auto& [key, value] : items) {
    if (!query.isEmpty()) query += '&';
    query += QUrl::toPercentEncoding(key) + '=' + QUrl::toPercentEncoding(value);
  }
  url.setQuery(QString::fromLatin1(query), QUrl::StrictMode);
  return url;
}

QString replyExcerpt(const QByteArray& body, qsizetype limit) {
  QByteArray head = body.left(limit);
  if (body.size() > limit && !head.isEmpty()) {
    // Step back over the continuation bytes to the last lead byte; drop its character when
    // it needs more bytes than are left.
    qsizetype lead = head.size() - 1;
    while (lead > 0 && head.size() - lead < 4 && (static_cast<uchar>(head[lead]) & 0xC0) == 0x80) --lead;
    const auto b = static_cast<uchar>(head[lead]);
    const qsizetype need = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
    if (lead + need > head.size()) head.truncate(lead);
  }
  return QString::fromUtf8(head);
}

QString copyFailed(Copy c) {
  return c == Copy::NotRead ? L("Не удалось прочитать временный файл", "Could not read the temp file")
                            : L("Не удалось подготовить документ", "Could not prepare the document");
}

QString failureDetail(const QNetworkReply* reply, const QByteArray& body) {
  if (!body.isEmpty()) return replyExcerpt(body);
  if (const QString reason = reply->property(kNoAnswerReason).toString(); !reason.isEmpty()) return reason;
  if (reply->error() == QNetworkReply::NoError) return L("пустой ответ", "an empty answer");
  // Nothing here aborts a backend request but its time bound (a configured backend's replies
  // come straight from Qt, which calls that a cancel).
  if (reply->error() == QNetworkReply::OperationCanceledError && reply->request().transferTimeout() > 0)
    return L("нет ответа за %1 с", "no answer within %1 s").arg(reply->request().transferTimeout() / 1000);
  // Qt's text for an error status names the whole address, query and all.
  if (const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(); status > 0)
    return QStringLiteral("HTTP %1 %2")
        .arg(status)
        .arg(replyExcerpt(reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray()))
        .trimmed();
  return reply->errorString();
}

bool finishPdfReply(QStatusBar* bar, QNetworkReply* reply, const QByteArray& body, const QString& outPath,
                    const QString& failure, const QString& notWritten, const ReplyCheck& check,
                    const Protection& protect, const std::function<QString(QNetworkReply*)>& success) {
  const bool answered = reply->error() == QNetworkReply::NoError && body.startsWith("%PDF-");
  QString wrong = answered && check ? check(body) : QString();
  QByteArray result = body;
  if (answered && wrong.isEmpty() && protect && !protect(result))
    wrong = L("не удалось снова защитить результат паролем документа",
              "could not lock the result with the document's password again");
  if (!answered || !wrong.isEmpty()) {
    bar->showMessage(failure.arg(answered ? wrong : failureDetail(reply, body)));
    return false;
  }
  if (!writeOutputFile(outPath, result)) {
    bar->showMessage(notWritten);
    return false;
  }
  bar->showMessage(success(reply));
  return true;
}

bool writeOutputFile(const QString& path, const QByteArray& data) {
  QSaveFile f(path);
  if (!f.open(QIODevice::WriteOnly)) return false;
  if (f.write(data) != data.size()) {
    f.cancelWriting();
    return false;
  }
  return f.commit();
}

namespace {

qint64 sizeFrom(const QByteArray& header) {
  bool ok = false;
  const qint64 v = header.toLongLong(&ok, 10);
  // n * 100 must stay within 64 bits.
  if (!ok || v < 0 || v > std::numeric_limits<qint64>::max() / 100) return 0;
  return v;
}

}  // namespace

OptimizeFigures optimizeFigures(const QByteArray& originalSize, const QByteArray& optimizedSize) {
  const qint64 o = sizeFrom(originalSize);
  const qint64 n = sizeFrom(optimizedSize);
  OptimizeFigures f;
  f.originalKb = o / 1024;
  f.optimizedKb = n / 1024;
  if (o >= 1) {
    const qint64 p = 100 - (n * 100) / o;
    if (p >= std::numeric_limits<int>::min() && p <= std::numeric_limits<int>::max()) f.percent = static_cast<int>(p);
  }
  return f;
}

}  // namespace quorvel::desktop
