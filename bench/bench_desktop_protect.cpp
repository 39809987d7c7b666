// Password protection of a manual-like document through the backend stand-in, beside qpdf's own
// `--encrypt u o 256 --` of the same file: ours is the window's worker from the call of
// protectPdfTo to the status that the checked result is written. Runs alternate between the
// two; the figures are medians. "edited" is the same document after an edit since it was
// opened, which has to be saved in full before it is sent.
//
//   bench_desktop_protect [runs=5] [pages=2500]
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QProcess>
#include <QStatusBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_home.h"
#include "bench/figures.h"
#include "common/manual_like.h"
#include "desktop/viewer/PdfView.h"
#include "desktop/window/MainWindow.h"

namespace {

void silentMessages(QtMsgType, const QMessageLogContext&, const QString&) {}

// The stand-in on a free loopback port; the base address, empty when it did not come up.
QString startStandIn(QProcess& process, const QString& program) {
  QTcpServer probe;
  if (!probe.listen(QHostAddress::LocalHost, 0)) return {};
  const quint16 port = probe.serverPort();
  probe.close();
  process.setProgram(program);
  process.setArguments({QStringLiteral("--port"), QString::number(port)});
  process.setStandardOutputFile(QProcess::nullDevice());
  process.setStandardErrorFile(QProcess::nullDevice());
  process.start();
  if (!process.waitForStarted()) return {};
  for (int i = 0; i < 200; ++i) {
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, port);
    if (s.waitForConnected(1000)) return QStringLiteral("http://127.0.0.1:%1").arg(port);
    if (process.waitForFinished(50)) return {};
  }
  return {};
}

// Milliseconds until the window says the protected file is written; negative on failure.
double ours(quorvel::desktop::MainWindow& w, const QString& out) {
  QFile::remove(out);
  QEventLoop loop;
  bool ok = false;
  const auto c = QObject::connect(w.statusBar(), &QStatusBar::messageChanged, &loop, [&](const QString& text) {
    if (text.startsWith(QStringLiteral("Зашифровано"))) ok = true;
    if (ok || text.startsWith(QStringLiteral("Шифрование не удалось"))) loop.quit();
  });
  QTimer::singleShot(300000, &loop, &QEventLoop::quit);
  QElapsedTimer t;
  t.start();
  w.protectPdfTo(out, QStringLiteral("u"));
  loop.exec();
  const double ms = static_cast<double>(t.nsecsElapsed()) / 1e6;
  QObject::disconnect(c);
  return ok ? ms : -1;
}

double peer(const QString& in, const QString& out) {
  QFile::remove(out);
  QProcess qpdf;
  QElapsedTimer t;
  t.start();
  qpdf.start(QStringLiteral("qpdf"), {QStringLiteral("--encrypt"), QStringLiteral("u"), QStringLiteral("o"),
                                      QStringLiteral("256"), QStringLiteral("--"), in, out});
  if (!qpdf.waitForFinished(300000) || qpdf.exitCode() != 0) return -1;
  return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc >= 2 ? std::max(1, std::atoi(argv[1])) : 5;
  const int pages = argc >= 3 ? std::max(1, std::atoi(argv[2])) : 2500;

  const std::string base = benchHome("protect");
  if (base.empty()) return 1;
  unsetenv("QUORVEL_BACKEND_EXE");
  qInstallMessageHandler(silentMessages);
  QApplication app(argc, argv);
  QCoreApplication::setOrganizationName(QStringLiteral("Quorvel"));
  QCoreApplication::setApplicationName(QStringLiteral("PDF Dodiru Quorvel"));

  const std::string pdf = base + "/manual.pdf";
  {
    std::ofstream f(pdf, std::ios::binary);
    f << quorvel::test::manual_like_pdf({pages, 3000, true});
  }
  const QString in = QString::fromStdString(pdf);
  const QString out = QString::fromStdString(base + "/protected.pdf");
  const QString peerOut = QString::fromStdString(base + "/qpdf.pdf");

  QProcess standIn;
  const QString standInProgram =
      QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../durovaderiz"));
  const QString backend = startStandIn(standIn, standInProgram);
  if (backend.isEmpty()) {
    std::printf("the stand-in %s did not start\n", qPrintable(standInProgram));
    return 1;
  }
  qputenv("QUORVEL_BACKEND", backend.toUtf8());
  std::printf("protection of a %d-page manual-like PDF (%.1f MB), %d runs each\n", pages,
              static_cast<double>(std::filesystem::file_size(pdf)) / 1e6, runs);

  int failures = 0;
  const auto measure = [&](quorvel::desktop::MainWindow& w, const char* label) {
    std::vector<double> a, b;
    for (int i = 0; i < runs; ++i) {
      const double o = ours(w, out), p = peer(in, peerOut);
      if (o < 0 || p < 0) {
        ++failures;
        std::printf("%s run %d failed\n", label, i + 1);
        continue;
      }
      a.push_back(o);
      b.push_back(p);
    }
    const double mo = median(a), mp = median(b);
    std::printf("%-9s ours %8.1f ms   qpdf %8.1f ms   ratio %.2f\n", label, mo, mp, mp > 0 ? mo / mp : 0.0);
  };
  {
    quorvel::desktop::MainWindow w;
    w.openFile(in);
    if (!w.currentView()) {
      std::printf("the document did not open\n");
      return 1;
    }
    measure(w, "unchanged");
    // A page turned there and back: the same pages, but an edit since the document was opened.
    w.rotatePageAt(1);
    w.rotatePageAt(1);
    w.rotatePageAt(1);
    w.rotatePageAt(1);
    measure(w, "edited");
  }
  standIn.kill();
  standIn.waitForFinished();
  std::filesystem::remove_all(base);
  return failures == 0 ? 0 : 1;
}
