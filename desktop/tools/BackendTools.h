// The parts of the window's backend tool calls that need no window: the request URL, the
// excerpt of a failed reply, writing the result, and the optimising figures.
#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>

class QNetworkReply;

namespace quorvel::desktop {

using QueryItems = QList<QPair<QString, QString>>;

// The backend address rule with the items as the query, in the order given, each value
// percent-encoded from its UTF-8 bytes: "+", "%" and spaces arrive as typed.
QUrl backendToolUrl(const QString& endpoint, const QueryItems& items);

// At most the first `limit` bytes of a reply body as text, cut before a character that would
// not fit whole.
QString replyExcerpt(const QByteArray& body, qsizetype limit = 200);

// What a failed backend reply shows: the start of its body, or, when the backend gave none,
// why no answer came (the backend unreachable, not started, silent past the time bound).
QString failureDetail(const QNetworkReply* reply, const QByteArray& body);

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
