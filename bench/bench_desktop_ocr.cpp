// The searchable copy made by recognition against the recogniser's own PDF output, on scans of
// known text: pages of a manual rendered at 300 dpi by pdftoppm and put into image-only PDFs.
// For ours (the window's OCR layer through the built companion program) and for
// `tesseract IMAGE OUT pdf`, pdftotext reads each copy back and the figures are: words per line,
// the share of (up to) 300 three-word phrases of the original found on one line, the recall of
// the original's words, and the time taken.
//
//   bench_desktop_ocr [pdf=/usr/share/doc/libtasn1-doc/libtasn1.pdf] [pages=8,12,16,20] [dpi=300]
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QRegularExpression>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/bench_home.h"
#include "desktop/window/MainWindow.h"

using quorvel::desktop::MainWindow;

namespace {

void silentMessages(QtMsgType, const QMessageLogContext&, const QString&) {}

// Standard output of a program, or a null array when it fails.
QByteArray run(const QString& program, const QStringList& args, const QProcessEnvironment& env = {}) {
  QProcess p;
  if (!env.isEmpty()) p.setProcessEnvironment(env);
  p.setStandardErrorFile(QProcess::nullDevice());
  p.start(program, args);
  if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) return {};
  QByteArray out = p.readAllStandardOutput();
  if (out.isNull()) out = QByteArray("");
  return out;
}

using Line = QStringList;  // the words of one line, lower-cased, letters and digits only

QList<Line> linesOf(const QByteArray& text) {
  static const QRegularExpression nonWord(QStringLiteral("[^\\w]+"), QRegularExpression::UseUnicodePropertiesOption);
  QList<Line> out;
  for (const QString& l : QString::fromUtf8(text).split(QLatin1Char('\n'))) {
    const Line words = l.toLower().split(nonWord, Qt::SkipEmptyParts);
    if (!words.isEmpty()) out << words;
  }
  return out;
}

QList<Line> pageLines(const QString& pdf, int page) {
  return linesOf(run(QStringLiteral("pdftotext"), {QStringLiteral("-f"), QString::number(page), QStringLiteral("-l"),
                                                   QString::number(page), pdf, QStringLiteral("-")}));
}

struct Figures {
  double wordsPerLine = 0, phrases = 0, recall = 0, seconds = 0;
};

Figures measure(const QList<QList<Line>>& truth, const QList<QList<Line>>& got, const QList<Line>& phrases,
                double seconds) {
  Figures f;
  f.seconds = seconds;
  qsizetype words = 0, lines = 0, expected = 0, found = 0, phrasesFound = 0;
  for (qsizetype page = 0; page < truth.size(); ++page) {
    QHash<QString, int> pool;
    for (const Line& l : got[page]) {
      words += l.size();
      ++lines;
      for (const QString& w : l) ++pool[w];
    }
    for (const Line& l : truth[page]) {
      for (const QString& w : l) {
        ++expected;
        auto it = pool.find(w);
        if (it != pool.end() && it.value() > 0) {
          --it.value();
          ++found;
        }
      }
    }
  }
  for (const Line& phrase : phrases) {
    bool hit = false;
    for (const QList<Line>& page : got) {
      for (const Line& l : page) {
        for (qsizetype i = 0; !hit && i + 3 <= l.size(); ++i) hit = l.mid(i, 3) == phrase;
      }
    }
    phrasesFound += hit;
  }
  f.wordsPerLine = lines ? double(words) / lines : 0;
  f.recall = expected ? double(found) / expected : 0;
  f.phrases = phrases.isEmpty() ? 0 : double(phrasesFound) / phrases.size();
  return f;
}

// An image-only PDF of one page image at `dpi`, the page as large as the image at that resolution.
bool writeScan(const QImage& image, double dpi, const QString& path) {
  QPdfWriter writer(path);
  writer.setResolution(72);
  const QSizeF points(image.width() * 72.0 / dpi, image.height() * 72.0 / dpi);
  writer.setPageSize(QPageSize(points, QPageSize::Point));
  writer.setPageMargins(QMarginsF(0, 0, 0, 0));
  QPainter painter(&writer);
  painter.drawImage(QRectF(QPointF(0, 0), points), image);
  return painter.end();
}

}  // namespace

int main(int argc, char** argv) {
  const QString source = argc >= 2 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/usr/share/doc/libtasn1-doc/libtasn1.pdf");
  QList<int> pages;
  for (const QString& p : QString::fromLocal8Bit(argc >= 3 ? argv[2] : "8,12,16,20").split(QLatin1Char(',')))
    if (p.toInt() > 0) pages << p.toInt();
  const double dpi = argc >= 4 ? std::max(50.0, std::atof(argv[3])) : 300.0;

  const std::string home = benchHome("ocr");
  if (home.empty()) return 1;
  const QString base = QString::fromStdString(home);
  setenv("QUORVEL_BACKEND", "http://127.0.0.1:9", 1);
  // Both recognisers on one thread, as the companion program runs itself.
  setenv("OMP_THREAD_LIMIT", "1", 1);
  if (!getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  qInstallMessageHandler(silentMessages);
  QApplication app(argc, argv);
  QCoreApplication::setOrganizationName(QStringLiteral("Quorvel"));
  QCoreApplication::setApplicationName(QStringLiteral("PDF Dodiru Quorvel"));
  const QString ocr = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../taviocr"));
  if (!QFileInfo::exists(ocr) || !QFileInfo::exists(source) || pages.isEmpty()) {
    std::fprintf(stderr, "needs the built taviocr and the source PDF\n");
    return 1;
  }
  qputenv("QUORVEL_OCR", QFileInfo(ocr).absoluteFilePath().toLocal8Bit());

  int rc = 0;
  QList<QList<Line>> truth, ours, peer;
  double oursSeconds = 0, peerSeconds = 0;
  for (int page : pages) {
    const QString stem = QDir(base).filePath(QStringLiteral("p%1").arg(page));
    if (run(QStringLiteral("pdftoppm"), {QStringLiteral("-r"), QString::number(dpi), QStringLiteral("-f"), QString::number(page),
                                         QStringLiteral("-l"), QString::number(page), QStringLiteral("-png"),
                                         QStringLiteral("-singlefile"), source, stem})
            .isNull()) {
      std::fprintf(stderr, "pdftoppm could not render page %d\n", page);
      rc = 1;
      break;
    }
    const QImage image(stem + QStringLiteral(".png"));
    const QString scan = stem + QStringLiteral("-scan.pdf");
    if (image.isNull() || !writeScan(image, dpi, scan)) {
      rc = 1;
      break;
    }
    truth << pageLines(source, page);

    QElapsedTimer clock;
    clock.start();
    const QString searchable = stem + QStringLiteral("-ours.pdf");
    {
      MainWindow w;
      w.openFile(scan);
      w.ocrSearchableTo(searchable);
    }
    oursSeconds += clock.nsecsElapsed() / 1e9;
    ours << pageLines(searchable, 1);

    clock.restart();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    run(QStringLiteral("tesseract"), {stem + QStringLiteral(".png"), stem + QStringLiteral("-peer"), QStringLiteral("--dpi"),
                                      QString::number(dpi), QStringLiteral("-l"), QStringLiteral("eng+rus"), QStringLiteral("pdf")},
        env);
    peerSeconds += clock.nsecsElapsed() / 1e9;
    peer << pageLines(stem + QStringLiteral("-peer.pdf"), 1);
  }

  if (rc == 0) {
    // Three consecutive words of one line of the original, spread evenly over all of them.
    QList<Line> all;
    for (const QList<Line>& page : truth) {
      for (const Line& l : page) {
        for (qsizetype i = 0; i + 3 <= l.size(); ++i) all << l.mid(i, 3);
      }
    }
    QList<Line> phrases;
    const qsizetype want = std::min<qsizetype>(300, all.size());
    for (qsizetype i = 0; i < want; ++i) phrases << all[i * all.size() / want];

    qsizetype words = 0, lines = 0;
    for (const QList<Line>& page : truth) {
      lines += page.size();
      for (const Line& l : page) words += l.size();
    }
    const QString list = [&] {
      QStringList s;
      for (int p : pages) s << QString::number(p);
      return s.join(QLatin1Char(','));
    }();
    std::printf("%s pages %s at %.0f dpi: %lld words on %lld lines (%.1f a line), %lld phrases\n",
                qPrintable(QFileInfo(source).fileName()), qPrintable(list), dpi, static_cast<long long>(words),
                static_cast<long long>(lines), lines ? double(words) / lines : 0.0, static_cast<long long>(phrases.size()));
    const Figures o = measure(truth, ours, phrases, oursSeconds);
    const Figures t = measure(truth, peer, phrases, peerSeconds);
    std::printf("%-26s %10s %10s %10s\n", "", "ours", "tesseract", "ours/peer");
    auto row = [](const char* what, double a, double b, const char* format) {
      char x[32], y[32];
      std::snprintf(x, sizeof x, format, a);
      std::snprintf(y, sizeof y, format, b);
      std::printf("%-26s %10s %10s %10.2f\n", what, x, y, b > 0 ? a / b : 0.0);
    };
    row("words per line", o.wordsPerLine, t.wordsPerLine, "%.2f");
    row("phrases on one line", o.phrases, t.phrases, "%.3f");
    row("word recall", o.recall, t.recall, "%.3f");
    row("seconds", o.seconds, t.seconds, "%.1f");
  }
  QDir(base).removeRecursively();
  return rc;
}
