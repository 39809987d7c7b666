// The parts of the window's backend tool calls that need no window: the request URL, the
// excerpt of a failed reply, writing the result, and the optimising figures.
#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>

#include <functional>

#include "desktop/tools/DocumentCopy.h"

class QNetworkReply;
class QStatusBar;

namespace quorvel::desktop {

using QueryItems = QList<QPair<QString, QString>>;

// The backend address rule with the items as the query, in the order given, each value
// percent-encoded from its UTF-8 bytes: "+", "%" and spaces arrive as typed.
QUrl backendToolUrl(const QString& endpoint, const QueryItems& items);

// At most the first `limit` bytes of a reply body as text, cut before a character that would
// not fit whole.
QString replyExcerpt(const QByteArray& body, qsizetype limit = 200);

// What a tool shows when documentCopy failed: the copy not saved, or not read back.
QString copyFailed(Copy c);

// What a failed backend reply shows: the start of its body, or, when the backend gave none,
// why no answer came (the backend unreachable, not started, silent past the time bound), its
// HTTP status, or that the answer was empty. Never the request's address, whose query may
// hold a password.
QString failureDetail(const QNetworkReply* reply, const QByteArray& body);

// What a PDF reply must be beyond a PDF for its tool: empty when it is, else why it is not.
using ReplyCheck = std::function<QString(const QByteArray&)>;

// The reply of a route that answers with a PDF. A failure (also a success status whose body is
// no PDF, one that `check` refuses, or one that `protect` cannot lock again) shows `failure`
// with the reason; else the body, given the document's protection again when `protect` is
// set, goes to `outPath` and, once it is there, `success` says so. True once written.
bool finishPdfReply(QStatusBar* bar, QNetworkReply* reply, const QByteArray& body, const QString& outPath,
                    const QString& failure, const QString& notWritten, const ReplyCheck& check,
                    const Protection& protect, const std::function<QString(QNetworkReply*)>& success);

// Writes the whole of `data` to a temporary file beside `path` and renames it over `path`
// only when that succeeded; an existing file is otherwise left as it was.
bool writeOutputFile(const QString& path, const QByteArray& data);

// Optimising's figures from the two size headers: kilobytes before and after and the saved
// percentage. A size that is missing, not a decimal number, negative or too large for the
// arithmetic reads as 0, and so does a percentage outside the int range.
struct OptimizeFigures {
  qint64 originalKb = 0;
  qint64 optimizedKb = 0;
  int percent = 0;
};
OptimizeFigures optimizeFigures(const QByteArray& originalSize, const QByteArray& optimizedSize);

}  // namespace quorvel::desktop
