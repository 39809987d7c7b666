#include "desktop/stores/RequestJournal.h"

#include "desktop/stores/SettingsFile.h"
#include "desktop/window/lang.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QLocale>
#include <QSettings>

#include <algorithm>

namespace quorvel::desktop::journal {

namespace {

const QString kKey = QStringLiteral("requests/journal");

QString text(const QJsonObject& o, const char* key) { return o.value(QLatin1String(key)).toString(); }

// Whole numbers only; a fraction, a text or a value out of range reads as 0.
qint64 number(const QJsonObject& o, const char* key) { return o.value(QLatin1String(key)).toInteger(0); }

QJsonObject objectOf(const QByteArray& body) { return QJsonDocument::fromJson(body).object(); }

}  // namespace

QJsonArray parse(const QByteArray& value) { return QJsonDocument::fromJson(value).array(); }

QByteArray compact(const QJsonArray& entries) { return QJsonDocument(entries).toJson(QJsonDocument::Compact); }

Entry entryOf(const QJsonValue& value) {
  const QJsonObject o = value.toObject();
  Entry e;
  e.requestId = text(o, "request_id");
  e.category = text(o, "category");
  e.region = text(o, "region");
  e.status = text(o, "status");
  e.responses = number(o, "responses");
  e.created = text(o, "created");
  e.seen = number(o, "seen");
  e.compareUrl = text(o, "compare_url");
  e.unknown = o.value(QLatin1String("unknown")).toBool(false);
  return e;
}

int indexOf(const QJsonArray& entries, const QString& id) {
  for (int i = 0; i < entries.size(); ++i)
    if (entryOf(entries[i]).requestId == id) return i;
  return -1;
}

namespace {

// The journal with one entry, found by its id, changed; nothing when the id is empty or gone.
template <typename Change>
std::optional<QByteArray> withEntry(const QByteArray& value, const QString& id, Change change) {
  QJsonArray entries = parse(value);
  const int i = id.isEmpty() ? -1 : indexOf(entries, id);
  if (i < 0) return std::nullopt;
  QJsonObject o = entries[i].toObject();
  change(o);
  entries[i] = o;
  return compact(entries);
}

}  // namespace

std::optional<QByteArray> withRequest(const QByteArray& value, const QString& id, const QString& category,
                                      const QString& region, const QString& status, const QDateTime& now) {
  if (id.isEmpty()) return std::nullopt;
  const QJsonArray old = parse(value);
  if (indexOf(old, id) >= 0) return std::nullopt;
  QJsonArray entries{QJsonObject{
      {QStringLiteral("request_id"), id},
      {QStringLiteral("category"), category},
      {QStringLiteral("region"), region},
      {QStringLiteral("status"), status.isEmpty() ? QStringLiteral("accepted") : status},
      {QStringLiteral("responses"), 0},
      {QStringLiteral("created"), now.toString(QStringLiteral("yyyy-MM-dd HH:mm"))},
  }};
  for (int i = 0; i < old.size() && entries.size() < kMaxEntries; ++i) entries.append(old[i]);
  return compact(entries);
}

StatusReply parseStatusReply(const QByteArray& body) {
  const QJsonObject o = objectOf(body);
  return {text(o, "status"), number(o, "responses"), text(o, "compare_url")};
}

std::optional<QByteArray> withStatus(const QByteArray& value, const QString& id, const StatusReply& reply,
                                     qint64* seen) {
  return withEntry(value, id, [&](QJsonObject& o) {
    if (seen) *seen = entryOf(o).seen;
    if (!reply.status.isEmpty()) o[QStringLiteral("status")] = reply.status;
    o[QStringLiteral("responses")] = reply.responses;
    if (!reply.compareUrl.isEmpty()) o[QStringLiteral("compare_url")] = reply.compareUrl;
    o.remove(QStringLiteral("unknown"));
  });
}

std::optional<QByteArray> withUnknown(const QByteArray& value, const QString& id) {
  return withEntry(value, id, [](QJsonObject& o) { o[QStringLiteral("unknown")] = true; });
}

std::optional<QByteArray> withOffersSeen(const QByteArray& value, const QString& id, qint64 n) {
  return withEntry(value, id, [n](QJsonObject& o) {
    o[QStringLiteral("seen")] = n;
    o[QStringLiteral("responses")] = n;
  });
}

QByteArray load() { return QSettings().value(kKey).toByteArray(); }

void store(const QByteArray& value) {
  keepSettingsPrivate();
  QSettings().setValue(kKey, value);
}

QString responsesMarker(qint64 responses, qint64 seen) {
  // A negative count of seen offers means none were seen; it also keeps the difference in range.
  const qint64 fresh = responses - std::max<qint64>(seen, 0);
  if (fresh > 0) return QStringLiteral("%1  \U0001F514 +%2").arg(responses).arg(fresh);
  return QString::number(responses);
}

QString categoryCell(const QString& category, const QString& region) {
  return region.isEmpty() ? category : category + QStringLiteral(" \u00B7 ") + region;
}

QString statusCell(const Entry& e) {
  return e.unknown ? L("неизвестна backend", "unknown to the backend") : e.status;
}

namespace {

// The shortest text that reads back as the same number, never in exponent form.
QString asSent(const QJsonValue& number) {
  return QString::number(number.isDouble() ? number.toDouble() : 0.0, 'f', QLocale::FloatingPointShortest);
}

}  // namespace

QString priceCell(const QJsonValue& price) { return asSent(price); }

QString leadTimeCell(const QJsonValue& leadTime) { return asSent(leadTime); }

QString requestPath(const QString& id) {
  return QStringLiteral("/requests/") + QString::fromLatin1(QUrl::toPercentEncoding(id));
}

QUrl currentBackendAddress(const QString& stored, const QString& backendBase) {
  const QUrl url(stored, QUrl::TolerantMode);
  const QString host = url.host().toLower();
  const bool loopback = host == QLatin1String("localhost") || QHostAddress(host).isLoopback();
  if (!loopback) return url;
  if (backendBase.isEmpty()) return {};
  QString tail = url.path(QUrl::FullyEncoded);
  if (url.hasQuery()) tail += QLatin1Char('?') + url.query(QUrl::FullyEncoded);
  return QUrl(backendBase + tail, QUrl::TolerantMode);
}

bool openableAddress(const QUrl& url) {
  const QString scheme = url.scheme().toLower();
  return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

}  // namespace quorvel::desktop::journal
