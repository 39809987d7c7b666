// The window's backend tools as the backend sees them (a recording server: exact requests)
// and as the user sees them (status texts, written files), and against the stand-in with the
// results checked by qpdf, openssl and pdfinfo.
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <unistd.h>

#include "common/backend_fixtures.h"
#include "core/pdf_check.h"
#include "desktop/tools/BackendTools.h"
#include "desktop/window/MainWindowCommandLine.h"
#include "desktop/window/lang.h"
#include "recording_server.h"
#include "stand_in_process.h"
#include "test_mainwindow_support.h"

using quorvel::desktop::MainWindow;
using namespace quorvel::test;
using Answers = std::deque<ModalAnswerer::Answer>;
using Reply = RecordingServer::Reply;

namespace {

// Fills the properties dialog's four fields in order and presses Save.
ModalAnswerer::Answer fillProperties(const QStringList& values, QString* versionText) {
  return [values, versionText](QWidget* w) {
    const QList<QLineEdit*> edits = w->findChildren<QLineEdit*>();
    QCOMPARE(edits.size(), 4);
    for (int i = 0; i < 4; ++i) edits[i]->setText(values[i]);
    if (auto* muted = w->findChild<QLabel*>(QStringLiteral("muted"))) *versionText = muted->text();
    w->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Save)->click();
  };
}

QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList leftoverCopies() {
  return QDir(QDir::tempPath()).entryList({QStringLiteral("quorvel-*")}, QDir::Files | QDir::Hidden);
}

const QByteArray kPdfReply = "%PDF-1.7\n% a reply standing in for a document\n";


}  // namespace

class BackendToolsTest : public QObject {
  Q_OBJECT

  TempDir dir;
  QString doc, pfxBytes;

  QString path(const char* name) const { return QString::fromStdString(dir.file(name)); }

  // A window with `doc` open, sending to `base`.
  void openWindow(MainWindow& w, const QString& base, const QString& file = {}) {
    qputenv("QUORVEL_BACKEND", base.toUtf8());
    w.openFile(file.isEmpty() ? doc : file);
    QVERIFY(w.currentView());
  }

 private slots:
  void initTestCase() {
    QCoreApplication::setOrganizationName(QStringLiteral("Quorvel"));
    QCoreApplication::setApplicationName(QStringLiteral("PDF Dodiru Quorvel"));
    doc = writeTestFile(dir, "doc.pdf", text_pdf({"first page", "second page"}));
    // Bytes long enough that a base64 with line breaks would have several.
    std::string container;
    for (int i = 0; i < 3000; ++i) container.push_back(static_cast<char>(i * 7 % 256));
    pfxBytes = writeTestFile(dir, "container.p12", container);
  }

  void init() { quorvel::desktop::g_lang = 0; }

  void requestsCarryTheirValuesExactly() {
    RecordingServer server;
    for (int i = 0; i < 6; ++i) server.queue({200, kPdfReply, {}});
    MainWindow w;
    openWindow(w, server.base());
    WindowProbe p{w};

    w.protectPdfTo(path("p.pdf"), QStringLiteral("a+b%41 c"));
    w.signWithCertTo(pfxBytes, QString(), path("s.pdf"));
    w.sanitizePdfTo(path("c.pdf"));
    {
      ModalAnswerer a(Answers{chooseFile(path("o.pdf"))});
      w.optimizePdfDialog();
    }
    {
      ModalAnswerer a(Answers{chooseFile(path("t.csv"))});
      w.extractTablesCsv();
    }
    QString version;
    {
      ModalAnswerer a(Answers{fillProperties({QStringLiteral("  Padded"), QString(), QStringLiteral("Тема & co"),
                                              QString()},
                                             &version),
                              chooseFile(path("m.pdf"))});
      w.documentPropertiesDialog();
      QCOMPARE(a.unexpected, 0);
    }
    QCOMPARE(version, QStringLiteral("Версия PDF: 1.7"));
    QTRY_COMPARE(server.requests.size(), 6);
    QTRY_VERIFY(p.status().startsWith(QStringLiteral("Свойства сохранены")));

    const QList<QByteArray> lines = {
        "POST /pdf/encrypt?user_password=a%2Bb%2541%20c&allow_print=1&allow_copy=0&allow_modify=0 HTTP/1.1",
        "POST /pdf/sign?passphrase=&field_name=TaviSignature HTTP/1.1",
        "POST /pdf/sanitize HTTP/1.1",
        "POST /pdf/optimize HTTP/1.1",
        "POST /pdf/extract?what=tables&format=csv HTTP/1.1",
        "POST /pdf/set-meta?title=%20%20Padded&subject=%D0%A2%D0%B5%D0%BC%D0%B0%20%26%20co HTTP/1.1",
    };
    QSet<QByteArray> seen;
    for (const RecordingServer::Request& r : server.requests) {
      seen.insert(r.requestLine());
      QCOMPARE(r.header("Content-Type"), QByteArray("application/pdf"));
      QVERIFY(r.body.startsWith("%PDF-"));
      // A configured backend was not given the secret of a backend this window started.
      QVERIFY(r.header("Authorization").isNull());
    }
    for (const QByteArray& l : lines) QVERIFY2(seen.contains(l), l.constData());
    // The container whole, in one header line.
    const auto sign = std::find_if(server.requests.begin(), server.requests.end(),
                                   [](const auto& r) { return r.requestLine().startsWith("POST /pdf/sign"); });
    QCOMPARE(sign->header("X-Signer-Pfx"), readAll(pfxBytes).toBase64());
    QVERIFY(sign->header("X-Signer-Pfx").size() > 3000);
    QCOMPARE(leftoverCopies(), QStringList());
  }

  void failuresShowTheReplyStartAndKeepTheOutput_data() {
    QTest::addColumn<int>("status");  // 0: nobody listens
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("shown");
    const QByteArray ascii(199, 'x');
    // "Ж" takes bytes 200 and 201: it does not fit and is left out whole.
    QTest::newRow("500, cut before a split letter")
        << 500 << ascii + "Жtail that is never shown" << QStringLiteral("Шифрование не удалось (backend): ") + ascii;
    QTest::newRow("500, letter ending at 200")
        << 500 << QByteArray(198, 'y') + "Жz" << QStringLiteral("Шифрование не удалось (backend): ") + QString(198, 'y') + "Ж";
    QTest::newRow("success status, not a PDF")
        << 200 << QByteArray("<html>proxy login</html>") << QStringLiteral("Шифрование не удалось (backend): <html>proxy login</html>");
    // Without a body the reason is said, never the address whose query holds the password.
    QTest::newRow("connection refused")
        << 0 << QByteArray() << QStringLiteral("Шифрование не удалось (backend): Connection refused");
    QTest::newRow("500 without a body") << 500 << QByteArray() << QStringLiteral("Шифрование не удалось (backend): HTTP 500 Scripted");
    QTest::newRow("success status, empty body") << 200 << QByteArray() << QStringLiteral("Шифрование не удалось (backend): пустой ответ");
  }
  void failuresShowTheReplyStartAndKeepTheOutput() {
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, shown);
    RecordingServer server;
    server.queue({status, body, {}});
    const QString out = writeTestFile(dir, "existing.pdf", "the user's earlier file");
    MainWindow w;
    openWindow(w, status ? server.base() : QStringLiteral("http://127.0.0.1:9"));
    WindowProbe p{w};
    w.protectPdfTo(out, QStringLiteral("pw"));
    QCOMPARE(p.status(), QStringLiteral("Шифрование (AES-256)…"));
    QTRY_VERIFY(p.status() != QStringLiteral("Шифрование (AES-256)…"));
    QCOMPARE(p.status(), shown);
    QCOMPARE(readAll(out), QByteArray("the user's earlier file"));
    QCOMPARE(leftoverCopies(), QStringList());
  }

  void successIsReportedOnceWritten() {
    const QByteArray protectedPdf = QByteArray::fromStdString(qpdf_encrypt(text_pdf({"p"}), "pw", "owner"));
    const QByteArray cleanPdf = QByteArray::fromStdString(text_pdf({"clean"}));
    RecordingServer server;
    server.queue({200, protectedPdf, {}});
    server.queue({200, cleanPdf, {{"X-Removed", "JavaScript: 1, OpenAction: 1"}}});
    server.queue({200, cleanPdf, {}});
    server.queue({200, protectedPdf, {}});
    MainWindow w;
    openWindow(w, server.base());
    WindowProbe p{w};

    const QString out = writeTestFile(dir, "replaced.pdf", "old");
    w.protectPdfTo(out, QStringLiteral("pw"));
    QTRY_COMPARE(p.status(), QStringLiteral("Зашифровано (AES-256): ") + out);
    QCOMPARE(readAll(out), protectedPdf);

    w.sanitizePdfTo(path("clean.pdf"));
    QTRY_COMPARE(p.status(), QStringLiteral("Очищено (JavaScript: 1, OpenAction: 1) → ") + path("clean.pdf"));
    QCOMPARE(readAll(path("clean.pdf")), cleanPdf);

    // The English interface keeps the one Russian word for "nothing".
    quorvel::desktop::g_lang = 1;
    w.sanitizePdfTo(path("clean2.pdf"));
    QTRY_COMPARE(p.status(), QStringLiteral("Sanitized (ничего) → ") + path("clean2.pdf"));

    const QString unwritable = path("no-such-folder/out.pdf");
    w.protectPdfTo(unwritable, QStringLiteral("pw"));
    QTRY_COMPARE(p.status(), QStringLiteral("Could not write: ") + unwritable);
  }

  // A reply with a success status is what was asked for only when it is: a protected file that
  // opens with the password sent (and not without it), a signature over the whole file, a
  // cleaned file that opens. Otherwise the tool fails with the reason and the output stays.
  void repliesThatAreNotWhatWasAsked_data() {
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("shown");  // empty: success
    const QByteArray plain = QByteArray::fromStdString(text_pdf({"plain"}));
    const QString notEncrypted = QStringLiteral("Шифрование не удалось (backend): ответ не зашифрован этим паролем (AES-256)");
    QTest::newRow("protect: not encrypted") << "protect" << plain << notEncrypted;
    QTest::newRow("protect: another password")
        << "protect" << QByteArray::fromStdString(qpdf_encrypt(text_pdf({"x"}), "other", "pw")) << notEncrypted;
    QTest::newRow("protect: opens without a password")
        << "protect" << QByteArray::fromStdString(qpdf_encrypt(text_pdf({"x"}), "", "pw")) << notEncrypted;
    QTest::newRow("protect: AES-128")
        << "protect" << QByteArray::fromStdString(qpdf_encrypt(text_pdf({"x"}), "pw", "o", 128)) << notEncrypted;
    QTest::newRow("protect: as asked")
        << "protect" << QByteArray::fromStdString(qpdf_encrypt(text_pdf({"x"}), "pw", "o")) << QString();
    QTest::newRow("sign: no signature")
        << "sign" << plain
        << QStringLiteral("Подпись не удалась (backend): в ответе нет подписи, покрывающей весь файл");
    QTest::newRow("sign: changed after signing")
        << "sign" << QByteArray::fromStdString(whole_file_signed_pdf("3082" + std::string(60, '1'), 0, "% more\n"))
        << QStringLiteral("Подпись не удалась (backend): в ответе нет подписи, покрывающей весь файл");
    QTest::newRow("sign: as asked") << "sign" << QByteArray::fromStdString(whole_file_signed_pdf()) << QString();
    QTest::newRow("sanitize: does not open")
        << "sanitize" << QByteArray("%PDF-1.7\nnothing else of a PDF\n")
        << QStringLiteral("Очистка не удалась (backend): ответ не открывается как PDF");
    QTest::newRow("sanitize: as asked") << "sanitize" << plain << QString();
  }
  void repliesThatAreNotWhatWasAsked() {
    QFETCH(QString, tool);
    QFETCH(QByteArray, reply);
    QFETCH(QString, shown);
    RecordingServer server;
    server.queue({200, reply, {}});
    const QString out = writeTestFile(dir, "earlier.pdf", "the user's earlier file");
    MainWindow w;
    openWindow(w, server.base());
    WindowProbe p{w};
    if (tool == QLatin1String("protect")) w.protectPdfTo(out, QStringLiteral("pw"));
    if (tool == QLatin1String("sign")) w.signWithCertTo(pfxBytes, QStringLiteral("pass"), out);
    if (tool == QLatin1String("sanitize")) w.sanitizePdfTo(out);
    const QString waiting = p.status();
    QTRY_VERIFY(p.status() != waiting);
    if (shown.isEmpty()) {
      QVERIFY2(!p.status().contains(QStringLiteral("не удал")), qPrintable(p.status()));
      QCOMPARE(readAll(out), reply);
    } else {
      QCOMPARE(p.status(), shown);
      QCOMPARE(readAll(out), QByteArray("the user's earlier file"));
    }
  }

  // What the backend gets: the file as it was opened while nothing has changed, else a full
  // copy with the edits and annotations; and never a copy it cannot open without the
  // document's password.
  void copySentIsOneTheBackendCanRead_data() {
    QTest::addColumn<bool>("locked");
    QTest::addColumn<QString>("change");  // "", "annotation", "rotation"
    QTest::addColumn<bool>("fileAsItIs");
    QTest::newRow("unchanged: the file itself") << false << "" << true;
    QTest::newRow("annotated: saved with the annotation") << false << "annotation" << false;
    QTest::newRow("edited: saved with the edit") << false << "rotation" << false;
    QTest::newRow("locked: without its password") << true << "" << false;
    QTest::newRow("locked and edited") << true << "rotation" << false;
  }
  void copySentIsOneTheBackendCanRead() {
    QFETCH(bool, locked);
    QFETCH(QString, change);
    QFETCH(bool, fileAsItIs);
    // A document of its own per row: annotations are stored by the document's bytes.
    const std::string plain = text_pdf({std::string("first page of ") + QTest::currentDataTag(), "second page"});
    const QString file = writeTestFile(dir, locked ? "locked.pdf" : "plain.pdf",
                                       locked ? qpdf_encrypt(plain, "open sesame", "owner") : plain);
    RecordingServer server;
    server.queue({200, QByteArray::fromStdString(text_pdf({"clean"})), {}});
    MainWindow w;
    if (locked) w.setOpenPassword(QStringLiteral("open sesame"));
    openWindow(w, server.base(), file);
    WindowProbe p{w};
    if (change == QLatin1String("annotation")) {
      quorvel::annot::Annotation a;
      a.id = "note-1";
      a.page = 0;
      a.type = quorvel::annot::AnnotType::Note;
      a.x0 = 100, a.y0 = 100, a.x1 = 120, a.y1 = 120;
      a.text = "a note";
      w.currentView()->addAnnotation(a);
    }
    if (change == QLatin1String("rotation")) w.rotatePageAt(2);
    w.sanitizePdfTo(path("sent-copy-result.pdf"));
    QTRY_COMPARE(server.requests.size(), 1);
    QTRY_VERIFY(p.status().startsWith(QStringLiteral("Очищено")));
    const QByteArray sent = server.requests[0].body;
    QCOMPARE(sent == readAll(file), fileAsItIs);
    const auto engine = quorvel::make_engine(quorvel::EngineKind::Pdfium);
    const auto opened = engine->open(as_bytes(sent.toStdString()), {});
    QVERIFY2(opened, "the backend could not open what it was sent");
    QVERIFY(!opened->metadata().encrypted);
    QCOMPARE(opened->page_count(), 2);
    QCOMPARE(opened->page_info(1).rotation, change == QLatin1String("rotation") ? 90 : 0);
    QCOMPARE(sent.contains("a note"), change == QLatin1String("annotation"));
    QCOMPARE(leftoverCopies(), QStringList());
  }

  // A document opened with its password comes back locked as it was from every tool that
  // returns it: the same password opens the result, the owner's too, nothing less does, and
  // the result holds the tool's change. A signature would break under a new lock: that copy
  // is written unlocked, and the status says so.
  void lockedDocumentStaysLocked() {
    StandInProcess backend;
    QVERIFY(backend.start());
    const QString locked =
        writeTestFile(dir, "locked-tools.pdf", qpdf_encrypt(text_pdf({"first page", "second page"}), "open sesame", "owner pw"));
    const std::string pfx = make_pfx(dir, "container pass");
    MainWindow w;
    w.setOpenPassword(QStringLiteral("open sesame"));
    openWindow(w, backend.base, locked);
    WindowProbe p{w};
    const auto click = [](QWidget* d, const QString& text) {
      for (QPushButton* b : d->findChildren<QPushButton*>())
        if (b->text() == text) b->click();
      d->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Save)->click();
    };

    w.sanitizePdfTo(path("locked-clean.pdf"));
    QTRY_VERIFY_WITH_TIMEOUT(p.status().startsWith(QStringLiteral("Очищено")), 20000);
    {
      ModalAnswerer a(Answers{chooseFile(path("locked-opt.pdf"))});
      w.optimizePdfDialog();
    }
    QTRY_VERIFY_WITH_TIMEOUT(p.status().startsWith(QStringLiteral("Оптимизировано")), 20000);
    {
      QString version;
      ModalAnswerer a(Answers{fillProperties({QStringLiteral("New title"), QString(), QString(), QString()}, &version),
                              chooseFile(path("locked-meta.pdf"))});
      w.documentPropertiesDialog();
    }
    QTRY_VERIFY_WITH_TIMEOUT(p.status().startsWith(QStringLiteral("Свойства сохранены")), 20000);
    {
      ModalAnswerer a(Answers{[&](QWidget* d) { click(d, QStringLiteral("+ Закладка")); }, chooseFile(path("locked-bm.pdf"))});
      w.editBookmarksDialog();
    }
    QTRY_VERIFY_WITH_TIMEOUT(p.status().startsWith(QStringLiteral("Закладки сохранены")), 20000);
    {
      // The form opens in a tab of its own, with the password the window was given.
      ModalAnswerer a(Answers{[&](QWidget* d) { click(d, QStringLiteral("+ Текстовое поле")); },
                              chooseFile(path("locked-form.pdf"))});
      w.formDesignerDialog();
      QTRY_COMPARE_WITH_TIMEOUT(p.tabs()->count(), 2, 20000);
      QCOMPARE(a.unexpected, 0);
    }

    const auto engine = quorvel::make_engine(quorvel::EngineKind::Pdfium);
    const auto openedWith = [&engine](const QString& file, const char* password) {
      return engine->open(as_bytes(read_file(file.toStdString())), password);
    };
    for (const char* name : {"locked-clean.pdf", "locked-opt.pdf", "locked-meta.pdf", "locked-bm.pdf", "locked-form.pdf"}) {
      const QByteArray out = readAll(path(name));
      QVERIFY2(quorvel::pdfcheck::encrypted_for(std::as_bytes(std::span(out.constData(), size_t(out.size()))), "open sesame"),
               name);
      QVERIFY2(!openedWith(path(name), ""), name);
      const auto doc = openedWith(path(name), "owner pw");
      QVERIFY2(doc && doc->page_count() == 2, name);
    }
    QCOMPARE(openedWith(path("locked-meta.pdf"), "open sesame")->metadata().title, std::string("New title"));
    QCOMPARE(openedWith(path("locked-bm.pdf"), "open sesame")->outline().size(), size_t{1});
    QVERIFY(openedWith(path("locked-form.pdf"), "open sesame")->has_form());

    p.tabs()->setCurrentIndex(0);
    w.signWithCertTo(QString::fromStdString(pfx), QStringLiteral("container pass"), path("locked-signed.pdf"));
    QTRY_VERIFY_WITH_TIMEOUT(p.status().startsWith(QStringLiteral("Подписано")), 20000);
    QCOMPARE(p.status(), QStringLiteral("Подписано сертификатом (PAdES) → %1 (подписанная копия не защищена паролем)")
                             .arg(path("locked-signed.pdf")));
    std::string why;
    QVERIFY2(signature_verifies(read_file(dir.file("locked-signed.pdf")), dir, &why), why.c_str());
    QVERIFY(openedWith(path("locked-signed.pdf"), ""));
    QCOMPARE(leftoverCopies(), QStringList());
  }

  // A result that cannot take the document's lock again is not written unlocked.
  void lockedResultThatCannotBeLockedAgainIsNotWritten() {
    RecordingServer server;
    server.queue({200, QByteArray::fromStdString(qpdf_encrypt(text_pdf({"x"}), "not ours", "not ours")), {}});
    const QString locked = writeTestFile(dir, "locked-once.pdf", qpdf_encrypt(text_pdf({"p"}), "open sesame", "o"));
    const QString out = writeTestFile(dir, "kept.pdf", "the user's earlier file");
    MainWindow w;
    w.setOpenPassword(QStringLiteral("open sesame"));
    openWindow(w, server.base(), locked);
    WindowProbe p{w};
    {
      // Past the dialog's question whether to replace the file.
      ModalAnswerer a(Answers{chooseFile(out, nullptr, true)});
      w.optimizePdfDialog();
    }
    QTRY_VERIFY(p.status() != QStringLiteral("Оптимизация…"));
    QCOMPARE(p.status(), QStringLiteral("Оптимизация не удалась (backend): не удалось снова защитить результат паролем документа"));
    QCOMPARE(readAll(out), QByteArray("the user's earlier file"));
  }

  void optimizeFigures_data() {
    QTest::addColumn<QByteArray>("original");
    QTest::addColumn<QByteArray>("optimized");
    QTest::addColumn<qint64>("originalKb");
    QTest::addColumn<qint64>("optimizedKb");
    QTest::addColumn<int>("percent");
    QTest::newRow("all three truncate") << QByteArray("3000") << QByteArray("1000") << 2LL << 0LL << 67;
    QTest::newRow("larger result") << QByteArray("1000") << QByteArray("1100") << 0LL << 1LL << -10;
    QTest::newRow("headers missing") << QByteArray() << QByteArray() << 0LL << 0LL << 0;
    QTest::newRow("not numbers") << QByteArray("12 KB") << QByteArray("abc") << 0LL << 0LL << 0;
    QTest::newRow("negative sizes") << QByteArray("-4096") << QByteArray("2048") << 0LL << 2LL << 0;
    QTest::newRow("original zero") << QByteArray("0") << QByteArray("500") << 0LL << 0LL << 0;
    QTest::newRow("too large for n * 100")
        << QByteArray("4096") << QByteArray("9223372036854775807") << 4LL << 0LL << 100;
    QTest::newRow("percentage beyond int")
        << QByteArray("1") << QByteArray("92233720368547758") << 0LL << 90071992547409LL << 0;
    QTest::newRow("megabytes") << QByteArray("10485760") << QByteArray("5242880") << 10240LL << 5120LL << 50;
  }
  void optimizeFigures() {
    QFETCH(QByteArray, original);
    QFETCH(QByteArray, optimized);
    const quorvel::desktop::OptimizeFigures f = quorvel::desktop::optimizeFigures(original, optimized);
    QTEST(f.originalKb, "originalKb");
    QTEST(f.optimizedKb, "optimizedKb");
    QTEST(f.percent, "percent");
  }

  void optimizeShowsTheSizesAndWriteFailures() {
    quorvel::desktop::g_lang = 1;
    RecordingServer server;
    server.queue({200, kPdfReply, {{"X-Original-Size", "1000"}, {"X-Optimized-Size", "1100"}}});
    server.queue({200, kPdfReply, {}});
    MainWindow w;
    openWindow(w, server.base());
    WindowProbe p{w};
    {
      ModalAnswerer a(Answers{chooseFile(path("opt.pdf"))});
      w.optimizePdfDialog();
    }
    QTRY_COMPARE(p.status(), QStringLiteral("Optimized: 0 → 1 KB (--10%) → ") + path("opt.pdf"));
    QCOMPARE(readAll(path("opt.pdf")), kPdfReply);
    // A folder that does not exist: the dialog is answered past its own checks.
    const QString unwritable = path("missing-folder/opt.pdf");
    {
      ModalAnswerer a(Answers{chooseFile(unwritable, nullptr, true)});
      w.optimizePdfDialog();
    }
    QTRY_COMPARE(p.status(), QStringLiteral("Could not write: ") + unwritable);
  }

  void tablesAndProperties() {
    RecordingServer server;
    server.queue({200, " \r\n\t \n", {}});
    server.queue({200, "\n\"a\",\"b\"\n\n", {}});
    server.queue({500, "extract broke", {}});
    MainWindow w;
    openWindow(w, server.base());
    WindowProbe p{w};
    auto extractTo = [&](const QString& out) {
      ModalAnswerer a(Answers{chooseFile(out)});
      w.extractTablesCsv();
      QTRY_COMPARE(server.requests.size() > 0, true);
    };
    extractTo(path("none.csv"));
    QTRY_COMPARE(p.status(), QStringLiteral("Таблицы не найдены"));
    QVERIFY(!QFile::exists(path("none.csv")));
    extractTo(path("some.csv"));
    QTRY_COMPARE(p.status(), QStringLiteral("Таблицы сохранены: ") + path("some.csv"));
    QCOMPARE(readAll(path("some.csv")), QByteArray("\n\"a\",\"b\"\n\n"));
    extractTo(path("broken.csv"));
    QTRY_COMPARE(p.status(), QStringLiteral("Извлечение не удалось (backend): extract broke"));
    QVERIFY(!QFile::exists(path("broken.csv")));
  }

  // Every secret given as "-" is a line of standard input, read in the order of the actions:
  // the open password first, then the encryption password, then the certificate's passphrase.
  void commandLineTakesSecretsFromStandardInput() {
    using quorvel::desktop::planCommandLine;
    using quorvel::desktop::scanCommandLine;
    const QString locked = writeTestFile(dir, "cl-locked.pdf", qpdf_encrypt(text_pdf({"locked"}), "open pw", "owner"));
    const QStringList args = {locked,
                              QStringLiteral("--sanitize-out"), path("cl-clean.pdf"),
                              QStringLiteral("--sign-cert-pw"), QStringLiteral("-"),
                              QStringLiteral("--sign-cert"), pfxBytes,
                              QStringLiteral("--sign-cert-out"), path("cl-signed.pdf"),
                              QStringLiteral("--encrypt-pw"), QStringLiteral("-"),
                              QStringLiteral("--encrypt"), path("cl-protected.pdf"),
                              QStringLiteral("--password"), QStringLiteral("-")};
    const auto plan = planCommandLine(scanCommandLine(args));
    QStringList calls;
    for (const auto& a : plan) calls << a.call;
    QCOMPARE(calls, (QStringList{QStringLiteral("setOpenPassword"),
                                 QStringLiteral("openFile(%1)").arg(locked),
                                 QStringLiteral("protectPdfTo(%1)").arg(path("cl-protected.pdf")),
                                 QStringLiteral("signWithCertTo(%1, %2)").arg(pfxBytes, path("cl-signed.pdf")),
                                 QStringLiteral("sanitizePdfTo(%1)").arg(path("cl-clean.pdf"))}));
    // Each action missing its companion option is left out.
    QCOMPARE(planCommandLine(scanCommandLine({QStringLiteral("--encrypt"), QStringLiteral("x.pdf"),
                                              QStringLiteral("--sign-cert-out"), QStringLiteral("y.pdf"),
                                              QStringLiteral("--sign-cert-pw"), QStringLiteral("pw")}))
                 .size(),
             size_t{0});

    RecordingServer server;
    server.respond = [](const RecordingServer::Request& r) -> Reply {
      if (r.requestLine().startsWith("POST /pdf/encrypt"))
        return {200, QByteArray::fromStdString(qpdf_encrypt(text_pdf({"p"}), "a+b%41 c", "o")), {}};
      if (r.requestLine().startsWith("POST /pdf/sign")) return {200, QByteArray::fromStdString(whole_file_signed_pdf()), {}};
      return {200, QByteArray::fromStdString(text_pdf({"clean"})), {}};
    };
    qputenv("QUORVEL_BACKEND", server.base().toUtf8());
    int pipefd[2];
    QCOMPARE(::pipe(pipefd), 0);
    const QByteArray input = "open pw\na+b%41 c\r\nsecond line\n";
    QCOMPARE(::write(pipefd[1], input.constData(), input.size()), input.size());
    ::close(pipefd[1]);
    const int savedStdin = ::dup(0);
    ::dup2(pipefd[0], 0);
    ::close(pipefd[0]);
    {
      MainWindow w;
      ModalAnswerer noPrompt({});
      for (const auto& a : plan) a.run(w);
      QVERIFY(w.currentView());
      QCOMPARE(noPrompt.seen.size(), 0);
      QTRY_COMPARE(server.requests.size(), 3);
      QTRY_VERIFY(QFile::exists(path("cl-clean.pdf")) && QFile::exists(path("cl-signed.pdf")) &&
                  QFile::exists(path("cl-protected.pdf")));
    }
    ::dup2(savedStdin, 0);
    ::close(savedStdin);
    QList<QByteArray> lines;
    for (const auto& r : server.requests) lines << r.requestLine();
    QVERIFY(lines.contains("POST /pdf/encrypt?user_password=a%2Bb%2541%20c&allow_print=1&allow_copy=0&allow_modify=0 HTTP/1.1"));
    QVERIFY(lines.contains("POST /pdf/sign?passphrase=second%20line&field_name=TaviSignature HTTP/1.1"));
  }

  void menuEntriesAreLive() {
    MainWindow w;
    WindowProbe p{w};
    QMenu* file = w.menuBar()->actions().first()->menu();
    QStringList live;
    for (QAction* a : file->actions())
      if (a->isEnabled() && !a->isSeparator()) live << a->text();
    for (const char* text : {"Извлечь таблицы (CSV)…", "Свойства документа…", "Оптимизировать (сжать)…",
                             "Защитить паролем (AES-256)…", "Подписать сертификатом (PKCS#12)…",
                             "Очистить (JS/метаданные/вложения)…"})
      QVERIFY2(live.contains(QString::fromUtf8(text)), text);
    // Without a document the dialog-only tools say so, the others stay silent.
    for (QAction* a : file->actions()) {
      if (a->text() == QString::fromUtf8("Оптимизировать (сжать)…")) a->trigger();
    }
    QCOMPARE(p.status(), QStringLiteral("Сначала откройте PDF"));
  }

  void realResultsFromTheStandIn() {
    StandInProcess backend;
    QVERIFY(backend.start());
    const QString active = writeTestFile(dir, "active.pdf", active_content_pdf());
    const QString tables = writeTestFile(dir, "tables.pdf", table_pdf());
    const std::string pfx = make_pfx(dir, "container pass");
    QVERIFY(!pfx.empty());
    MainWindow w;
    openWindow(w, backend.base, tables);
    WindowProbe p{w};

    const std::string password = "a+b%41 c";
    w.protectPdfTo(path("real-protected.pdf"), QString::fromStdString(password));
    QTRY_VERIFY_WITH_TIMEOUT(p.status().startsWith(QStringLiteral("Зашифровано")), 20000);
    std::string info;
    QCOMPARE(run_program({"qpdf", "--show-encryption", "--password=" + password, dir.file("real-protected.pdf")}, &info), 0);
    QVERIFY2(info.find("R = 6") != std::string::npos, info.c_str());
    QVERIFY(info.find("extract for any purpose: not allowed") != std::string::npos);
    QVERIFY(info.find("modify other: not allowed") != std::string::npos);
    QVERIFY(info.find("print high resolution: allowed") != std::string::npos);

    w.signWithCertTo(QString::fromStdString(pfx), QStringLiteral("container pass"), path("real-signed.pdf"));
    QTRY_VERIFY_WITH_TIMEOUT(p.status().startsWith(QStringLiteral("Подписано")), 20000);
    std::string why;
    QVERIFY2(signature_verifies(read_file(dir.file("real-signed.pdf")), dir, &why), why.c_str());

    w.signWithCertTo(QString::fromStdString(pfx), QStringLiteral("wrong"), path("real-unsigned.pdf"));
    QTRY_VERIFY_WITH_TIMEOUT(p.status().startsWith(QStringLiteral("Подпись не удалась (backend): ")), 20000);
    QVERIFY(!QFile::exists(path("real-unsigned.pdf")));

    {
      ModalAnswerer a(Answers{chooseFile(path("real-tables.csv"))});
      w.extractTablesCsv();
    }
    QTRY_VERIFY_WITH_TIMEOUT(p.status().startsWith(QStringLiteral("Таблицы сохранены")), 20000);
    QCOMPARE(readAll(path("real-tables.csv")), QByteArray(table_csv()));

    // The active document needs the user's consent to open.
    {
      ModalAnswerer a(Answers{pressButton(QMessageBox::Open)});
      w.openFile(active);
    }
    QCOMPARE(WindowProbe{w}.tabs()->count(), 2);
    w.sanitizePdfTo(path("real-clean.pdf"));
    QTRY_VERIFY_WITH_TIMEOUT(p.status().startsWith(QStringLiteral("Очищено")), 20000);
    for (const char* what : {"JavaScript", "OpenAction", "EmbeddedFiles", "FileAttachment"})
      QVERIFY2(p.status().contains(QLatin1String(what)), what);
    std::string json;
    QCOMPARE(run_program({"qpdf", "--json", dir.file("real-clean.pdf")}, &json), 0);
    for (const char* name : {"/JavaScript", "/OpenAction", "/EmbeddedFiles", "/FileAttachment", "/Launch"})
      QVERIFY2(json.find(name) == std::string::npos, name);
    QCOMPARE(leftoverCopies(), QStringList());
  }
};

QTEST_MAIN(BackendToolsTest)
#include "test_backend_tools.moc"
