// Opening files into tabs as the user meets it: the threat check and its boxes, the password
// prompts, files that cannot be read, the same file twice, drops, and file text shown as text.
#include <QCryptographicHash>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QInputDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QSettings>
#include <QTreeWidget>
#include <QtTest>

#include <optional>

#include "desktop/window/OpenPrefetch.h"
#include "desktop/window/lang.h"
#include "test_mainwindow_support.h"

using quorvel::desktop::MainWindow;
using quorvel::desktop::PdfView;
using namespace quorvel::test;
using Answers = std::deque<ModalAnswerer::Answer>;

namespace {

// A tab's title as the tab bar shows it: "&&" is an "&", a lone "&" marks the shortcut letter
// and is not drawn.
QString shownTabText(const QTabWidget* tabs, int index) {
  const QString raw = tabs->tabText(index);
  QString shown;
  for (qsizetype i = 0; i < raw.size(); ++i) {
    if (raw.at(i) == QLatin1Char('&')) {
      if (i + 1 < raw.size() && raw.at(i + 1) == QLatin1Char('&')) shown += raw.at(++i);
      continue;
    }
    shown += raw.at(i);
  }
  return shown;
}

ModalAnswerer::Answer pressEscape() {
  return [](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); };
}

ModalAnswerer::Answer closeWindow() {
  return [](QWidget* w) { w->close(); };
}

// Checks the box it answers, then presses `which`.
ModalAnswerer::Answer checkDangerousBoxThen(QMessageBox::StandardButton which) {
  return [which](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    QVERIFY(box);
    QCOMPARE(box->icon(), QMessageBox::Warning);
    QCOMPARE(box->standardButtons(), QMessageBox::Open | QMessageBox::Cancel);
    QCOMPARE(static_cast<QAbstractButton*>(box->defaultButton()), box->button(QMessageBox::Cancel));
    box->button(which)->click();
  };
}

}  // namespace

class OpenTest : public QObject {
  Q_OBJECT

  TempDir dir;
  QString clean, suspicious, dangerous, encrypted, damaged, empty, outlined, htmlDetail, manyFindings;
  const QString password = QStringLiteral("Пароль-1");

 private slots:
  void initTestCase() {
    QCoreApplication::setOrganizationName(QStringLiteral("Quorvel"));
    QCoreApplication::setApplicationName(QStringLiteral("PDF Dodiru Quorvel"));
    clean = writeTestFile(dir, "clean.pdf", text_pdf({"first", "second"}));
    suspicious = writeTestFile(dir, "suspicious.pdf", pdfWithPageEntries("/X << /Type /XFA >>"));
    dangerous = writeTestFile(dir, "dangerous.pdf", pdfWithPageEntries("/AA << /O << /S /JavaScript /JS (app.alert\\(1\\)) >> >>"));
    encrypted = writeTestFile(dir, "enc.pdf", qpdf_encrypt(text_pdf({"secret page"}), password.toStdString(), "owner-pw"));
    damaged = writeTestFile(dir, "damaged.pdf", "%PDF-1.7\n1 0 obj << /Type /Catalog >> garbage\n");
    empty = writeTestFile(dir, "empty.pdf", "");
    outlined = writeTestFile(dir, "outlined.pdf", withOutline(text_pdf({"a", "b"}), "Глава"));
    htmlDetail = writeTestFile(
        dir, "link.pdf",
        pdfWithPageEntries("/A << /S /URI /URI (javascript:<b>bold</b><a href=\"http://x.test\">link</a>) >>"));
    std::string js;
    for (int i = 0; i < 60; ++i) js += "/JS ";
    manyFindings = writeTestFile(dir, "many.pdf", pdfWithPageEntries("/Z [" + js + "]"));
    QVERIFY(!encrypted.isEmpty());
  }

  void init() {
    QSettings().clear();
    quorvel::desktop::g_lang = 0;
  }

  void cleanFileOpensWithoutABox() {
    MainWindow w;
    WindowProbe p{w};
    ModalAnswerer answers({});
    w.openFile(clean);
    QCOMPARE(answers.seen.size(), 0);
    QCOMPARE(p.tabs()->count(), 1);
    QCOMPARE(shownTabText(p.tabs(), 0), QStringLiteral("clean.pdf"));
    QCOMPARE(p.tabs()->tabToolTip(0), clean);
    QCOMPARE(p.status(), QStringLiteral("Открыт clean.pdf — безопасность: Чисто"));
    PdfView* v = p.view(0);
    QCOMPARE(w.currentView(), v);
    QCOMPARE(v->pageCount(), 2);
    const QByteArray bytes = [&] {
      QFile f(clean);
      f.open(QIODevice::ReadOnly);
      return f.readAll();
    }();
    QCOMPARE(v->docHash, QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex()));
  }

  void englishStatusWords() {
    quorvel::desktop::g_lang = 1;
    MainWindow w;
    WindowProbe p{w};
    w.openFile(clean);
    QCOMPARE(p.status(), QStringLiteral("Opened clean.pdf — security: Clean"));
    ModalAnswerer answers({pressButton(QMessageBox::Cancel)});
    w.openFile(dangerous);
    QCOMPARE(answers.seen.at(0).text, QStringLiteral("«dangerous.pdf»: DANGEROUS"));
    QCOMPARE(p.status(), QStringLiteral("Open cancelled: dangerous.pdf"));
  }

  void suspiciousFileOpensHoweverTheBoxCloses_data() {
    QTest::addColumn<int>("how");
    QTest::newRow("OK") << 0;
    QTest::newRow("Esc") << 1;
    QTest::newRow("close button") << 2;
  }
  void suspiciousFileOpensHoweverTheBoxCloses() {
    QFETCH(int, how);
    MainWindow w;
    WindowProbe p{w};
    const ModalAnswerer::Answer close[] = {pressButton(QMessageBox::Ok), pressEscape(), closeWindow()};
    ModalAnswerer answers({close[how]});
    w.openFile(suspicious);
    QCOMPARE(answers.seen.size(), 1);
    QCOMPARE(answers.seen[0].title, QStringLiteral("Проверка безопасности"));
    QCOMPARE(answers.seen[0].text, QStringLiteral("«suspicious.pdf»: Подозрительно"));
    QCOMPARE(answers.seen[0].informative, QStringLiteral("• XFA-форма"));
    QCOMPARE(p.tabs()->count(), 1);
    QCOMPARE(p.status(), QStringLiteral("Открыт suspicious.pdf — безопасность: Подозрительно"));
  }

  void dangerousFileNeedsOpen_data() {
    QTest::addColumn<bool>("open");
    QTest::newRow("Cancel") << false;
    QTest::newRow("Open") << true;
  }
  void dangerousFileNeedsOpen() {
    QFETCH(bool, open);
    MainWindow w;
    WindowProbe p{w};
    ModalAnswerer answers({checkDangerousBoxThen(open ? QMessageBox::Open : QMessageBox::Cancel)});
    w.openFile(dangerous);
    QCOMPARE(answers.seen.size(), 1);
    QCOMPARE(answers.seen[0].text, QStringLiteral("«dangerous.pdf»: ОПАСНО"));
    QCOMPARE(answers.seen[0].informative,
             QStringLiteral("• дополнительное авто-действие\n• встроенный JavaScript\n• встроенный JavaScript"));
    QCOMPARE(p.tabs()->count(), open ? 1 : 0);
    QCOMPARE(p.status(), open ? QStringLiteral("Открыт dangerous.pdf — безопасность: ОПАСНО")
                              : QStringLiteral("Открытие отменено: dangerous.pdf"));
  }

  void escOnADangerousBoxCancels() {
    MainWindow w;
    WindowProbe p{w};
    ModalAnswerer answers({pressEscape()});
    w.openFile(dangerous);
    QCOMPARE(answers.seen.size(), 1);
    QCOMPARE(p.tabs()->count(), 0);
  }

  // Markup in a link's text is the file's text: it is shown as typed, and its link is not live.
  void findingDetailIsShownLiterally() {
    MainWindow w;
    ModalAnswerer answers({pressButton(QMessageBox::Ok)});
    w.openFile(htmlDetail);
    QCOMPARE(answers.seen.size(), 1);
    QCOMPARE(answers.seen[0].informative,
             QStringLiteral("• подозрительная ссылка — javascript:<b>bold</b><a href=\"http://x.test\">link</a>"));
  }

  void manyFindingsAreCapped() {
    MainWindow w;
    ModalAnswerer answers({pressButton(QMessageBox::Cancel)});
    w.openFile(manyFindings);
    QCOMPARE(answers.seen.size(), 1);
    const QStringList lines = answers.seen[0].informative.split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 51);
    QCOMPARE(lines.first(), QStringLiteral("• встроенный JavaScript"));
    QCOMPARE(lines.last(), QStringLiteral("…и ещё 10"));
  }

  // A check that could not finish proves nothing: it asks like a dangerous file, in its words.
  void failedCheckAsksLikeDanger_data() {
    QTest::addColumn<bool>("open");
    QTest::newRow("Cancel") << false;
    QTest::newRow("Open") << true;
  }
  void failedCheckAsksLikeDanger() {
    QFETCH(bool, open);
    QWidget parent;
    quorvel::security::ThreatReport report;
    report.failed = true;
    report.verdict = quorvel::security::Verdict::Dangerous;
    QString word;
    ModalAnswerer answers({checkDangerousBoxThen(open ? QMessageBox::Open : QMessageBox::Cancel)});
    QCOMPARE(MainWindow::confirmThreats(&parent, QStringLiteral("x.pdf"), report, &word), open);
    QCOMPARE(answers.seen.size(), 1);
    QCOMPARE(answers.seen[0].text, QStringLiteral("«x.pdf»: Проверка не завершена"));
    QCOMPARE(word, QStringLiteral("Проверка не завершена"));

    quorvel::desktop::g_lang = 1;
    QString en;
    ModalAnswerer again({pressButton(QMessageBox::Cancel)});
    MainWindow::confirmThreats(&parent, QStringLiteral("x.pdf"), report, &en);
    QCOMPARE(en, QStringLiteral("The check could not be completed"));
  }

  // Encryption alone is no threat: no box, and the stored password opens it without a prompt.
  void storedPasswordOpensWithoutAnyDialog() {
    MainWindow w;
    WindowProbe p{w};
    w.setOpenPassword(password);
    ModalAnswerer answers({});
    w.openFile(encrypted);
    QCOMPARE(answers.seen.size(), 0);
    QCOMPARE(p.tabs()->count(), 1);
    QCOMPARE(p.status(), QStringLiteral("Открыт enc.pdf — безопасность: Чисто"));
    // Tried first again by the next open.
    w.openFile(encrypted);
    QCOMPARE(answers.seen.size(), 0);
    QCOMPARE(p.tabs()->count(), 2);
  }

  // A script that only an encrypted object stream holds is found once the password is known,
  // and asked about before the document is shown.
  void lockedScriptIsCheckedAfterThePassword_data() {
    QTest::addColumn<bool>("open");
    QTest::newRow("Cancel") << false;
    QTest::newRow("Open") << true;
  }
  void lockedScriptIsCheckedAfterThePassword() {
    QFETCH(bool, open);
    TempDir work;
    write_file(work.file("in.pdf"), pdfWithPageEntries("/AA << /O << /S /JavaScript /JS (app.alert\\(1\\)) >> >>"));
    QCOMPARE(run_program({"qpdf", "--object-streams=generate", "--encrypt", password.toStdString(), "o", "256", "--",
                          work.file("in.pdf"), work.file("locked.pdf")}),
             0);
    QVERIFY(read_file(work.file("locked.pdf")).find("JavaScript") == std::string::npos);
    MainWindow w;
    WindowProbe p{w};
    ModalAnswerer answers({[this](QWidget* d) {
                             auto* in = qobject_cast<QInputDialog*>(d);
                             QVERIFY(in);
                             in->setTextValue(password);
                             in->accept();
                           },
                           checkDangerousBoxThen(open ? QMessageBox::Open : QMessageBox::Cancel)});
    w.openFile(QString::fromStdString(work.file("locked.pdf")));
    QCOMPARE(answers.seen.size(), 2);
    QCOMPARE(answers.seen[1].text, QStringLiteral("«locked.pdf»: ОПАСНО"));
    QVERIFY(answers.seen[1].informative.contains(QStringLiteral("• встроенный JavaScript")));
    QCOMPARE(p.tabs()->count(), open ? 1 : 0);
    QCOMPARE(p.status(), open ? QStringLiteral("Открыт locked.pdf — безопасность: ОПАСНО")
                              : QStringLiteral("Открытие отменено: locked.pdf"));
  }

  void passwordPrompts_data() {
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QStringList>("typed");  // "<cancel>" rejects the prompt
    QTest::addColumn<int>("prompts");
    QTest::addColumn<bool>("opened");
    QTest::addColumn<QString>("status");
    const QString pw = QStringLiteral("Пароль-1");
    QTest::newRow("first prompt right") << "" << QStringList{pw} << 1 << true
                                        << "Открыт enc.pdf — безопасность: Чисто";
    QTest::newRow("third prompt right") << "" << QStringList{"a", "b", pw} << 3 << true
                                        << "Открыт enc.pdf — безопасность: Чисто";
    QTest::newRow("three wrong") << "" << QStringList{"a", "", "c"} << 3 << false << "Неверный пароль: enc.pdf";
    QTest::newRow("wrong stored, two prompts") << "nope" << QStringList{"a", "b"} << 2 << false
                                               << "Неверный пароль: enc.pdf";
    QTest::newRow("wrong stored, then right") << "nope" << QStringList{pw} << 1 << true
                                              << "Открыт enc.pdf — безопасность: Чисто";
    QTest::newRow("cancel") << "" << QStringList{"<cancel>"} << 1 << false << "Открытие отменено: enc.pdf";
    QTest::newRow("cancel second") << "" << QStringList{"x", "<cancel>"} << 2 << false
                                   << "Открытие отменено: enc.pdf";
  }
  void passwordPrompts() {
    QFETCH(QString, stored);
    QFETCH(QStringList, typed);
    QFETCH(int, prompts);
    QFETCH(bool, opened);
    QFETCH(QString, status);
    MainWindow w;
    WindowProbe p{w};
    if (!stored.isEmpty()) w.setOpenPassword(stored);
    Answers script;
    for (const QString& t : typed)
      script.push_back(t == QStringLiteral("<cancel>") ? rejectDialog() : [t](QWidget* d) {
        auto* in = qobject_cast<QInputDialog*>(d);
        QVERIFY(in);
        QCOMPARE(in->textEchoMode(), QLineEdit::Password);
        QCOMPARE(in->textValue(), QString());
        in->setTextValue(t);
        in->accept();
      });
    ModalAnswerer answers(std::move(script));
    w.openFile(encrypted);
    QCOMPARE(answers.seen.size(), prompts);
    QCOMPARE(answers.unexpected, 0);
    for (const auto& s : answers.seen) {
      QCOMPARE(s.title, QStringLiteral("Защищённый документ"));
      QCOMPARE(s.text, QStringLiteral("«enc.pdf» зашифрован. Введите пароль:"));
    }
    QCOMPARE(p.tabs()->count(), opened ? 1 : 0);
    QCOMPARE(p.status(), status);
  }

  void englishPromptTitle() {
    quorvel::desktop::g_lang = 1;
    MainWindow w;
    ModalAnswerer answers({rejectDialog()});
    w.openFile(encrypted);
    QCOMPARE(answers.seen.at(0).title, QStringLiteral("Protected document"));
    QCOMPARE(answers.seen.at(0).text, QStringLiteral("«enc.pdf» зашифрован. Введите пароль:"));
    QCOMPARE(WindowProbe{w}.status(), QStringLiteral("Открытие отменено: enc.pdf"));
  }

  // A file name is text from the disk: it reaches the prompt, the tab and its tooltip as typed.
  void fileNameMarkupIsShownAsText() {
    const QString name = QStringLiteral("<b>x&amp;y<i> Tom & Jerry&&.pdf");
    TempDir odd;
    const QString path = writeTestFile(odd, name, qpdf_encrypt(text_pdf({"p"}), password.toStdString(), "o"));
    MainWindow w;
    WindowProbe p{w};
    ModalAnswerer answers({typePassword(password)});
    w.openFile(path);
    QCOMPARE(answers.seen.size(), 1);
    QCOMPARE(answers.seen[0].text, QStringLiteral("«%1» зашифрован. Введите пароль:").arg(name));
    QCOMPARE(shownTabText(p.tabs(), 0), name);
    QTextDocument tip;
    tip.setHtml(p.tabs()->tabToolTip(0));
    QCOMPARE(tip.toPlainText(), path);
    QCOMPARE(p.status(), QStringLiteral("Открыт %1 — безопасность: Чисто").arg(name));
  }

  void unreadableFiles_data() {
    QTest::addColumn<QString>("which");
    QTest::addColumn<QString>("status");  // %1: the path as given
    QTest::newRow("missing") << "nope.pdf" << "Не удалось открыть файл: %1";
    QTest::newRow("folder") << "" << "Не удалось открыть файл: %1";
    QTest::newRow("damaged") << "damaged.pdf" << "Не удалось разобрать документ: damaged.pdf";
    QTest::newRow("empty") << "empty.pdf" << "Не удалось разобрать документ: empty.pdf";
  }
  void unreadableFiles() {
    QFETCH(QString, which);
    QFETCH(QString, status);
    quorvel::desktop::g_lang = 1;  // these stay Russian in the English interface
    const QString path = QString::fromStdString(dir.path()) + (which.isEmpty() ? QString() : "/" + which);
    MainWindow w;
    WindowProbe p{w};
    ModalAnswerer answers({});
    w.openFile(path);
    QCOMPARE(answers.seen.size(), 0);
    QCOMPARE(p.tabs()->count(), 0);
    QCOMPARE(p.stack()->currentIndex(), 0);
    QCOMPARE(p.status(), status.contains(QStringLiteral("%1")) ? status.arg(path) : status);
  }

  // A file whose page tree holds no page opens, and the status says so instead of the verdict;
  // AES-256 whose sealed permissions PDFium refuses opens with the empty password, unasked.
  void documentsWithoutAReadablePageSaySo_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("status");
    QTest::newRow("no kids") << "no-kids.pdf" << QByteArray::fromStdString(tree_pdf("/Count 0"))
                             << "Открыт no-kids.pdf — в документе нет читаемых страниц";
    QTest::newRow("nulls") << "nulls.pdf" << QByteArray::fromStdString(tree_pdf("/Kids [null] /Count 1"))
                           << "Открыт nulls.pdf — в документе нет читаемых страниц";
    QTest::newRow("sealed")
        << "sealed.pdf"
        << QByteArray::fromStdString(permissions_disagree(qpdf_encrypt(text_pdf({"p"}), "", "owner")))
        << "Открыт sealed.pdf — безопасность: Чисто";
  }
  void documentsWithoutAReadablePageSaySo() {
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, status);
    QVERIFY(!bytes.isEmpty());
    const QString path = writeTestFile(dir, name, bytes.toStdString());
    MainWindow w;
    WindowProbe p{w};
    ModalAnswerer answers({});
    w.openFile(path);
    QCOMPARE(answers.seen.size(), 0);
    QCOMPARE(p.tabs()->count(), 1);
    QCOMPARE(p.status(), status);
  }

  // The engine takes at most an int of bytes: a bigger file is refused before anything reads
  // it whole into memory (a sparse file, so the test writes nothing of its size).
  void fileBeyondTheEnginesSizeIsNotRead() {
    const QString path = QString::fromStdString(dir.path()) + QStringLiteral("/huge.pdf");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    if (!f.resize(qint64(1) << 40)) QSKIP("this file system holds no sparse file of 1 TiB");
    f.close();
    MainWindow w;
    WindowProbe p{w};
    ModalAnswerer answers({});
    w.openFile(path);
    QFile::remove(path);
    QCOMPARE(answers.seen.size(), 0);
    QCOMPARE(p.tabs()->count(), 0);
    QCOMPARE(p.status(), QStringLiteral("Не удалось разобрать документ: huge.pdf"));
  }

  void sameFileTwiceSharesItsAnnotations() {
    MainWindow w;
    WindowProbe p{w};
    w.openFile(clean);
    quorvel::annot::Annotation a;
    a.id = "note-1";
    a.page = 1;
    a.type = quorvel::annot::AnnotType::Note;
    a.x0 = 10;
    a.y0 = 10;
    a.x1 = 30;
    a.y1 = 30;
    a.text = "Заметка";
    p.view(0)->addAnnotation(a);
    w.openFile(clean);
    QCOMPARE(p.tabs()->count(), 2);
    QCOMPARE(p.view(1)->docHash, p.view(0)->docHash);
    QCOMPARE(p.view(1)->annotations.size(), size_t(1));
    QCOMPARE(p.view(1)->annotations[0].id, std::string("note-1"));
    QCOMPARE(p.tabs()->currentIndex(), 1);
  }

  void outlineOrThumbnailsRaised() {
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    WindowProbe p{w};
    auto raised = [](QDockWidget* d) { return d->isVisible() && !d->visibleRegion().isEmpty(); };
    w.openFile(outlined);
    QTRY_VERIFY(raised(p.dock("outlineDock")));
    QVERIFY(!raised(p.dock("thumbDock")));
    // The tree is filled once the page is on the screen.
    auto* outline = w.findChild<QTreeWidget*>(QStringLiteral("outlinePanel"));
    QTRY_COMPARE(outline->topLevelItemCount(), 1);
    QVERIFY(outline->topLevelItem(0)->flags() != Qt::NoItemFlags);  // a bookmark, not the placeholder
    w.openFile(clean);
    QTRY_VERIFY(raised(p.dock("thumbDock")));
    QVERIFY(!raised(p.dock("outlineDock")));
  }

  // The file named on the command line is read and checked while the window starts; its open
  // then asks and opens exactly as for a file read at that moment.
  void fileReadAheadOpensAsRead_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("answer");  // the button pressed in the box, when one shows
    QTest::addColumn<int>("boxes");
    QTest::addColumn<int>("pages");   // 0: nothing opened
    QTest::newRow("clean") << clean << int(QMessageBox::NoButton) << 0 << 2;
    QTest::newRow("dangerous, cancelled") << dangerous << int(QMessageBox::Cancel) << 1 << 0;
    QTest::newRow("dangerous, opened") << dangerous << int(QMessageBox::Open) << 1 << 1;
    QTest::newRow("suspicious") << suspicious << int(QMessageBox::Ok) << 1 << 1;
    QTest::newRow("damaged") << damaged << int(QMessageBox::NoButton) << 0 << 0;
  }
  void fileReadAheadOpensAsRead() {
    QFETCH(QString, file);
    QFETCH(int, answer);
    QFETCH(int, boxes);
    QFETCH(int, pages);
    quorvel::desktop::OpenPrefetch prefetch(file);
    MainWindow w;
    WindowProbe p{w};
    Answers a;
    if (answer != QMessageBox::NoButton) a.push_back(pressButton(QMessageBox::StandardButton(answer)));
    ModalAnswerer answers(a);
    // Another file first: the read-ahead is only for its own path.
    w.openFile(clean);
    QCOMPARE(p.tabs()->count(), 1);
    w.openFile(file);
    QCOMPARE(answers.seen.size(), boxes);
    QCOMPARE(p.tabs()->count(), pages > 0 ? 2 : 1);
    if (pages > 0) {
      QCOMPARE(p.view(1)->pageCount(), pages);
      QFile f(file);
      QVERIFY(f.open(QIODevice::ReadOnly));
      QCOMPARE(p.view(1)->docHash,
               QString::fromLatin1(QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex()));
    }
    if (file == damaged) QCOMPARE(p.status(), QStringLiteral("Не удалось разобрать документ: damaged.pdf"));
  }

  void fileChangedAfterReadAheadIsReadAgain() {
    const QString path = writeTestFile(dir, "changing.pdf", text_pdf({"one"}));
    quorvel::desktop::OpenPrefetch prefetch(path);
    // The read-ahead has finished with the old content before the file changes.
    QTRY_VERIFY(prefetch.finished());
    writeTestFile(dir, "changing.pdf", text_pdf({"one", "two", "three"}));
    MainWindow w;
    WindowProbe p{w};
    w.openFile(path);
    QCOMPARE(p.tabs()->count(), 1);
    QCOMPARE(p.view(0)->pageCount(), 3);
  }

  // The check tells the engine when no page can be turned; a turn written anywhere, packed in
  // an object stream too, still reaches the view, read ahead or not.
  void turnedPagesKeepTheirTurn_data() {
    QTest::addColumn<QString>("node");
    QTest::addColumn<QString>("page");
    QTest::addColumn<bool>("packed");
    QTest::addColumn<bool>("readAhead");
    QTest::addColumn<int>("rotation");
    for (const bool ahead : {false, true}) {
      const char* how = ahead ? ", read ahead" : "";
      QTest::addRow("nothing turned, packed%s", how) << "" << "" << true << ahead << 0;
      QTest::addRow("page turned%s", how) << "" << "/Rotate 90" << false << ahead << 90;
      QTest::addRow("page turned, packed%s", how) << "" << "/Rotate 90" << true << ahead << 90;
      QTest::addRow("inherited turn, packed%s", how) << "/Rotate 270" << "" << true << ahead << 270;
    }
  }
  void turnedPagesKeepTheirTurn() {
    QFETCH(QString, node);
    QFETCH(QString, page);
    QFETCH(bool, packed);
    QFETCH(bool, readAhead);
    QFETCH(int, rotation);
    std::string pdf = build_pdf({
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 " + node.toStdString() + " >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 400 600] " + page.toStdString() + " >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 500] >>",
    });
    if (packed) {
      TempDir work;
      QVERIFY(write_file(work.file("in.pdf"), pdf));
      QCOMPARE(run_program({"qpdf", "--object-streams=generate", "--", work.file("in.pdf"), work.file("out.pdf")}), 0);
      pdf = read_file(work.file("out.pdf"));
      QVERIFY(pdf.find("/ObjStm") != std::string::npos);
      QVERIFY(pdf.find("/Rotate") == std::string::npos);
    }
    const QString file = writeTestFile(dir, "turned.pdf", pdf);
    std::optional<quorvel::desktop::OpenPrefetch> prefetch;
    if (readAhead) prefetch.emplace(file);
    MainWindow w;
    WindowProbe p{w};
    ModalAnswerer answers({});
    w.openFile(file);
    QCOMPARE(p.tabs()->count(), 1);
    PdfView* v = p.view(0);
    QCOMPARE(v->pageCount(), 2);
    const quorvel::PageInfo first = v->doc->page_info(0);
    QCOMPARE(first.rotation, rotation);
    QCOMPARE(first.width, 400.0);
    QCOMPARE(first.height, 600.0);
    QCOMPARE(v->doc->page_info(1).rotation, node.isEmpty() ? 0 : rotation);
  }

  void relativePathIsKeptAsGiven() {
    const QString before = QDir::currentPath();
    QDir::setCurrent(QString::fromStdString(dir.path()));
    {
      MainWindow w;
      WindowProbe p{w};
      w.openFile(QStringLiteral("clean.pdf"));
      QCOMPARE(p.tabs()->tabToolTip(0), QStringLiteral("clean.pdf"));
      emit p.tabs()->tabCloseRequested(0);
      auto* recents = w.findChild<QListWidget*>(QStringLiteral("startRecents"));
      QCOMPARE(recents->item(0)->data(Qt::UserRole).toString(), QStringLiteral("clean.pdf"));
    }
    QDir::setCurrent(before);
  }

  void dropOpensLocalFilesInOrder() {
    MainWindow w;
    WindowProbe p{w};
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(clean), QUrl(QStringLiteral("https://example.test/a.pdf")),
                  QUrl::fromLocalFile(outlined)});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &drop);
    QCOMPARE(p.tabs()->count(), 2);
    QCOMPARE(p.tabs()->tabText(0), QStringLiteral("clean.pdf"));
    QCOMPARE(p.tabs()->tabText(1), QStringLiteral("outlined.pdf"));
    QCOMPARE(p.tabs()->currentIndex(), 1);
  }

  void dropOfTextOrWebLinksDoesNothing() {
    MainWindow w;
    WindowProbe p{w};
    const QString before = p.status();
    QMimeData text;
    text.setText(clean);
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    enter.setAccepted(false);
    QCoreApplication::sendEvent(&w, &enter);
    QVERIFY(!enter.isAccepted());

    QMimeData web;
    web.setUrls({QUrl(QStringLiteral("https://example.test/a.pdf"))});
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &web, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &drop);
    QCOMPARE(p.tabs()->count(), 0);
    QCOMPARE(p.status(), before);
  }

  void startPageRecentEntryOpensTheFile() {
    {
      MainWindow w;
      w.openFile(clean);
    }
    MainWindow w;
    w.show();
    WindowProbe p{w};
    auto* recents = w.findChild<QListWidget*>(QStringLiteral("startRecents"));
    QVERIFY(recents->count() >= 1);
    QCOMPARE(recents->item(0)->data(Qt::UserRole).toString(), clean);
    const QRect r = recents->visualItemRect(recents->item(0));
    QTest::mouseClick(recents->viewport(), Qt::LeftButton, {}, r.center());
    QCOMPARE(p.tabs()->count(), 1);
    QCOMPARE(p.tabs()->tabToolTip(0), clean);
  }
};

QTEST_MAIN(OpenTest)
#include "test_open.moc"
