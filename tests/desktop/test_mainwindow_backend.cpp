// When the window starts the local backend, with what, and how it stops it; the address every
// backend caller uses. The program is a recording stand-in named by QUORVEL_BACKEND_EXE.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>

#include <csignal>
#include <cerrno>
#include <sys/types.h>

#include "common/time_bound.h"
#include "test_mainwindow_support.h"

using quorvel::desktop::MainWindow;
using namespace quorvel::test;

namespace {

// Writes what it was started with beside itself, then waits to be stopped; with `ignoreTerm`
// it survives SIGTERM, as a stuck backend would.
QString writeFakeBackend(const TempDir& dir, const char* name, bool ignoreTerm) {
  std::string script =
      "#!/bin/sh\n"
      "out=$(readlink /proc/$$/fd/1)\n"
      "err=$(readlink /proc/$$/fd/2)\n"
      "{\n"
      "  echo \"pid=$$\"\n"
      "  for a in \"$@\"; do echo \"arg=[$a]\"; done\n"
      "  echo \"watch=$QUORVEL_PARENT_WATCH\"\n"
      "  echo \"stdout=$out\"\n"
      "  echo \"stderr=$err\"\n"
      "} > \"$0.rec.tmp\"\n"
      "mv \"$0.rec.tmp\" \"$0.rec\"\n"
      "echo 'backend says hello'\n";
  if (ignoreTerm) script += "trap '' TERM\n";
  script += "exec sleep 30\n";
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

// Gone for good: neither running nor left as a zombie.
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

}  // namespace

class MainWindowBackendTest : public QObject {
  Q_OBJECT

  TempDir dir;
  QString fake, stubborn;

 private slots:
  void initTestCase() {
    QCoreApplication::setOrganizationName(QStringLiteral("Quorvel"));
    QCoreApplication::setApplicationName(QStringLiteral("PDF Dodiru Quorvel"));
    fake = writeFakeBackend(dir, "fake-backend", false);
    stubborn = writeFakeBackend(dir, "stubborn-backend", true);
    // Beside the test program there is no backend, so only QUORVEL_BACKEND_EXE can name one.
    QVERIFY(!QFile::exists(QDir(QCoreApplication::applicationDirPath()).filePath("durovaderiz")));
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
    QTest::addColumn<QString>("address");  // QUORVEL_BACKEND afterwards; "<unset>" none
    QTest::newRow("configured address") << "http://10.0.0.5:7000" << "<fake>" << "<unset>" << false
                                        << QStringList{} << "http://10.0.0.5:7000";
    QTest::newRow("unset, default port") << "<unset>" << "<fake>" << "<unset>" << true
                                         << QStringList{"--port", "8000"} << "http://127.0.0.1:8000";
    QTest::newRow("empty counts as unset") << "" << "<fake>" << "8123" << true
                                           << QStringList{"--port", "8123"} << "http://127.0.0.1:8123";
    QTest::newRow("port set but empty") << "<unset>" << "<fake>" << "" << true << QStringList{"--port", ""}
                                        << "http://127.0.0.1:";
    QTest::newRow("program missing") << "<unset>" << "/nonexistent/durovaderiz" << "<unset>" << false
                                     << QStringList{} << "<unset>";
    QTest::newRow("nothing beside the executable") << "" << "" << "<unset>" << false << QStringList{} << "";
  }
  void startRules() {
    QFETCH(QString, backend);
    QFETCH(QString, exe);
    QFETCH(QString, port);
    QFETCH(bool, started);
    QFETCH(QStringList, args);
    QFETCH(QString, address);
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
      if (address == QStringLiteral("<unset>"))
        QVERIFY(!qEnvironmentVariableIsSet("QUORVEL_BACKEND"));
      else
        QCOMPARE(qEnvironmentVariable("QUORVEL_BACKEND"), address);
      if (!started) {
        QVERIFY2(childProcesses().isEmpty(), qPrintable(childProcesses().join(QLatin1Char(' '))));
        QVERIFY(record(fake).isEmpty());
        return;
      }
      QTRY_VERIFY(!record(fake).isEmpty());
      const QStringList rec = record(fake);
      QCOMPARE(argsOf(rec), args);
      QCOMPARE(field(rec, "watch"), QStringLiteral("1"));
      // Nobody reads the backend's output, so it must not fill a pipe.
      QCOMPARE(field(rec, "stdout"), QStringLiteral("/dev/null"));
      QCOMPARE(field(rec, "stderr"), QStringLiteral("/dev/null"));
      pid = process->processId();
      QVERIFY(pid > 0);
      QCOMPARE(field(rec, "pid"), QString::number(pid));
    }
    QVERIFY(reaped(pid));
  }

  void stuckBackendIsKilledAfterTwoSeconds() {
    EnvCase env({{"QUORVEL_BACKEND", std::nullopt},
                 {"QUORVEL_BACKEND_EXE", stubborn.toUtf8()},
                 {"QUORVEL_BACKEND_PORT", QByteArray::number(freePort())}});
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
    EnvCase env({{"QUORVEL_BACKEND", std::nullopt}, {"QUORVEL_BACKEND_EXE", fake.toUtf8()}});
    auto* w = new MainWindow;
    QTRY_VERIFY(!record(fake).isEmpty());
    QElapsedTimer t;
    t.start();
    delete w;
    QVERIFY2(t.elapsed() < time_bound_ms(1500), qPrintable(QString::number(t.elapsed())));
  }

  void addressRule_data() {
    QTest::addColumn<QString>("backend");
    QTest::addColumn<QString>("url");
    QTest::newRow("unset") << "<unset>" << "http://127.0.0.1:8000/pdf/encrypt";
    QTest::newRow("configured") << "http://10.1.2.3:9000" << "http://10.1.2.3:9000/pdf/encrypt";
    QTest::newRow("trailing slash kept") << "http://h:1/" << "http://h:1//pdf/encrypt";
    QTest::newRow("empty gives a bare path") << "" << "/pdf/encrypt";
  }
  void addressRule() {
    QFETCH(QString, backend);
    EnvCase env({{"QUORVEL_BACKEND",
                  backend == QStringLiteral("<unset>") ? std::nullopt : std::optional(backend.toUtf8())}});
    QTEST(MainWindow::backendUrl(QStringLiteral("/pdf/encrypt")).toString(), "url");
  }
};

QTEST_MAIN(MainWindowBackendTest)
#include "test_mainwindow_backend.moc"
