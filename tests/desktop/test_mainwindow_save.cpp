// Writing the open document out: saved copies with the annotations, page images, printing
// into a file, their File-menu entries, and what each says when it cannot write.
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QMenuBar>
#include <QPrintDialog>
#include <QSettings>
#include <QtTest>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "common/time_bound.h"
#include "desktop/window/MainWindowCommandLine.h"
#include "desktop/window/lang.h"
#include "lang_guard.h"
#include "test_mainwindow_support.h"

using quorvel::desktop::MainWindow;
using quorvel::desktop::PdfView;
using namespace quorvel::test;
namespace annot = quorvel::annot;

namespace {

// What qpdf reads in a file: its page count and, per page, the images; empty when it
// cannot read the file.
QJsonArray qpdfPages(const QString& path) {
  std::string out;
  if (run_program({"qpdf", "--json", "--json-key=pages", path.toStdString()}, &out) != 0) return {};
  return QJsonDocument::fromJson(QByteArray::fromStdString(out)).object().value(QStringLiteral("pages")).toArray();
}

bool qpdfChecks(const QString& path) { return run_program({"qpdf", "--check", path.toStdString()}) == 0; }

// How often an annotation subtype occurs in the file, read in qpdf's uncompressed form.
int countSubtype(const QString& path, const char* subtype, const TempDir& scratch) {
  const std::string qdf = scratch.file("count.qdf");
  if (run_program({"qpdf", "--qdf", "--object-streams=disable", path.toStdString(), qdf}) != 0) return -1;
  const std::string text = read_file(qdf);
  const std::string key = std::string("/Subtype /") + subtype;
  int n = 0;
  for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) ++n;
  return n;
}

annot::Annotation highlight(int page) {
  annot::Annotation a;
  a.page = page;
  a.type = annot::AnnotType::Highlight;
  a.x0 = 70;
  a.y0 = 715;
  a.x1 = 140;
  a.y1 = 735;
  return a;
}

QAction* fileEntry(MainWindow& w, const QString& text) {
  for (QAction* a : w.menuBar()->actions().at(0)->menu()->actions())
    if (a->text() == text) return a;
  return nullptr;
}

// A grey-level raster of the first page of a PDF, as poppler draws it.
QImage rasterize(const QString& pdf, const TempDir& scratch, int dpi) {
  const std::string prefix = scratch.file("raster");
  if (run_program({"pdftoppm", "-gray", "-r", std::to_string(dpi), "-f", "1", "-l", "1", "-singlefile",
                   pdf.toStdString(), prefix}) != 0)
    return {};
  return QImage(QString::fromStdString(prefix + ".pgm"));
}

// The box of the dark pixels of an image.
QRect darkBox(const QImage& img) {
  QRect box;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x)
      if (qGray(img.pixel(x, y)) < 64) box = box.united(QRect(x, y, 1, 1));
  return box;
}

}  // namespace

class MainWindowSaveTest : public QObject {
  Q_OBJECT

  TempDir dir;
  QString threePages, twelvePages, mixedSizes, landscape;

 private slots:
  void initTestCase() {
    QCoreApplication::setOrganizationName(QStringLiteral("Quorvel"));
    QCoreApplication::setApplicationName(QStringLiteral("PDF Dodiru Quorvel"));
    threePages = writeTestFile(dir, "three.pdf", text_pdf({"one", "two", "three"}));
    std::vector<std::string> texts;
    for (int i = 1; i <= 12; ++i) texts.push_back("page " + std::to_string(i));
    twelvePages = writeTestFile(dir, "twelve.pdf", text_pdf(texts));
    PageSpec letter, a4;
    a4.width = 595;
    a4.height = 842;
    mixedSizes = writeTestFile(dir, "mixed.pdf", make_pdf({letter, a4}));
    PageSpec wide;
    wide.width = 792;
    wide.height = 612;
    wide.content = "0 0 0 rg 0 0 792 612 re f";
    landscape = writeTestFile(dir, "landscape.pdf", make_pdf({wide}));
  }
  void init() {
    QSettings().clear();
    quorvel::desktop::g_lang = 0;
  }

  void savedCopyCarriesTheAnnotations() {
    MainWindow w;
    WindowProbe p{w};
    w.openFile(threePages);
    w.currentView()->addAnnotation(highlight(0));
    w.currentView()->addAnnotation(highlight(2));
    const QString out = QString::fromStdString(dir.file("copy.pdf"));
    w.saveDocumentTo(out);
    QCOMPARE(p.status(), QStringLiteral("Сохранено: %1").arg(out));
    QVERIFY(qpdfChecks(out));
    QCOMPARE(qpdfPages(out).size(), 3);
    QCOMPARE(countSubtype(out, "Highlight", dir), 2);
    // The tab stays on its own document; the copy opens as a document of its own.
    QCOMPARE(p.tabs()->count(), 1);
    w.openFile(out);
    QCOMPARE(p.tabs()->count(), 2);
    QCOMPARE(w.currentView()->pageCount(), 3);
  }

  void savingOverTheOpenFileKeepsItWhole() {
    const QString path = writeTestFile(dir, "self.pdf", text_pdf({"a", "b"}));
    MainWindow w;
    WindowProbe p{w};
    w.openFile(path);
    w.currentView()->addAnnotation(highlight(1));
    w.saveDocumentTo(path);
    QCOMPARE(p.status(), QStringLiteral("Сохранено: %1").arg(path));
    QVERIFY(qpdfChecks(path));
    QCOMPARE(countSubtype(path, "Highlight", dir), 1);
    // Again, now that the file it replaces is the one it was read from the first time.
    w.saveDocumentTo(path);
    QVERIFY(qpdfChecks(path));
    QCOMPARE(qpdfPages(path).size(), 2);
    QCOMPARE(w.currentView()->pageCount(), 2);
    QVERIFY(QDir(QString::fromStdString(dir.path())).entryList({QStringLiteral(".*tmp*")}, QDir::Hidden | QDir::Files).isEmpty());
  }

  void saveFailuresSaySo_data() {
    QTest::addColumn<QString>("target");
    QTest::newRow("a folder") << QStringLiteral("folder");
    QTest::newRow("in a missing folder") << QStringLiteral("missing/out.pdf");
  }
  void saveFailuresSaySo() {
    QFETCH(QString, target);
    QDir(QString::fromStdString(dir.path())).mkpath(QStringLiteral("folder"));
    const QString path = QString::fromStdString(dir.path()) + QLatin1Char('/') + target;
    MainWindow w;
    WindowProbe p{w};
    w.openFile(threePages);
    w.saveDocumentTo(path);
    QCOMPARE(p.status(), QStringLiteral("Не удалось сохранить документ"));
    QCOMPARE(p.tabs()->count(), 1);
    QVERIFY(QFileInfo(QString::fromStdString(dir.path()) + QStringLiteral("/folder")).isDir());
  }

  // A page that neither PDFium nor the rebuilt file can read: every command that writes the
  // document out names it instead of writing the document without it.
  void writersNameAPageThatCannotBeRead() {
    const QString damaged = writeTestFile(dir, "damaged.pdf", break_object(text_pdf({"one", "two", "three"}), 7, true));
    MainWindow w;
    WindowProbe p{w};
    w.openFile(damaged);
    QCOMPARE(w.currentView()->pageCount(), 3);
    const QString out = QString::fromStdString(dir.file("damaged-out.pdf"));
    const QString note = QStringLiteral(": не читается страница 2");
    w.saveDocumentTo(out);
    QCOMPARE(p.status(), QStringLiteral("Не удалось сохранить документ") + note);
    w.nUpTo(2, 2, out);
    QCOMPARE(p.status(), QStringLiteral("Не удалось сделать N-up") + note);
    w.saveRangeTo(out, 0, 2);
    QCOMPARE(p.status(), QStringLiteral("Не удалось сохранить диапазон") + note);
    w.exportTextTo(QString::fromStdString(dir.file("damaged.txt")));
    QCOMPARE(p.status(), QStringLiteral("Не удалось экспортировать") + note);
    w.protectPdfTo(out, QStringLiteral("secret"));
    QCOMPARE(p.status(), QStringLiteral("Не удалось подготовить документ") + note);
    QVERIFY(!QFileInfo::exists(out));
    QVERIFY(!QFileInfo::exists(QString::fromStdString(dir.file("damaged.txt"))));
    // The pages that read are still written on their own.
    w.saveRangeTo(out, 2, 2);
    QCOMPARE(p.status(), QStringLiteral("Сохранён диапазон страниц: %1").arg(out));
  }

  void commandsWithoutDocumentOrPathDoNothing() {
    MainWindow w;
    WindowProbe p{w};
    const QString before = p.status();
    const QString out = QString::fromStdString(dir.file("nothing.pdf"));
    w.saveDocumentTo(out);
    w.printToFile(out);
    w.exportPageTo(out);
    w.saveDocumentAs();
    w.exportCurrentPage();
    w.exportAllPages();
    w.printDocument();
    QCOMPARE(p.status(), before);
    QVERIFY(!QFile::exists(out));
    w.openFile(threePages);
    const QString opened = p.status();
    w.saveDocumentTo(QString());
    w.printToFile(QString());
    w.exportPageTo(QString());
    QCOMPARE(p.status(), opened);
  }

  void pageImageIsTheCurrentPageAt150Dpi() {
    MainWindow w;
    WindowProbe p{w};
    w.openFile(mixedSizes);
    const QString png = QString::fromStdString(dir.file("letter.png"));
    w.exportPageTo(png);
    QCOMPARE(p.status(), QStringLiteral("Сохранено: %1").arg(png));
    QCOMPARE(QImage(png).size(), QSize(1275, 1650));

    w.currentView()->goToPage(2);
    QCOMPARE(w.currentView()->currentPage(), 2);
    w.exportPageTo(png);  // replaces the first image
    QCOMPARE(QImage(png).size(), QSize(1240, 1754));

    w.exportPageTo(QString::fromStdString(dir.path()));
    QCOMPARE(p.status(), QStringLiteral("Не удалось сохранить изображение"));
  }

  void exportDialogsProposeAndWrite() {
    MainWindow w;
    WindowProbe p{w};
    w.openFile(twelvePages);
    w.currentView()->goToPage(7);
    QCOMPARE(w.currentView()->currentPage(), 7);
    const QString png = QString::fromStdString(dir.file("chosen.png"));
    QString proposed;
    {
      ModalAnswerer answer({chooseFile(png, &proposed)});
      fileEntry(w, QStringLiteral("Экспорт страницы в PNG…"))->trigger();
      QCOMPARE(answer.seen.size(), 1);
      QCOMPARE(answer.seen.at(0).title, QStringLiteral("Экспорт страницы в PNG"));
    }
    QCOMPARE(proposed, QStringLiteral("page-7.png"));
    QCOMPARE(p.status(), QStringLiteral("Сохранено: %1").arg(png));
    QVERIFY(!QImage(png).isNull());

    const QString out = QString::fromStdString(dir.file("pages"));
    QDir().mkpath(out);
    {
      ModalAnswerer answer({chooseFile(out)});
      fileEntry(w, QStringLiteral("Экспорт всех страниц в PNG…"))->trigger();
      QCOMPARE(answer.seen.size(), 1);
      QCOMPARE(answer.seen.at(0).title, QStringLiteral("Папка для экспорта страниц"));
    }
    QStringList expected;
    for (int i = 1; i <= 12; ++i) expected << QStringLiteral("page-%1.png").arg(i, 3, 10, QLatin1Char('0'));
    QCOMPARE(QDir(out).entryList(QDir::Files, QDir::Name), expected);
    QCOMPARE(QImage(out + QStringLiteral("/page-012.png")).size(), QSize(1275, 1650));
    QCOMPARE(p.status(), QStringLiteral("Экспортировано страниц: 12 → %1").arg(out));

    // A cancelled dialog writes nothing and says nothing.
    const QString before = p.status();
    {
      ModalAnswerer answer({rejectDialog(), rejectDialog()});
      fileEntry(w, QStringLiteral("Экспорт всех страниц в PNG…"))->trigger();
      fileEntry(w, QStringLiteral("Экспорт страницы в PNG…"))->trigger();
      QCOMPARE(answer.seen.size(), 2);
    }
    QCOMPARE(p.status(), before);
  }

  void saveAsDialogInBothLanguages_data() {
    QTest::addColumn<int>("lang");
    QTest::newRow("ru") << 0;
    QTest::newRow("en") << 1;
  }
  void saveAsDialogInBothLanguages() {
    QFETCH(int, lang);
    LangGuard guard(lang);
    MainWindow w;
    WindowProbe p{w};
    w.openFile(threePages);
    const QString out = QString::fromStdString(dir.file(lang ? "en.pdf" : "ru.pdf"));
    QString proposed;
    {
      ModalAnswerer answer({chooseFile(out, &proposed)});
      fileEntry(w, lang ? QStringLiteral("Save as…") : QStringLiteral("Сохранить как…"))->trigger();
      QCOMPARE(answer.seen.size(), 1);
      QCOMPARE(answer.seen.at(0).title, lang ? QStringLiteral("Save as") : QStringLiteral("Сохранить как"));
    }
    QCOMPARE(proposed, QStringLiteral("copy.pdf"));
    // The status texts of saving are Russian in both languages.
    QCOMPARE(p.status(), QStringLiteral("Сохранено: %1").arg(out));
    QVERIFY(qpdfChecks(out));
  }

  void printIntoFileGivesOneImagePerPage() {
    MainWindow w;
    WindowProbe p{w};
    w.openFile(threePages);
    const QString out = QString::fromStdString(dir.file("printed.pdf"));
    w.printToFile(out);
    QCOMPARE(p.status(), QStringLiteral("Напечатано в файл: %1").arg(out));
    QVERIFY(qpdfChecks(out));
    const QJsonArray pages = qpdfPages(out);
    QCOMPARE(pages.size(), 3);
    for (const QJsonValue& page : pages) QCOMPARE(page.toObject().value(QStringLiteral("images")).toArray().size(), 1);
  }

  void printReplacesAnExistingFileKeepingItsMode() {
    const QString out = writeTestFile(dir, "replaced.pdf", "old text");
    QVERIFY(QFile::setPermissions(out, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup));
    MainWindow w;
    w.openFile(threePages);
    w.printToFile(out);
    QCOMPARE(qpdfPages(out).size(), 3);
    struct stat st {};
    QCOMPARE(::stat(QFile::encodeName(out).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, 0640u);
  }

  // A page too large to draw (14,400 points a side) leaves its sheet empty; the other pages are
  // printed and the status names the page that failed.
  void printSkipsAPageThatCannotBeDrawn_data() {
    QTest::addColumn<QList<int>>("huge");  // 1-based
    QTest::addColumn<QString>("says");
    QTest::newRow("the middle page") << QList<int>{2} << QStringLiteral("; страница 2 не нарисована, её лист пуст");
    QTest::newRow("first and last") << QList<int>{1, 3}
                                    << QStringLiteral("; страницы 1, 3 не нарисованы, их листы пусты");
  }
  void printSkipsAPageThatCannotBeDrawn() {
    QFETCH(QList<int>, huge);
    QFETCH(QString, says);
    std::vector<PageSpec> specs(3);
    for (int p = 0; p < 3; ++p) {
      specs[size_t(p)].content = "0 0 0 rg 10 10 100 100 re f";
      if (huge.contains(p + 1)) specs[size_t(p)].width = specs[size_t(p)].height = 14400;
    }
    const QString doc = writeTestFile(dir, "huge.pdf", make_pdf(specs));
    MainWindow w;
    WindowProbe p{w};
    w.openFile(doc);
    const QString out = QString::fromStdString(dir.file("huge-printed.pdf"));
    QFile::remove(out);
    w.printToFile(out);
    QCOMPARE(p.status(), QStringLiteral("Напечатано в файл: %1").arg(out) + says);
    QVERIFY(qpdfChecks(out));
    const QJsonArray pages = qpdfPages(out);
    QCOMPARE(pages.size(), 3);
    for (int i = 0; i < 3; ++i)
      QCOMPARE(pages[i].toObject().value(QStringLiteral("images")).toArray().size(), huge.contains(i + 1) ? 0 : 1);
  }

  void printFailuresSaySo_data() {
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("lang");
    QTest::newRow("a folder") << QStringLiteral("folder") << 0;
    QTest::newRow("in a missing folder") << QStringLiteral("missing/out.pdf") << 0;
    QTest::newRow("a folder, English") << QStringLiteral("folder") << 1;
  }
  void printFailuresSaySo() {
    QFETCH(QString, target);
    QFETCH(int, lang);
    LangGuard guard(lang);
    QDir(QString::fromStdString(dir.path())).mkpath(QStringLiteral("folder"));
    MainWindow w;
    WindowProbe p{w};
    w.openFile(threePages);
    w.printToFile(QString::fromStdString(dir.path()) + QLatin1Char('/') + target);
    QCOMPARE(p.status(), lang ? QStringLiteral("Printing failed") : QStringLiteral("Не удалось напечатать"));
    QVERIFY(QFileInfo(QString::fromStdString(dir.path()) + QStringLiteral("/folder")).isDir());
  }

  void printedPageIsCentredAndScaledToTheSheet() {
    MainWindow w;
    w.openFile(landscape);
    const QString out = QString::fromStdString(dir.file("centred.pdf"));
    w.printToFile(out);
    const QImage sheet = rasterize(out, dir, 36);
    QVERIFY(!sheet.isNull());
    QVERIFY(sheet.height() > sheet.width());  // the printer's default paper is portrait
    const QRect ink = darkBox(sheet);
    QVERIFY(!ink.isEmpty());
    // The landscape page fills the printable width and sits in the middle of the height.
    const int left = ink.left(), right = sheet.width() - 1 - ink.right();
    const int top = ink.top(), bottom = sheet.height() - 1 - ink.bottom();
    QVERIFY2(qAbs(left - right) <= 1, qPrintable(QStringLiteral("%1 %2").arg(left).arg(right)));
    QVERIFY2(qAbs(top - bottom) <= 1, qPrintable(QStringLiteral("%1 %2").arg(top).arg(bottom)));
    QVERIFY(top > left + 50);
    QVERIFY(qAbs(double(ink.width()) / ink.height() - 792.0 / 612.0) < 0.03);
  }

  void commandLineWritesEachOutput() {
    MainWindow w;
    const QString out = QString::fromStdString(dir.file("cl-saved.pdf"));
    const QString printed = QString::fromStdString(dir.file("cl-printed.pdf"));
    const QString png = QString::fromStdString(dir.file("cl-page.png"));
    quorvel::desktop::runCommandLine(
        w, {"--export", png, "--print", printed, threePages, "--find", "two", "--save", out});
    if (w.currentView()->searchRunning()) {
      QSignalSpy searched(w.currentView(), &PdfView::searchFinished);
      QVERIFY(searched.wait(time_bound_ms(20000)));
    }
    QCOMPARE(qpdfPages(out).size(), 3);
    QCOMPARE(qpdfPages(printed).size(), 3);
    QCOMPARE(QImage(png).size(), QSize(1275, 1650));
    QCOMPARE(w.findChild<QLabel*>(QStringLiteral("searchLabel"))->text(), QStringLiteral("1 / 1"));
  }

  void printDialogCancelledPrintsNothing() {
    MainWindow w;
    WindowProbe p{w};
    w.openFile(threePages);
    const QString before = p.status();
    ModalAnswerer answer({rejectDialog()});
    fileEntry(w, QStringLiteral("Печать…"))->trigger();
    QCOMPARE(answer.seen.size(), 1);
    QCOMPARE(answer.seen.at(0).title, QStringLiteral("Печать"));
    QCOMPARE(p.status(), before);
  }
};

QTEST_MAIN(MainWindowSaveTest)
#include "test_mainwindow_save.moc"
