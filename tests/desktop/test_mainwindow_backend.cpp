// When the window starts the local backend, with what, how it stops it, and who gets the
// window's backend requests: the backend that said its address on its own output and answered
// its health check, with the secret it was given; a configured address; or nobody. The programs
// are shell stand-ins named by QUORVEL_BACKEND_EXE that record how they were started and may
// name a scripted server of the test as their address; the real stand-in where it matters.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTextBrowser>
#include <QtTest>

#include <csignal>
#include <cerrno>
#include <sys/types.h>

#include "common/time_bound.h"
#include "desktop/ai/AiPanel.h"
#include "desktop/window/BackendLink.h"
#include "desktop/window/MainWindowCommandLine.h"
#include "recording_server.h"
#include "stand_in_process.h"
#include "test_mainwindow_support.h"

using quorvel::desktop::BackendLink;
using quorvel::desktop::MainWindow;
using namespace quorvel::test;
using Reply = RecordingServer::Reply;

namespace {

// Writes what it was started with beside itself; with FAKE_BACKEND_PORT set it then says that
// port is its address, as the backend does once it listens; then it waits to be stopped. With
// `ignoreTerm` it survives SIGTERM, as a stuck backend would: the trap is set before the
// record, which the tests wait for, so no SIGTERM can come first.
QString writeFakeBackend(const TempDir& dir, const char* name, bool ignoreTerm) {
  std::string script = "#!/bin/sh\n";
  if (ignoreTerm) script += "trap '' TERM\n";
  script +=
      "out=$(readlink /proc/$$/fd/1)\n"
      "err=$(readlink /proc/$$/fd/2)\n"
      "{\n"
      "  echo \"pid=$$\"\n"
      "  for a in \"$@\"; do echo \"arg=[$a]\"; done\n"
      "  echo \"watch=$QUORVEL_PARENT_WATCH\"\n"
      "  echo \"token=$DUROVADERIZ_TOKEN\"\n"
      "  echo \"stdout=$out\"\n"
      "  echo \"stderr=$err\"\n"
      "} > \"$0.rec.tmp\"\n"
      "mv \"$0.rec.tmp\" \"$0.rec\"\n"
      "[ -n \"$FAKE_BACKEND_PORT\" ] && echo \"listening 127.0.0.1:$FAKE_BACKEND_PORT\"\n"
      "exec sleep 30\n";
  const QString path = writeTestFile(dir, QString::fromLatin1(name), script);
  QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  return path;
}

QStringList record(const QString& program) {
  QFile f(program + QStringLiteral(".rec"));
  if (!f.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList argsOf(const QStringList& rec) {
  QStringList out;
  for (const QString& l : rec)
    if (l.startsWith(QStringLiteral("arg=[")) && l.endsWith(QLatin1Char(']'))) out << l.mid(5, l.size() - 6);
  return out;
}

QString field(const QStringList& rec, const QString& key) {
  for (const QString& l : rec)
    if (l.startsWith(key + QLatin1Char('='))) return l.mid(key.size() + 1);
  return {};
}

// Processes this test has started and not reaped: a fork shows here at once.
QStringList childProcesses() {
  QStringList out;
  for (const QString& task : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    QFile f(QStringLiteral("/proc/self/task/%1/children").arg(task));
    if (f.open(QIODevice::ReadOnly)) out += QString::fromLatin1(f.readAll()).split(QLatin1Char(' '), Qt::SkipEmptyParts);
  }
  return out;
}

int freePort() {
  QTcpServer probe;
  return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

// Gone for good: neither running nor left as a zombie.
bool reaped(qint64 pid) { return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH; }

// Environment of one case; restored afterwards so the other cases start clean.
struct EnvCase {
  explicit EnvCase(const QList<std::pair<const char*, std::optional<QByteArray>>>& vars) {
    for (const auto& [name, value] : vars) {
      saved.append({name, qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt});
      if (value)
        qputenv(name, *value);
      else
        qunsetenv(name);
    }
  }
  ~EnvCase() {
    for (const auto& [name, value] : saved) {
      if (value)
        qputenv(name, *value);
      else
        qunsetenv(name);
    }
  }
  QList<std::pair<const char*, std::optional<QByteArray>>> saved;
};

// Bounds of BackendLink for one test.
struct Bounds {
  Bounds(int ready, int request) : ready(BackendLink::readyTimeoutMs), request(BackendLink::requestTimeoutMs) {
    BackendLink::readyTimeoutMs = ready;
    BackendLink::requestTimeoutMs = request;
  }
  ~Bounds() {
    BackendLink::readyTimeoutMs = ready;
    BackendLink::requestTimeoutMs = request;
  }
  int ready, request;
};

QString logOf(MainWindow& w) {
  return w.findChild<quorvel::desktop::AiPanel*>()->findChild<QTextBrowser*>(QStringLiteral("aiLog"))->toPlainText();
}

}  // namespace

class MainWindowBackendTest : public QObject {
  Q_OBJECT

  TempDir dir;
  QString fake, stubborn, doc;
  QByteArray encrypted;

 private slots:
  void initTestCase() {
    QCoreApplication::setOrganizationName(QStringLiteral("Quorvel"));
    QCoreApplication::setApplicationName(QStringLiteral("PDF Dodiru Quorvel"));
    fake = writeFakeBackend(dir, "fake-backend", false);
    stubborn = writeFakeBackend(dir, "stubborn-backend", true);
    doc = writeTestFile(dir, "doc.pdf", text_pdf({"one page"}));
    encrypted = QByteArray::fromStdString(qpdf_encrypt(text_pdf({"protected"}), "a+b%41 c", "owner"));
    QVERIFY(!encrypted.isEmpty());
    // Beside the test program there is no backend, so only QUORVEL_BACKEND_EXE can name one.
    QVERIFY(!QFile::exists(QDir(QCoreApplication::applicationDirPath()).filePath("durovaderiz")));
    qunsetenv("QUORVEL_BACKEND");
    qunsetenv("QUORVEL_BACKEND_PORT");
  }
  void cleanup() {
    QFile::remove(fake + QStringLiteral(".rec"));
    QFile::remove(stubborn + QStringLiteral(".rec"));
  }

  void startRules_data() {
    QTest::addColumn<QString>("backend");  // "<unset>" leaves the variable out
    QTest::addColumn<QString>("exe");      // "<fake>" names the recording program
    QTest::addColumn<QString>("port");     // "<unset>" leaves the variable out
    QTest::addColumn<bool>("started");
    QTest::addColumn<QStringList>("args");
    QTest::newRow("configured address") << "http://10.0.0.5:7000" << "<fake>" << "<unset>" << false << QStringList{};
    QTest::newRow("unset: a port the system picks") << "<unset>" << "<fake>" << "<unset>" << true
                                                     << QStringList{"--port", "0"};
    QTest::newRow("empty counts as unset") << "" << "<fake>" << "8123" << true << QStringList{"--port", "8123"};
    QTest::newRow("port set but empty") << "<unset>" << "<fake>" << "" << true << QStringList{"--port", ""};
    QTest::newRow("program missing") << "<unset>" << "/nonexistent/durovaderiz" << "<unset>" << false << QStringList{};
    QTest::newRow("nothing beside the executable") << "" << "" << "<unset>" << false << QStringList{};
  }
  void startRules() {
    QFETCH(QString, backend);
    QFETCH(QString, exe);
    QFETCH(QString, port);
    QFETCH(bool, started);
    QFETCH(QStringList, args);
    auto opt = [](const QString& v) -> std::optional<QByteArray> {
      if (v == QStringLiteral("<unset>")) return std::nullopt;
      return v.toUtf8();
    };
    EnvCase env({{"QUORVEL_BACKEND", opt(backend)},
                 {"QUORVEL_BACKEND_EXE", exe == QStringLiteral("<fake>") ? fake.toUtf8() : exe.toUtf8()},
                 {"QUORVEL_BACKEND_PORT", opt(port)}});
    qint64 pid = 0;
    {
      MainWindow w;
      auto* process = w.findChild<QProcess*>();
      QCOMPARE(process != nullptr, started);
      // The window's own environment is left as it was: children it starts later inherit no
      // address of a backend that is not theirs, and no secret.
      QCOMPARE(qEnvironmentVariableIsSet("QUORVEL_BACKEND"), backend != QStringLiteral("<unset>"));
      QVERIFY(!qEnvironmentVariableIsSet("DUROVADERIZ_TOKEN"));
      if (!started) {
        QVERIFY2(childProcesses().isEmpty(), qPrintable(childProcesses().join(QLatin1Char(' '))));
        QVERIFY(record(fake).isEmpty());
        return;
      }
      QTRY_VERIFY(!record(fake).isEmpty());
      const QStringList rec = record(fake);
      QCOMPARE(argsOf(rec), args);
      QCOMPARE(field(rec, "watch"), QStringLiteral("1"));
      // 256 bits from the system's generator, in the child's environment only.
      QVERIFY2(QRegularExpression(QStringLiteral("^[0-9a-f]{64}$")).match(field(rec, "token")).hasMatch(),
               qPrintable(field(rec, "token")));
      QVERIFY(!argsOf(rec).join(QLatin1Char(' ')).contains(field(rec, "token")));
      // Its output is read for its address; nobody reads its errors, so they must not fill a pipe.
      QVERIFY2(field(rec, "stdout").startsWith(QStringLiteral("pipe:")), qPrintable(field(rec, "stdout")));
      QCOMPARE(field(rec, "stderr"), QStringLiteral("/dev/null"));
      pid = process->processId();
      QVERIFY(pid > 0);
      QCOMPARE(field(rec, "pid"), QString::number(pid));
    }
    QVERIFY(reaped(pid));
  }

  void everyWindowHasABackendOfItsOwn() {
    EnvCase env({{"QUORVEL_BACKEND_EXE", fake.toUtf8()}});
    auto* first = new MainWindow;
    QTRY_VERIFY(!record(fake).isEmpty());
    const QString firstToken = field(record(fake), "token");
    QFile::remove(fake + QStringLiteral(".rec"));
    MainWindow second;
    QTRY_VERIFY(!record(fake).isEmpty());
    auto* process = second.findChild<QProcess*>();
    QVERIFY(process);
    const QString pid = field(record(fake), "pid");
    QCOMPARE(QString::number(process->processId()), pid);
    QVERIFY(pid != QString::number(first->findChild<QProcess*>()->processId()));
    QVERIFY(field(record(fake), "token") != firstToken);
    // The second window keeps its backend when the first one closes.
    delete first;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    QVERIFY(stat.open(QIODevice::ReadOnly));
    QVERIFY2(!stat.readAll().contains(") Z "), "the second window's backend is gone");
  }

  void stuckBackendIsKilledAfterTwoSeconds() {
    EnvCase env({{"QUORVEL_BACKEND_EXE", stubborn.toUtf8()}, {"QUORVEL_BACKEND_PORT", QByteArray::number(freePort())}});
    auto* w = new MainWindow;
    QTRY_VERIFY(!record(stubborn).isEmpty());
    auto* process = w->findChild<QProcess*>();
    const qint64 pid = process->processId();
    QSignalSpy finished(process, &QProcess::finished);
    QElapsedTimer t;
    t.start();
    delete w;
    const qint64 ms = t.elapsed();
    // It was given its two seconds, then killed: it would have slept for thirty.
    QVERIFY2(ms >= 1900, qPrintable(QString::number(ms)));
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.at(0).at(1).value<QProcess::ExitStatus>(), QProcess::CrashExit);
    QVERIFY(reaped(pid));
  }

  void backendThatStopsIsNotWaitedFor() {
    EnvCase env({{"QUORVEL_BACKEND_EXE", fake.toUtf8()}});
    auto* w = new MainWindow;
    QTRY_VERIFY(!record(fake).isEmpty());
    QElapsedTimer t;
    t.start();
    delete w;
    QVERIFY2(t.elapsed() < time_bound_ms(1500), qPrintable(QString::number(t.elapsed())));
  }

  void configuredAddressesStandAsGiven_data() {
    QTest::addColumn<QString>("backend");
    QTest::addColumn<QString>("url");
    QTest::newRow("configured") << "http://10.1.2.3:9000" << "http://10.1.2.3:9000/pdf/encrypt";
    QTest::newRow("trailing slash kept") << "http://h:1/" << "http://h:1//pdf/encrypt";
  }
  void configuredAddressesStandAsGiven() {
    QFETCH(QString, backend);
    EnvCase env({{"QUORVEL_BACKEND", backend.toUtf8()}});
    QTEST(MainWindow::backendUrl(QStringLiteral("/pdf/encrypt")).toString(), "url");
  }

  // The backend this window started gets its first request only once its health check has
  // answered, however soon the request comes; each request carries the secret, and the dock's
  // questions for the backend go the same way.
  void requestsWaitForHealthAndCarryTheSecret() {
    RecordingServer server;
    int healthChecks = 0;
    server.respond = [&](const RecordingServer::Request& r) -> Reply {
      if (r.requestLine().startsWith("GET /health ")) return {++healthChecks < 3 ? 503 : 200, "ok", {}};
      if (r.header("Authorization") != "Bearer " + field(record(fake), "token").toLatin1()) return {401, "no", {}};
      if (r.requestLine().startsWith("POST /ai/chat ")) return {200, R"({"answer":"from our own"})", {}};
      return {200, encrypted, {}};
    };
    EnvCase env({{"QUORVEL_BACKEND_EXE", fake.toUtf8()},
                 {"FAKE_BACKEND_PORT", QByteArray::number(QUrl(server.base()).port())}});
    MainWindow w;
    WindowProbe p{w};
    w.openFile(doc);
    const QString out = QString::fromStdString(dir.file("right-away.pdf"));
    w.protectPdfTo(out, QStringLiteral("a+b%41 c"));
    w.askAi(QStringLiteral("Who answers?"));
    QTRY_COMPARE(p.status(), QStringLiteral("Зашифровано (AES-256): ") + out);
    QTRY_VERIFY(logOf(w).endsWith(QStringLiteral("Tavi AI: from our own")));

    QList<QByteArray> lines;
    for (const auto& r : server.requests) lines << r.requestLine().left(r.requestLine().indexOf(' ', 5));
    QCOMPARE(lines.mid(0, 3), (QList<QByteArray>{"GET /health", "GET /health", "GET /health"}));
    QCOMPARE(lines.size(), 5);
    for (const auto& r : server.requests.mid(3))
      QCOMPARE(r.header("Authorization"), "Bearer " + field(record(fake), "token").toLatin1());
    // The address became known late; the query still arrives byte for byte.
    QVERIFY(std::any_of(server.requests.begin(), server.requests.end(), [](const auto& r) {
      return r.requestLine() ==
             "POST /pdf/encrypt?user_password=a%2Bb%2541%20c&allow_print=1&allow_copy=0&allow_modify=0 HTTP/1.1";
    }));
  }

  // Someone else holds the port the backend was to have: the started backend cannot bind it
  // and exits, and neither a document, a password nor a key goes to whoever listens there.
  void squatterOnThePortGetsNothing() {
    RecordingServer squatter;
    const QByteArray port = QByteArray::number(QUrl(squatter.base()).port());
    EnvCase env({{"QUORVEL_BACKEND_EXE", qgetenv("QUORVEL_BUILD_DIR") + "/durovaderiz"}, {"QUORVEL_BACKEND_PORT", port}});
    QSettings().setValue(QStringLiteral("ai/provider"), QStringLiteral("stub"));
    QSettings().setValue(QStringLiteral("ai/api_key"), QStringLiteral("the-provider-key"));
    MainWindow w;
    WindowProbe p{w};
    w.openFile(doc);
    w.protectPdfTo(QString::fromStdString(dir.file("squatted.pdf")), QStringLiteral("secret"));
    w.askAi(QStringLiteral("q"));
    const QString why = QStringLiteral("порт %1 занят другим процессом или недоступен").arg(QString::fromLatin1(port));
    QTRY_COMPARE(p.status(), QStringLiteral("Шифрование не удалось (backend): ") + why);
    QTRY_VERIFY(logOf(w).contains(QStringLiteral("Tavi AI: Ошибка: ") + why));
    w.sanitizePdfTo(QString::fromStdString(dir.file("squatted-clean.pdf")));
    QTRY_COMPARE(p.status(), QStringLiteral("Очистка не удалась (backend): ") + why);
    QCOMPARE(squatter.requests.size(), 0);
    QVERIFY(!QFile::exists(QString::fromStdString(dir.file("squatted.pdf"))));
    QSettings().clear();
  }

  void squatterIsNamedInTheStatusBar() {
    RecordingServer squatter;
    const QByteArray port = QByteArray::number(QUrl(squatter.base()).port());
    EnvCase env({{"QUORVEL_BACKEND_EXE", qgetenv("QUORVEL_BUILD_DIR") + "/durovaderiz"}, {"QUORVEL_BACKEND_PORT", port}});
    MainWindow w;
    WindowProbe p{w};
    QTRY_COMPARE(p.status(), QStringLiteral("Backend недоступен: порт %1 занят другим процессом или недоступен — "
                                            "запросы к нему не отправляются.")
                                 .arg(QString::fromLatin1(port)));
    QCOMPARE(squatter.requests.size(), 0);
  }

  // A backend that stalls ends in the tool's failure text within the bound, wherever it stalls.
  void stuckBackendEndsInTheFailureText_data() {
    QTest::addColumn<bool>("configured");
    QTest::addColumn<bool>("saysAddress");
    QTest::addColumn<bool>("healthAnswers");
    QTest::newRow("the request is never answered") << false << true << true;
    QTest::newRow("health is never answered") << false << true << false;
    QTest::newRow("no address said") << false << false << true;
    QTest::newRow("a configured backend never answers") << true << true << true;
  }
  void stuckBackendEndsInTheFailureText() {
    QFETCH(bool, configured);
    QFETCH(bool, saysAddress);
    QFETCH(bool, healthAnswers);
    // Only the bound of the stage that stalls is short, so that a loaded machine cannot end
    // the other stage first.
    const bool readyStalls = !saysAddress || !healthAnswers;
    const Bounds bounds(readyStalls ? time_bound_ms(1500) : time_bound_ms(30000), time_bound_ms(1000));
    const QString why = readyStalls ? QStringLiteral("локальный backend не ответил за %1 с").arg(BackendLink::readyTimeoutMs / 1000)
                                    : QStringLiteral("нет ответа за %1 с").arg(BackendLink::requestTimeoutMs / 1000);
    RecordingServer server;
    server.respond = [&](const RecordingServer::Request& r) -> Reply {
      if (r.requestLine().startsWith("GET /health ") && healthAnswers) return {200, "ok", {}};
      return {200, {}, {}, true};
    };
    EnvCase env({{"QUORVEL_BACKEND_EXE", configured ? std::nullopt : std::optional(fake.toUtf8())},
                 {"QUORVEL_BACKEND", configured ? std::optional(server.base().toUtf8()) : std::nullopt},
                 {"FAKE_BACKEND_PORT", saysAddress ? std::optional(QByteArray::number(QUrl(server.base()).port()))
                                                   : std::nullopt}});
    MainWindow w;
    WindowProbe p{w};
    w.openFile(doc);
    const QString out = writeTestFile(dir, "kept.pdf", "the user's file");
    QElapsedTimer t;
    t.start();
    w.protectPdfTo(out, QStringLiteral("pw"));
    QTRY_VERIFY_WITH_TIMEOUT(p.status() != QStringLiteral("Шифрование (AES-256)…"), time_bound_ms(10000));
    QCOMPARE(p.status(), QStringLiteral("Шифрование не удалось (backend): ") + why);
    QVERIFY2(t.elapsed() < time_bound_ms(8000), qPrintable(QString::number(t.elapsed())));
    QFile f(out);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("the user's file"));
  }

  // Without a backend started or configured, nothing goes to the default address either: any
  // local user could be listening there.
  void withoutABackendNothingIsSent() {
    EnvCase env({{"QUORVEL_BACKEND_EXE", QByteArray("/nonexistent/durovaderiz")}});
    MainWindow w;
    WindowProbe p{w};
    w.openFile(doc);
    w.protectPdfTo(QString::fromStdString(dir.file("nowhere.pdf")), QStringLiteral("pw"));
    QTRY_COMPARE(p.status(), QStringLiteral("Шифрование не удалось (backend): локальный backend не найден"));
  }

  // The real stand-in as the window starts it: a tool right after start-up works, and the
  // stand-in takes a request with the secret and refuses one without.
  void theStandInTheWindowStarts() {
    EnvCase env({{"QUORVEL_BACKEND_EXE", qgetenv("QUORVEL_BUILD_DIR") + "/durovaderiz"}});
    for (int round = 0; round < 3; ++round) {
      MainWindow w;
      WindowProbe p{w};
      const QString out = QString::fromStdString(dir.file("stand-in-" + std::to_string(round) + ".pdf"));
      quorvel::desktop::runCommandLine(w, {doc, QStringLiteral("--encrypt"), out, QStringLiteral("--encrypt-pw"),
                                           QStringLiteral("round pw")});
      QTRY_VERIFY_WITH_TIMEOUT(p.status() != QStringLiteral("Шифрование (AES-256)…"), 20000);
      QCOMPARE(p.status(), QStringLiteral("Зашифровано (AES-256): ") + out);

      auto* link = w.findChild<BackendLink*>();
      QNetworkAccessManager nam;
      for (const bool withSecret : {false, true}) {
        QNetworkRequest r(QUrl(link->base() + QStringLiteral("/pdf/sanitize")));
        r.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/pdf"));
        if (withSecret) r.setRawHeader("Authorization", link->authorization());
        QNetworkReply* reply = nam.post(r, QByteArray::fromStdString(text_pdf({"x"})));
        QTRY_VERIFY(reply->isFinished());
        QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), withSecret ? 200 : 401);
        delete reply;
      }
    }
  }
};

QTEST_MAIN(MainWindowBackendTest)
#include "test_mainwindow_backend.moc"
