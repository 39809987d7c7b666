// The journal of sent purchase requests, kept in the settings as one compact JSON array (newest
// first, at most 100 entries), and the pieces of the backend's request replies that the window
// shows. Everything here works on the settings value as bytes, so the rules need no widgets.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QUrl>

#include <optional>

namespace quorvel::desktop::journal {

inline constexpr int kMaxEntries = 100;

// One entry as read: a key of another JSON type than its own counts as absent, an absent text
// is empty and an absent number 0.
struct Entry {
  QString requestId;
  QString category;
  QString region;
  QString status;
  qint64 responses = 0;
  QString created;
  qint64 seen = 0;
  QString compareUrl;
  bool unknown = false;  // the backend answered that it has no such request
};

// The stored value as an array; anything that is not a JSON array reads as an empty one.
QJsonArray parse(const QByteArray& value);
QByteArray compact(const QJsonArray& entries);
Entry entryOf(const QJsonValue& value);
// Index of the first entry whose id equals `id` exactly, or -1.
int indexOf(const QJsonArray& entries, const QString& id);

// The value after recording a new request, or nothing when there is nothing to write (an empty
// id, or one already present).
std::optional<QByteArray> withRequest(const QByteArray& value, const QString& id, const QString& category,
                                      const QString& region, const QString& status, const QDateTime& now);

// What a status reply of one request says.
struct StatusReply {
  QString status;
  qint64 responses = 0;
  QString compareUrl;
};
StatusReply parseStatusReply(const QByteArray& body);

// The value after a status reply for `id`: status and address only when the reply has them,
// the count always. Nothing when the id is not in the journal. `seen` gets the entry's seen.
std::optional<QByteArray> withStatus(const QByteArray& value, const QString& id, const StatusReply& reply,
                                     qint64* seen);

// The value after the backend answered that it does not know `id`. Nothing when the id is not
// in the journal.
std::optional<QByteArray> withUnknown(const QByteArray& value, const QString& id);

// The value after the offers of `id` were loaded: n offers, all of them seen. Nothing when the
// id is not in the journal.
std::optional<QByteArray> withOffersSeen(const QByteArray& value, const QString& id, qint64 n);

// The settings value under "requests/journal", read and written afresh each time.
QByteArray load();
void store(const QByteArray& value);

// "r" or, with offers not yet looked at, "r  🔔 +new".
QString responsesMarker(qint64 responses, qint64 seen);
// The category, then " · " and the region when there is one.
QString categoryCell(const QString& category, const QString& region);
// The status cell of an entry: its status, or that the backend does not know it.
QString statusCell(const Entry& e);
// An offer's cells: the price and the lead time in days, as the backend sent them, fraction
// included; 0 for what is not a number.
QString priceCell(const QJsonValue& price);
QString leadTimeCell(const QJsonValue& leadTime);

// The backend path of one request: the id travels as one percent-encoded segment.
QString requestPath(const QString& id);
// Whether an address from a reply may be handed to the desktop: http and https only.
bool openableAddress(const QUrl& url);

// An address of a backend's page as the backend that runs now serves it. A stored address on a
// loopback host belongs to a local backend, perhaps one of an earlier run whose port another
// process may hold now, so it is moved to `backendBase` ("http://HOST:PORT"); an invalid URL when
// no backend runs. An address elsewhere stays as it is.
QUrl currentBackendAddress(const QString& stored, const QString& backendBase);

}  // namespace quorvel::desktop::journal
