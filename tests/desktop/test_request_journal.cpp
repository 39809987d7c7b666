// The request journal's rules on the stored bytes, and the cells the journal dialogs show.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include "desktop/stores/RequestJournal.h"

namespace journal = quorvel::desktop::journal;

namespace {

// JSON written with single quotes, so that no raw string literal trips the meta-object compiler.
QByteArray operator""_j(const char* text, size_t size) { return QByteArray(text, qsizetype(size)).replace('\'', '"'); }


QByteArray journalOf(int n) {
  QJsonArray a;
  for (int i = 0; i < n; ++i)
    a.append(QJsonObject{{"request_id", QStringLiteral("R%1").arg(i)}, {"status", "accepted"}, {"responses", i}});
  return journal::compact(a);
}

const QDateTime kNow(QDate(2024, 3, 5), QTime(9, 7, 31));

}  // namespace

class RequestJournalTest : public QObject {
  Q_OBJECT

 private slots:
  void recording_data() {
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("status");
    QTest::addColumn<bool>("written");
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("last");  // id of the last entry after writing

    QTest::newRow("no journal yet") << QByteArray() << "N" << "" << true << 1 << "N";
    QTest::newRow("99 keep them all") << journalOf(99) << "N" << "sent" << true << 100 << "R98";
    QTest::newRow("100 drop the oldest") << journalOf(100) << "N" << "" << true << 100 << "R98";
    QTest::newRow("more than 100 stored") << journalOf(130) << "N" << "" << true << 100 << "R98";
    QTest::newRow("duplicate id") << journalOf(3) << "R1" << "" << false << 3 << "R2";
    QTest::newRow("empty id") << journalOf(3) << "" << "" << false << 3 << "R2";
    QTest::newRow("ids differ by case") << journalOf(3) << "r1" << "" << true << 4 << "R2";
    QTest::newRow("not JSON") << QByteArray("{{oops") << "N" << "" << true << 1 << "N";
    QTest::newRow("an object, not an array") << QByteArray("{'request_id':'R0'}"_j) << "N" << "" << true << 1 << "N";
    QTest::newRow("a string") << QByteArray("'R0'"_j) << "N" << "" << true << 1 << "N";
  }

  void recording() {
    QFETCH(QByteArray, before);
    QFETCH(QString, id);
    QFETCH(QString, status);
    QFETCH(bool, written);
    QFETCH(int, size);
    QFETCH(QString, last);
    const auto after = journal::withRequest(before, id, QStringLiteral("Бумага"), QString(), status, kNow);
    QCOMPARE(after.has_value(), written);
    if (!written) return;  // nothing to write: the stored bytes stay as they were
    QCOMPARE(*after, journal::compact(journal::parse(*after)));  // compact JSON
    const QJsonArray a = journal::parse(*after);
    QCOMPARE(a.size(), size);
    QCOMPARE(journal::entryOf(a.last()).requestId, last);
    // The new entry is first, with exactly these keys.
    const QJsonObject first = a.first().toObject();
    QCOMPARE(first, (QJsonObject{{"request_id", id}, {"category", "Бумага"}, {"region", ""},
                                 {"status", status.isEmpty() ? "accepted" : status}, {"responses", 0},
                                 {"created", "2024-03-05 09:07"}}));
    if (size > 1) QCOMPARE(journal::entryOf(a[1]).requestId, QStringLiteral("R0"));
  }

  // Keys of another type count as absent; an element that is not an object has no id.
  void readingRules() {
    const QByteArray value = "[{'request_id':7,'category':['x'],'responses':'3','seen':1.5,'status':'ok'},"_j
                             "'text',{'request_id':'B','responses':4,'seen':1,'compare_url':'http://x/'}]"_j;
    const QJsonArray a = journal::parse(value);
    const journal::Entry odd = journal::entryOf(a[0]);
    QCOMPARE(odd.requestId, QString());
    QCOMPARE(odd.category, QString());
    QCOMPARE(odd.responses, 0);
    QCOMPARE(odd.seen, 0);
    QCOMPARE(odd.status, QStringLiteral("ok"));
    QCOMPARE(journal::entryOf(a[1]).requestId, QString());
    QCOMPARE(journal::indexOf(a, QStringLiteral("B")), 2);
    QCOMPARE(journal::indexOf(a, QStringLiteral("b")), -1);
  }

  // Updates address their entry by id and leave the others alone; an id that is gone writes nothing.
  void updatesByRequestId() {
    const QByteArray value =
        "[{'request_id':'A','status':'accepted','responses':0,'seen':2},"_j
        "{'request_id':'B','status':'accepted','responses':1,'compare_url':'http://old/'}]"_j;
    qint64 seen = -1;
    auto after = journal::withStatus(value, QStringLiteral("B"), {QString(), 0, QString()}, &seen);
    QVERIFY(after);
    QCOMPARE(seen, 0);
    QJsonArray a = journal::parse(*after);
    QCOMPARE(a[0], journal::parse(value)[0]);
    QCOMPARE(a[1].toObject(), (QJsonObject{{"request_id", "B"}, {"status", "accepted"}, {"responses", 0},
                                           {"compare_url", "http://old/"}}));
    after = journal::withStatus(value, QStringLiteral("A"), {QStringLiteral("offers"), 5, QStringLiteral("http://n/")}, &seen);
    QCOMPARE(seen, 2);
    QCOMPARE(journal::parse(*after)[0].toObject(),
             (QJsonObject{{"request_id", "A"}, {"status", "offers"}, {"responses", 5}, {"seen", 2}, {"compare_url", "http://n/"}}));
    QVERIFY(!journal::withStatus(value, QStringLiteral("C"), {QStringLiteral("x"), 1, {}}, &seen));
    QVERIFY(!journal::withStatus(value, QString(), {QStringLiteral("x"), 1, {}}, &seen));

    after = journal::withOffersSeen(value, QStringLiteral("B"), 3);
    QCOMPARE(journal::entryOf(journal::parse(*after)[1]).seen, 3);
    QCOMPARE(journal::entryOf(journal::parse(*after)[1]).responses, 3);
    QVERIFY(!journal::withOffersSeen(value, QStringLiteral("gone"), 3));
  }

  void statusReplies_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("status");
    QTest::addColumn<qint64>("responses");
    QTest::addColumn<QString>("url");
    QTest::newRow("full") << QByteArray("{'status':'offers','responses':2,'compare_url':'http://h/c'}"_j)
                          << "offers" << qint64(2) << "http://h/c";
    QTest::newRow("nothing") << QByteArray("{}") << "" << qint64(0) << "";
    QTest::newRow("not JSON") << QByteArray("<html>") << "" << qint64(0) << "";
    QTest::newRow("count as text, fraction") << QByteArray("{'responses':'2'}"_j) << "" << qint64(0) << "";
    QTest::newRow("fractional count") << QByteArray("{'responses':2.5,'status':3}"_j) << "" << qint64(0) << "";
  }

  void statusReplies() {
    QFETCH(QByteArray, body);
    const journal::StatusReply r = journal::parseStatusReply(body);
    QTEST(r.status, "status");
    QTEST(r.responses, "responses");
    QTEST(r.compareUrl, "url");
  }

  void cells() {
    QCOMPARE(journal::responsesMarker(3, 1), QStringLiteral("3  \U0001F514 +2"));
    QCOMPARE(journal::responsesMarker(3, 3), QStringLiteral("3"));
    QCOMPARE(journal::responsesMarker(3, 5), QStringLiteral("3"));
    QCOMPARE(journal::responsesMarker(0, 0), QStringLiteral("0"));
    QCOMPARE(journal::responsesMarker(2, -7), QStringLiteral("2  \U0001F514 +2"));
    QCOMPARE(journal::responsesMarker(std::numeric_limits<qint64>::max(), std::numeric_limits<qint64>::min()),
             QStringLiteral("9223372036854775807  \U0001F514 +9223372036854775807"));

    QCOMPARE(journal::categoryCell(QStringLiteral("Бумага"), QString()), QStringLiteral("Бумага"));
    QCOMPARE(journal::categoryCell(QString(), QStringLiteral("Москва")), QStringLiteral(" · Москва"));
    QCOMPARE(journal::categoryCell(QStringLiteral("Бумага"), QStringLiteral("Москва")), QStringLiteral("Бумага · Москва"));

    // Numbers as the backend sent them, fraction included, never in exponent form.
    QCOMPARE(journal::priceCell(99.6), QStringLiteral("99.6"));
    QCOMPARE(journal::priceCell(125000.75), QStringLiteral("125000.75"));
    QCOMPARE(journal::priceCell(250), QStringLiteral("250"));
    QCOMPARE(journal::priceCell(1234567.4), QStringLiteral("1234567.4"));
    QCOMPARE(journal::priceCell(1e21), QStringLiteral("1000000000000000000000"));
    QCOMPARE(journal::priceCell(QStringLiteral("250")), QStringLiteral("0"));
    QCOMPARE(journal::priceCell(QJsonValue()), QStringLiteral("0"));
    QCOMPARE(journal::leadTimeCell(14), QStringLiteral("14"));
    QCOMPARE(journal::leadTimeCell(2.5), QStringLiteral("2.5"));
    QCOMPARE(journal::leadTimeCell(QStringLiteral("14")), QStringLiteral("0"));
  }

  void addresses() {
    QCOMPARE(journal::requestPath(QStringLiteral("a/b?c")), QStringLiteral("/requests/a%2Fb%3Fc"));
    QCOMPARE(journal::requestPath(QStringLiteral("REQ-1_x")), QStringLiteral("/requests/REQ-1_x"));
    QCOMPARE(journal::requestPath(QStringLiteral("я #%")), QStringLiteral("/requests/%D1%8F%20%23%25"));
    QVERIFY(journal::openableAddress(QUrl(QStringLiteral("http://127.0.0.1:1/c"))));
    QVERIFY(journal::openableAddress(QUrl(QStringLiteral("HTTPS://h/c"))));
    for (const char* bad : {"file:///etc/passwd", "javascript:alert(1)", "ftp://h/x", "relative/path", ""})
      QVERIFY2(!journal::openableAddress(QUrl(QString::fromLatin1(bad))), bad);

    // A stored loopback address of an earlier run's backend moves to the one that runs now;
    // other addresses stay as they are; with no backend running there is none.
    const QString now = QStringLiteral("http://127.0.0.1:4000");
    const struct {
      const char* stored;
      QString base;
      QString opened;
    } cases[] = {
        {"http://127.0.0.1:39999/requests/A/compare", now, now + QStringLiteral("/requests/A/compare")},
        {"http://localhost:1/requests/A/compare?x=1", now, now + QStringLiteral("/requests/A/compare?x=1")},
        {"http://[::1]:1/requests/A/compare", now, now + QStringLiteral("/requests/A/compare")},
        {"http://127.0.0.5:1/p", now, now + QStringLiteral("/p")},
        {"https://offers.example.net/requests/A", now, QStringLiteral("https://offers.example.net/requests/A")},
        {"http://127.0.0.1:39999/requests/A/compare", QString(), QString()},
    };
    for (const auto& c : cases)
      QCOMPARE(journal::currentBackendAddress(QString::fromLatin1(c.stored), c.base), QUrl(c.opened));
  }
};

QTEST_GUILESS_MAIN(RequestJournalTest)
#include "test_request_journal.moc"
