// The signature picture, text replacement, N-up sheets and both merges, called as the command
// line calls them and through their File-menu entries with the dialogs answered.
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QtTest>

#include <cmath>
#include <string>
#include <vector>

#include "desktop/panels/ThumbnailPanel.h"
#include "desktop/window/lang.h"
#include "core/search.h"
#include "lang_guard.h"
#include "qt_contract.h"
#include "test_mainwindow_support.h"

using quorvel::desktop::MainWindow;
using quorvel::desktop::PdfView;
using namespace quorvel::test;

namespace {

bool near(double a, double b, double tolerance = 0.01) { return std::fabs(a - b) <= tolerance; }

bool qpdfChecks(const QString& path) { return run_program({"qpdf", "--check", path.toStdString()}) == 0; }

struct StatusLog {
  QStringList messages;
  explicit StatusLog(MainWindow& w) {
    QObject::connect(w.statusBar(), &QStatusBar::messageChanged, &w, [this](const QString& m) {
      if (!m.isEmpty()) messages << m;
    });
  }
};

std::string pageText(quorvel::IDocument& doc, int page) {
  std::string all;
  for (const quorvel::TextRun& r : doc.extract_text(page).runs) all += r.text + "\n";
  return all;
}

std::string allText(quorvel::IDocument& doc) {
  std::string all;
  for (int i = 0; i < doc.page_count(); ++i) all += pageText(doc, i);
  return all;
}

QString savePng(const TempDir& dir, const char* name, const QImage& image) {
  const QString path = QString::fromStdString(dir.file(name));
  return image.save(path, "PNG") ? path : QString();
}

ModalAnswerer::Answer enterInt(int v) {
  return [v](QWidget* w) {
    if (auto* d = qobject_cast<QInputDialog*>(w)) {
      d->setIntValue(v);
      d->accept();
    }
  };
}

QAction* fileEntry(MainWindow& w, const QString& text) {
  for (QAction* a : w.menuBar()->actions().at(0)->menu()->actions())
    if (a->text() == text) return a;
  return nullptr;
}

}  // namespace

class MainWindowEditToolsTest : public QObject {
  Q_OBJECT

  TempDir dir;
  QString twoLetter, fiveA4, words, threeMore, wide;

  QString out(const char* name) const { return QString::fromStdString(dir.file(name)); }

 private slots:
  void initTestCase() {
    QCoreApplication::setOrganizationName(QStringLiteral("Quorvel"));
    QCoreApplication::setApplicationName(QStringLiteral("PDF Dodiru Quorvel"));
    twoLetter = writeTestFile(dir, "two.pdf", text_pdf({"first", "second"}));
    std::vector<PageSpec> a4(5);
    for (PageSpec& p : a4) {
      p.width = 595;
      p.height = 842;
    }
    fiveA4 = writeTestFile(dir, "five.pdf", make_pdf(a4));
    words = writeTestFile(dir, "words.pdf", text_pdf({"alpha beta alpha", "alpha", "gamma"}));
    threeMore = writeTestFile(dir, "more.pdf", text_pdf({"m1", "m2", "m3"}));
    PageSpec landscape;
    landscape.width = 842;
    landscape.height = 595;
    wide = writeTestFile(dir, "wide.pdf", make_pdf({landscape}));
  }
  void init() { QSettings().clear(); }

  // Bottom right, 36 points in, 30 % of the page width, the picture's proportions kept; a
  // page outside the document is the first page.
  void signatureSitsBottomRight_data() {
    QTest::addColumn<int>("page0");
    QTest::addColumn<int>("placedOn");
    QTest::newRow("page 1") << 0 << 0;
    QTest::newRow("page 2") << 1 << 1;
    QTest::newRow("past the end") << 2 << 0;
    QTest::newRow("below the first") << -1 << 0;
  }
  void signatureSitsBottomRight() {
    QFETCH(int, page0);
    QFETCH(int, placedOn);
    QImage picture(400, 200, QImage::Format_ARGB32);
    picture.fill(Qt::black);
    const QString png = savePng(dir, "sig.png", picture);
    LangGuard ru(0);
    MainWindow w;
    WindowProbe p{w};
    w.openFile(twoLetter);
    const QString path = out("signed.pdf");
    StatusLog log(w);
    w.signWithImageTo(png, path, page0);
    QCOMPARE(log.messages.value(0), QStringLiteral("Подпись добавлена (стр. %1) → %2").arg(placedOn + 1).arg(path));
    QVERIFY(qpdfChecks(path));
    QCOMPARE(p.tabs()->count(), 2);
    quorvel::IDocument& doc = *w.currentView()->doc;
    QVERIFY(doc.list_images(1 - placedOn).empty());
    const auto images = doc.list_images(placedOn);
    QCOMPARE(images.size(), size_t{1});
    QVERIFY2(near(images[0].left, 392.4) && near(images[0].right, 576) && near(images[0].bottom, 36) &&
                 near(images[0].top, 127.8),
             qPrintable(QStringLiteral("%1 %2 %3 %4")
                            .arg(images[0].left)
                            .arg(images[0].bottom)
                            .arg(images[0].right)
                            .arg(images[0].top)));
  }

  // A translucent pixel keeps its colour apart from its alpha: 170 at alpha 110 over white
  // shows as 255 - 110 / 255 * (255 - 170), about 218 (premultiplied pixels would give 176).
  void translucentSignatureIsNotDarkened() {
    QImage pixel(1, 1, QImage::Format_ARGB32);
    pixel.setPixelColor(0, 0, QColor(170, 170, 170, 110));
    const QString png = savePng(dir, "pixel.png", pixel);
    MainWindow w;
    w.openFile(twoLetter);
    w.signWithImageTo(png, out("pixel.pdf"), 0);
    // The picture covers x 392.4 to 576 and y 36 to 219.6 of the 792-point page.
    const QImage page = w.currentView()->renderPageImage(0, 1.0);
    const int grey = qGray(page.pixel(484, 792 - 128));
    QVERIFY2(std::abs(grey - 218) <= 3, qPrintable(QString::number(grey)));
  }

  void signatureFailures() {
    LangGuard en(1);
    MainWindow w;
    WindowProbe p{w};
    w.openFile(twoLetter);
    const QString notAnImage = writeTestFile(dir, "note.png", "not a picture");
    w.signWithImageTo(notAnImage, out("s1.pdf"), 0);
    QCOMPARE(p.status(), QStringLiteral("Could not open the image"));
    QImage picture(10, 10, QImage::Format_ARGB32);
    picture.fill(Qt::blue);
    w.signWithImageTo(savePng(dir, "blue.png", picture), out("missing/s2.pdf"), 0);
    QCOMPARE(p.status(), QStringLiteral("Could not save the signed PDF"));
    // The picture stays in the open tab's document.
    QCOMPARE(w.currentView()->doc->list_images(0).size(), size_t{1});
    QCOMPARE(p.tabs()->count(), 1);
    QVERIFY(!QFileInfo::exists(out("s1.pdf")));
  }

  void replacementCountsObjects_data() {
    QTest::addColumn<QString>("find");
    QTest::addColumn<QString>("with");
    QTest::addColumn<int>("objects");
    QTest::addColumn<QString>("expected");
    QTest::newRow("twice in one object, once in another") << "alpha" << "delta" << 2 << "delta beta delta\ndelta\ngamma\n";
    QTest::newRow("deleted") << "beta " << "" << 1 << "alpha alpha\nalpha\ngamma\n";
    QTest::newRow("one page") << "gamma" << "delta" << 1 << "alpha beta alpha\nalpha\ndelta\n";
  }
  void replacementCountsObjects() {
    QFETCH(QString, find);
    QFETCH(QString, with);
    QFETCH(int, objects);
    QFETCH(QString, expected);
    LangGuard ru(0);
    MainWindow w;
    WindowProbe p{w};
    w.openFile(words);
    PdfView* original = w.currentView();
    const auto selectable = [original] {
      QString text;
      for (const PdfView::SelChar& c : original->pageChars(0)) text += c.text;
      return text;
    };
    QVERIFY(selectable().startsWith(QStringLiteral("alpha")));  // read once, so the view holds it
    const QString path = out("edited.pdf");
    StatusLog log(w);
    w.replaceTextTo(find, with, path);
    // The open tab selects the new text, not the characters it had read before.
    QVERIFY2(selectable().remove(QLatin1Char(' ')) == expected.section(QLatin1Char('\n'), 0, 0).remove(QLatin1Char(' ')),
             qPrintable(selectable()));
    QCOMPARE(log.messages.value(0), QStringLiteral("Заменено объектов: %1 → %2").arg(objects).arg(path));
    QVERIFY(qpdfChecks(path));
    QCOMPARE(p.tabs()->count(), 2);
    QCOMPARE(QString::fromStdString(allText(*w.currentView()->doc)), expected);
    QCOMPARE(QString::fromStdString(allText(*p.view(0)->doc)), expected);
  }

  void replacementOnAQtWrittenContract() {
    const QString contract = out("contract.pdf");
    QVERIFY(writeQtContract(contract));
    LangGuard ru(0);
    MainWindow w;
    WindowProbe p{w};
    w.openFile(contract);
    // The rows of poppler's picture that the word takes, as search finds it.
    const double height = w.currentView()->doc->page_info(0).height;
    int top = 1 << 30, bottom = -1;
    for (const auto& hit : quorvel::search::search_document(*w.currentView()->doc, "Ромашка",
                                                            quorvel::search::Options{true, false, false}, 10)) {
      top = std::min(top, static_cast<int>(height - hit.top) - 2);
      bottom = std::max(bottom, static_cast<int>(height - hit.bottom) + 2);
    }
    QVERIFY(bottom >= 0);
    // Letters the embedded subset lacks: found, and the letters and the page named.
    w.replaceTextTo(QStringLiteral("Ромашка"), QStringLiteral("Zebra"), out("never.pdf"));
    QCOMPARE(p.status(), QStringLiteral("Текст найден, но заменить его не удалось: «Ромашка» — оставлено: 2 (стр. 1); "
                                        "на стр. 1 нет глифов для: «Z», «b»"));
    QVERIFY(!QFileInfo::exists(out("never.pdf")));

    const QString path = out("renamed.pdf");
    StatusLog log(w);
    w.replaceTextTo(QStringLiteral("Ромашка"), QStringLiteral("Ромашки"), path);
    QVERIFY2(log.messages.value(0).startsWith(QStringLiteral("Заменено объектов: ")), qPrintable(p.status()));
    const std::string text = pageText(*p.view(1)->doc, 0);
    QVERIFY(text.find("Ромашка") == std::string::npos);
    QVERIFY2(text.find("Ромашки") != std::string::npos, text.c_str());
    QVERIFY(text.find("40702810900000012345") != std::string::npos);
    TempDir scratch;
    QCOMPARE(differingRows(popplerPage(contract, scratch), popplerPage(path, scratch), top, bottom), 0);
  }

  void replacementSaysWhatWasLeft() {
    // A replacement some 330 points wide: the first "alpha" of page 1 takes its line's free
    // end, and the second has no room left even in the margin; the one of page 2 is replaced,
    // and the copy with both is written.
    LangGuard ru(0);
    MainWindow w;
    WindowProbe p{w};
    w.openFile(words);
    const QString path = out("partly.pdf");
    StatusLog log(w);
    const QString wide = QStringLiteral("omega").repeated(9);
    w.replaceTextTo(QStringLiteral("alpha"), wide, path);
    QCOMPARE(log.messages.value(0), QStringLiteral("Заменено не всё: заменено 2, оставлено: 1 (стр. 1); "
                                        "на стр. 1 замена не помещается в строке → %1").arg(path));
    QCOMPARE(p.tabs()->count(), 2);
    QCOMPARE(QString::fromStdString(allText(*w.currentView()->doc)),
             QStringLiteral("%1 beta alpha\n%1\ngamma\n").arg(wide));
  }

  void replacementReachesAnnotationAppearances() {
    // Search reads no annotation, yet a note's appearance shows the text: it is replaced, and
    // the field's, which its value draws again, is reported as left.
    auto stream = [](const std::string& data, const std::string& dict) {
      return "<< " + dict + " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream";
    };
    const std::string helv = "<< /Font << /Helv 4 0 R >> >>";
    const std::string look = "BT /Helv 12 Tf 2 6 Td (Call the office) Tj ET";
    const std::string form = "/Type /XObject /Subtype /Form /BBox [0 0 300 24] /Resources " + helv;
    const QString notes = writeTestFile(
        dir, "notes.pdf",
        build_pdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                   "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources " + helv +
                       " /Contents 5 0 R /Annots [6 0 R 8 0 R] >>",
                   "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
                   stream("BT /Helv 12 Tf 72 700 Td (Nothing here) Tj ET", ""),
                   "<< /Type /Annot /Subtype /FreeText /Rect [72 600 372 624] /Contents (Call the office) "
                   "/DA (/Helv 12 Tf) /AP << /N 7 0 R >> >>",
                   stream(look, form),
                   "<< /Type /Annot /Subtype /Widget /FT /Tx /T (f) /V (Call the office) /Rect [72 500 372 524] "
                   "/DA (/Helv 12 Tf 0 g) /AP << /N 9 0 R >> >>",
                   stream(look, form)}));
    LangGuard ru(0);
    MainWindow w;
    w.openFile(notes);
    const QString path = out("notes-edited.pdf");
    StatusLog log(w);
    w.replaceTextTo(QStringLiteral("office"), QStringLiteral("desk"), path);
    QCOMPARE(log.messages.value(0), QStringLiteral("Заменено не всё: заменено 1, оставлено: 1 (стр. 1); "
                                                   "на стр. 1 текст в полях формы → %1").arg(path));
    QVERIFY(QFileInfo::exists(path));
  }

  void replacementNotFoundSavesNothing() {
    LangGuard ru(0);
    MainWindow w;
    WindowProbe p{w};
    w.openFile(words);
    w.replaceTextTo(QStringLiteral("zeta"), QStringLiteral("eta"), out("never.pdf"));
    QCOMPARE(p.status(), QStringLiteral("Текст не найден: «zeta»"));
    w.replaceTextTo(QStringLiteral("alpha"), QStringLiteral("x"), out("missing/r.pdf"));
    QCOMPARE(p.status(), QStringLiteral("Не удалось сохранить результат"));
    QVERIFY(!QFileInfo::exists(out("never.pdf")));
    QCOMPARE(p.tabs()->count(), 1);
  }

  void nUpSheets() {
    LangGuard ru(0);
    MainWindow w;
    WindowProbe p{w};
    w.openFile(fiveA4);
    const QString path = out("nup.pdf");
    StatusLog log(w);
    w.nUpTo(2, 2, path);
    QCOMPARE(log.messages.value(0), QStringLiteral("N-up 2×2 → %1").arg(path));
    QVERIFY(qpdfChecks(path));
    QCOMPARE(p.tabs()->count(), 2);
    PdfView* sheets = w.currentView();
    QCOMPARE(sheets->pageCount(), 2);
    for (int i = 0; i < 2; ++i) {
      QCOMPARE(sheets->doc->page_info(i).width, 595.0);
      QCOMPARE(sheets->doc->page_info(i).height, 842.0);
    }
    QCOMPARE(p.view(0)->pageCount(), 5);  // the open document is not changed

    const int tabs = p.tabs()->count();
    w.nUpTo(0, 2, out("zero.pdf"));
    w.nUpTo(2, 2, QString());
    QCOMPARE(p.tabs()->count(), tabs);
    QVERIFY(!QFileInfo::exists(out("zero.pdf")));
    w.nUpTo(2, 2, out("missing/nup.pdf"));
    QCOMPARE(p.status(), QStringLiteral("Не удалось сделать N-up"));
  }

  // The other file's pages show at once in the view and the thumbnails; nothing is written.
  void mergeShowsPagesAtOnce() {
    MainWindow w;
    w.resize(1200, 900);
    w.show();
    WindowProbe p{w};
    w.openFile(twoLetter);
    const std::string before = read_file(twoLetter.toStdString());
    auto* panel = w.findChild<quorvel::desktop::ThumbnailPanel*>();
    QTRY_COMPARE(panel->count(), 2);
    w.mergeWith(threeMore);
    QCOMPARE(p.status(), QStringLiteral("Объединено с: %1").arg(threeMore));
    QCOMPARE(w.currentView()->pageCount(), 5);
    QCOMPARE(panel->count(), 5);
    QCOMPARE(p.tabs()->count(), 1);
    QVERIFY(pageText(*w.currentView()->doc, 4).find("m3") != std::string::npos);
    QCOMPARE(read_file(twoLetter.toStdString()), before);
  }

  void mergeFailures() {
    LangGuard en(1);
    MainWindow w;
    WindowProbe p{w};
    w.openFile(twoLetter);
    // A file that cannot be read changes nothing, and says so like any other failed merge.
    w.mergeWith(out("no-such.pdf"));
    QCOMPARE(p.status(), QStringLiteral("Could not merge: %1").arg(out("no-such.pdf")));
    const QString junk = writeTestFile(dir, "junk.pdf", "not a pdf at all");
    w.mergeWith(junk);
    QCOMPARE(p.status(), QStringLiteral("Could not merge: %1").arg(junk));
    QCOMPARE(w.currentView()->pageCount(), 2);
  }

  // Files named .pdf in any case, in path order; a result written into the folder is not
  // taken in again by the next run.
  void folderMergeInPathOrder() {
    TempDir folder;
    write_file(folder.file("b.PDF"), text_pdf({"bee"}));
    write_file(folder.file("a.pdf"), text_pdf({"ay", "ay two"}));
    write_file(folder.file("C.pdf"), text_pdf({"cee"}));
    write_file(folder.file("notes.txt"), "skip");
    const QString folderPath = QString::fromStdString(folder.path());
    const QString merged = QString::fromStdString(folder.file("merged.pdf"));
    for (int run = 0; run < 2; ++run) {
      LangGuard ru(0);
      MainWindow w;
      WindowProbe p{w};
      StatusLog log(w);
      QString proposed;
      // The second time the save dialog asks about replacing the earlier result; its question
      // runs inside the dialog's accept, so it is answered from a timer of its own.
      ModalAnswerer::Answer save = chooseFile(merged, &proposed);
      if (run == 1)
        save = [save](QWidget* d) {
          QTimer::singleShot(0, [] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
              box->button(QMessageBox::Yes)->click();
          });
          save(d);
        };
      ModalAnswerer answers({chooseFile(folderPath), save});
      w.mergeFolderDialog();
      QCOMPARE(answers.unexpected, 0);
      QCOMPARE(answers.seen.value(0).title, QStringLiteral("Папка с PDF для объединения"));
      QCOMPARE(answers.seen.value(1).title, QStringLiteral("Сохранить объединённый PDF"));
      QCOMPARE(proposed, QStringLiteral("merged.pdf"));
      QCOMPARE(log.messages.value(0), QStringLiteral("Папка объединена → %1").arg(merged));
      QVERIFY(qpdfChecks(merged));
      QCOMPARE(p.tabs()->count(), 1);
      quorvel::IDocument& doc = *w.currentView()->doc;
      QCOMPARE(doc.page_count(), 4);
      const std::string text = allText(doc);
      const size_t c = text.find("cee"), a = text.find("ay two"), b = text.find("bee");
      QVERIFY2(c < a && a < b && b != std::string::npos, text.c_str());
    }
    TempDir empty;
    write_file(empty.file("readme.txt"), "no pdf here");
    MainWindow w;
    WindowProbe p{w};
    ModalAnswerer answers({chooseFile(QString::fromStdString(empty.path())),
                           chooseFile(QString::fromStdString(empty.file("m.pdf")))});
    w.mergeFolderDialog();
    QCOMPARE(p.status(), QStringLiteral("Не удалось объединить папку"));
    QCOMPARE(p.tabs()->count(), 0);
  }

  // A damaged first file and a file whose tree holds no page are left out; the result is
  // written from the rest, opened, and the status counts what was left out.
  void folderMergeSaysWhatItLeftOut() {
    LangGuard ru(0);
    TempDir folder;
    write_file(folder.file("0-damaged.pdf"), "%PDF-1.4 broken");
    write_file(folder.file("1.pdf"), text_pdf({"one"}));
    write_file(folder.file("2.pdf"), tree_pdf("/Count 0"));
    write_file(folder.file("3.pdf"), text_pdf({"three"}));
    const QString merged = QString::fromStdString(folder.file("out.pdf"));
    MainWindow w;
    WindowProbe p{w};
    StatusLog log(w);
    ModalAnswerer answers({chooseFile(QString::fromStdString(folder.path())), chooseFile(merged)});
    w.mergeFolderDialog();
    QCOMPARE(log.messages.value(0), QStringLiteral("Папка объединена → %1 (пропущено файлов: 2)").arg(merged));
    QCOMPARE(p.tabs()->count(), 1);
    QCOMPARE(w.currentView()->doc->page_count(), 2);
  }

  // Each entry asks its first question; without a document only the folder merge asks at all.
  void fileMenuEntriesAsk_data() {
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("label");
    QTest::addColumn<bool>("needsDocument");
    QTest::newRow("sign") << "Sign (insert image)…" << "Choose signature image" << "" << true;
    QTest::newRow("replace") << "Replace text…" << "Replace text" << "Find:" << true;
    QTest::newRow("watermark") << "Watermark…" << "Watermark" << "Text:" << true;
    QTest::newRow("bates") << "Bates numbering…" << "Bates numbering" << "Prefix:" << true;
    QTest::newRow("merge with") << "Merge with PDF…" << "Merge with PDF" << "" << true;
    QTest::newRow("merge folder") << "Merge PDF folder…" << "Folder of PDFs to merge" << "" << false;
    QTest::newRow("N-up") << "N-up (pages per sheet)…" << "N-up" << "Columns per sheet:" << true;
  }
  void fileMenuEntriesAsk() {
    QFETCH(QString, entry);
    QFETCH(QString, title);
    QFETCH(QString, label);
    QFETCH(bool, needsDocument);
    LangGuard en(1);
    MainWindow w;
    QAction* a = fileEntry(w, entry);
    QVERIFY(a);
    QVERIFY(a->isEnabled());
    {
      ModalAnswerer none({});
      a->trigger();
      QCOMPARE(none.seen.size(), needsDocument ? 0 : 1);
    }
    w.openFile(twoLetter);
    ModalAnswerer answers({rejectDialog()});
    a->trigger();
    QCOMPARE(answers.seen.size(), 1);
    QCOMPARE(answers.seen[0].title, title);
    if (!label.isEmpty()) QCOMPARE(answers.seen[0].text, label);
  }

  // The wrappers' defaults and what they hand to their workers.
  void dialogsRunTheirWorkers() {
    LangGuard ru(0);
    MainWindow w;
    WindowProbe p{w};
    w.openFile(twoLetter);
    QString watermarkName, batesName, nupName;
    QString shownText;
    {
      ModalAnswerer answers({[&shownText](QWidget* d) {
                               auto* in = qobject_cast<QInputDialog*>(d);
                               shownText = in->textValue();
                               in->accept();
                             },
                             chooseFile(out("wm.pdf"), &watermarkName)});
      w.watermarkDialog();
      QCOMPARE(answers.unexpected, 0);
    }
    QCOMPARE(shownText, QStringLiteral("КОПИЯ"));
    QCOMPARE(watermarkName, QStringLiteral("watermarked.pdf"));
    QCOMPARE(w.currentView()->doc->list_images(0).size(), size_t{1});

    w.openFile(twoLetter);
    {
      // An empty prefix is accepted; numbers start where the second question says.
      ModalAnswerer answers({typePassword(QString()), enterInt(41), chooseFile(out("bt.pdf"), &batesName)});
      w.batesDialog();
      QCOMPARE(answers.unexpected, 0);
    }
    QCOMPARE(batesName, QStringLiteral("bates.pdf"));
    QVERIFY(pageText(*w.currentView()->doc, 1).find("000042") != std::string::npos);

    w.openFile(fiveA4);
    {
      ModalAnswerer answers({enterInt(3), enterInt(1), chooseFile(out("n3.pdf"), &nupName)});
      w.nUpDialog();
      QCOMPARE(answers.unexpected, 0);
    }
    QCOMPARE(nupName, QStringLiteral("nup.pdf"));
    QCOMPARE(w.currentView()->pageCount(), 2);

    // A cancelled question ends the command without a message.
    const int tabs = p.tabs()->count();
    const QString before = p.status();
    {
      ModalAnswerer answers({rejectDialog()});
      w.replaceTextDialog();
    }
    {
      ModalAnswerer answers({typePassword(QString())});
      w.watermarkDialog();
    }
    QCOMPARE(p.tabs()->count(), tabs);
    QCOMPARE(p.status(), before);
  }
};

QTEST_MAIN(MainWindowEditToolsTest)
#include "test_mainwindow_edit_tools.moc"
