// Version compare, data extraction and XFDF: what the dock, the dialog and the files show,
// what is kept for the AI summary, and what a failure leaves behind.
#include <QSettings>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QUuid>
#include <QXmlStreamReader>
#include <QtTest>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "desktop/ai/AiPanel.h"
#include "desktop/tools/CompareHtml.h"
#include "desktop/tools/EntityCsv.h"
#include "core/xfdf.h"
#include "lang_guard.h"
#include "recording_server.h"
#include "test_mainwindow_support.h"

using quorvel::desktop::MainWindow;
using quorvel::desktop::PdfView;
using namespace quorvel::test;
namespace annot = quorvel::annot;
namespace diff = quorvel::diff;
using Answers = std::deque<ModalAnswerer::Answer>;

namespace {

// One page per entry, each entry's lines drawn one under the other.
std::string linesPdf(const std::vector<std::vector<std::string>>& pages, const std::string& extra = "") {
  std::vector<PageSpec> specs;
  for (const auto& lines : pages) {
    PageSpec p;
    p.content = "BT /F1 12 Tf 14 TL 72 720 Td";
    for (const std::string& l : lines) p.content += " " + pdf_literal(l) + " Tj T*";
    p.content += " ET";
    p.extra = extra;
    specs.push_back(p);
  }
  return make_pdf(specs);
}

QTextBrowser* chat(MainWindow& w) { return w.findChild<QTextBrowser*>(QStringLiteral("aiLog")); }

// A page diff of `changed` removed lines followed by `same` unchanged ones.
diff::PageDiff pageOf(int page, int changed, int same) {
  diff::PageDiff d;
  d.page = page;
  for (int i = 0; i < changed; ++i) d.lines.push_back({2, "old " + std::to_string(i)});
  for (int i = 0; i < same; ++i) d.lines.push_back({0, "same " + std::to_string(i)});
  d.removed = changed;
  d.changed = changed > 0;
  return d;
}

QString readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

}  // namespace

class CompareExtractTest : public QObject {
  Q_OBJECT

  TempDir dir;
  QTemporaryDir config;
  QString v1, v2, same, longer, encrypted, garbage;

  QString path(const char* name) const { return QString::fromStdString(dir.file(name)); }

 private slots:
  void initTestCase() {
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    qputenv("XDG_DATA_HOME", config.path().toUtf8());
    QCoreApplication::setOrganizationName(QStringLiteral("Quorvel"));
    QCoreApplication::setApplicationName(QStringLiteral("PDF Dodiru Quorvel"));
    QSettings().setValue(QStringLiteral("ai/provider"), QStringLiteral("stub"));
    v1 = writeTestFile(dir, "v1.pdf", linesPdf({{"alpha", "beta"}, {"gamma"}}));
    same = writeTestFile(dir, "same.pdf", linesPdf({{"alpha", "beta"}, {"gamma"}}));
    v2 = writeTestFile(dir, "v2.pdf", linesPdf({{"alpha", "a < b & c"}, {"gamma"}}));
    longer = writeTestFile(dir, "longer.pdf", linesPdf({{"alpha", "beta"}, {"gamma"}, {"extra page"}}));
    encrypted = writeTestFile(dir, "locked.pdf", qpdf_encrypt(linesPdf({{"alpha"}}), "secret", "owner", 256));
    garbage = writeTestFile(dir, "garbage.pdf", "not a pdf at all");
  }

  void init() { quorvel::desktop::g_lang = 0; }

  // The report and the side-by-side columns: line limits with one ellipsis row, markup in the
  // text shown literally, unchanged pages left out, the kept text uncapped.
  void presentationsCapAndEscape() {
    struct Case {
      int changed, same;
      int reportRows, sideRows;  // rows shown besides the ellipsis
      bool reportCut, sideCut;
    };
    const Case cases[] = {{40, 0, 40, 40, false, false},
                          {41, 0, 40, 41, true, false},
                          {10, 290, 10, 300, false, false},
                          {10, 291, 10, 300, false, true}};
    const QString ellipsis = QStringLiteral("<div style='color:#9aa0b8'>…</div>");
    for (const Case& c : cases) {
      const std::vector<diff::PageDiff> diffs{pageOf(0, 0, 3), pageOf(1, c.changed, c.same)};
      const auto report = quorvel::desktop::compareReport(diffs);
      QCOMPARE(report.html.count(QStringLiteral("text-decoration:line-through'>− old")), c.reportRows);
      QCOMPARE(report.html.count(ellipsis), c.reportCut ? 1 : 0);
      QCOMPARE(report.diffText.count(QStringLiteral("- old")), c.changed);
      QVERIFY(report.diffText.startsWith(QStringLiteral("[стр. 2]\n- old 0\n")));
      QCOMPARE(report.changedPages, 1);
      const auto side = quorvel::desktop::sideBySide(diffs);
      QCOMPARE(side.changedPages, QList<int>{2});
      QCOMPARE(side.left.count(QStringLiteral("<div")) - 2 - (c.sideCut ? 1 : 0), c.sideRows);
      QCOMPARE(side.right.count(QStringLiteral("<div")), side.left.count(QStringLiteral("<div")));
      QCOMPARE(side.left.count(ellipsis), c.sideCut ? 1 : 0);
      QCOMPARE(side.right.count(ellipsis), c.sideCut ? 1 : 0);
      QVERIFY(!side.left.contains(QStringLiteral("стр. 1<")));
    }
    diff::PageDiff markup;
    markup.lines = {{1, "a < b & c"}, {0, "<b>x</b>"}};
    markup.added = 1;
    markup.changed = true;
    const auto report = quorvel::desktop::compareReport({markup});
    const auto side = quorvel::desktop::sideBySide({markup});
    for (const QString& html : {report.html, side.right}) QVERIFY2(html.contains(QStringLiteral("a &lt; b &amp; c")), qPrintable(html));
    for (const QString& html : {side.left, side.right}) QVERIFY(html.contains(QStringLiteral("&lt;b&gt;x&lt;/b&gt;")));
    QTextDocument shown;
    shown.setHtml(report.html);
    QVERIFY(shown.toPlainText().contains(QStringLiteral("+ a < b & c")));
    QCOMPARE(report.diffText, QStringLiteral("[стр. 1]\n+ a < b & c\n"));
  }

  // Compares through the window: identical versions, a real change, extra pages, and every
  // failure leaving nothing to sum up, so that no earlier diff is passed off as this one's.
  void compareInTheDock() {
    RecordingServer server;
    for (int i = 0; i < 3; ++i) server.queue({200, R"({"answer":"ok"})", {}});
    qputenv("QUORVEL_BACKEND", server.base().toUtf8());
    MainWindow w;
    WindowProbe p{w};
    w.openFile(v1);
    QVERIFY(w.currentView());

    // Identical: the grey row, an empty kept diff (the summary has nothing to send).
    {
      ModalAnswerer a(Answers{chooseFile(same)});
      w.compareWithDialog();
    }
    QCOMPARE(p.status(), QStringLiteral("Сравнение: 0 изм. стр., +0 / −0 строк (same.pdf)"));
    QVERIFY(chat(w)->toPlainText().contains(QStringLiteral("Различий не найдено.")));
    QVERIFY(chat(w)->toPlainText().endsWith(QStringLiteral("Изменений для резюме нет.")));
    QCOMPARE(server.requests.size(), 0);

    // A change with markup characters: shown literally, kept, and sent for the summary.
    {
      ModalAnswerer a(Answers{chooseFile(v2)});
      w.compareWithDialog();
    }
    QCOMPARE(p.status(), QStringLiteral("Сравнение: 1 изм. стр., +1 / −1 строк (v2.pdf)"));
    QVERIFY(chat(w)->toPlainText().contains(QStringLiteral("+ a < b & c")));
    QVERIFY(chat(w)->toPlainText().contains(QStringLiteral("− beta")));
    QVERIFY(QTest::qWaitFor([&] { return server.requests.size() == 1; }, 20000));
    QVERIFY(server.requests[0].body.contains("[стр. 1]\\n"));
    QVERIFY(server.requests[0].body.contains("- beta"));
    QVERIFY(QTest::qWaitFor([&] { return chat(w)->toPlainText().endsWith(QStringLiteral("Резюме изменений: ok")); }, 20000));

    // Failures: the message, then the summary that has nothing to sum up, and no AI call.
    struct Failure {
      QString file, status;
    };
    const Failure failures[] = {
        {path("missing.pdf"), QStringLiteral("Не удалось открыть: ") + path("missing.pdf")},
        {encrypted, QStringLiteral("Не удалось разобрать PDF для сравнения (защищён?)")},
        {garbage, QStringLiteral("Не удалось разобрать PDF для сравнения (защищён?)")},
    };
    for (const Failure& f : failures) {
      const QString before = chat(w)->toPlainText();
      {
        ModalAnswerer a(Answers{chooseFile(f.file, nullptr, true)});
        w.compareWithDialog();
      }
      QCOMPARE(p.status(), f.status);
      QCOMPARE(chat(w)->toPlainText(), before + QStringLiteral("\nTavi AI: Изменений для резюме нет."));
    }
    w.summarizeLastDiff();
    QVERIFY(chat(w)->toPlainText().endsWith(QStringLiteral("Изменений для резюме нет.")));
    QCOMPARE(server.requests.size(), 1);

    // The other version's extra page counts as changed, its text on the other side.
    QVERIFY(w.compareWith(longer));
    QCOMPARE(p.status(), QStringLiteral("Сравнение: 1 изм. стр., +1 / −0 строк (longer.pdf)"));
    QVERIFY(chat(w)->toPlainText().contains(QStringLiteral("+ extra page")));
    QCOMPARE(server.requests.size(), 1);
  }

  // Every compare keeps the diff it made, whichever presentation it ends in, and one that made
  // none leaves nothing to sum up: a summary never describes an earlier compare.
  void everyCompareKeepsItsDiff() {
    RecordingServer server;
    for (int i = 0; i < 3; ++i) server.queue({200, R"({"answer":"ok"})", {}});
    qputenv("QUORVEL_BACKEND", server.base().toUtf8());
    const std::function<void(MainWindow&, const QString&)> compares[] = {
        [](MainWindow& w, const QString& other) { w.compareWith(other); },
        [](MainWindow& w, const QString& other) {
          ModalAnswerer a(Answers{rejectDialog()});
          w.showVisualDiff(other);
        },
        [this](MainWindow& w, const QString& other) { w.compareToHtml(other, path("kept.html")); },
    };
    for (int i = 0; i < 3; ++i) {
      MainWindow w;
      w.openFile(v1);
      compares[i](w, v2);
      w.summarizeLastDiff();
      QVERIFY(QTest::qWaitFor([&] { return server.requests.size() == i + 1; }, 20000));
      QVERIFY2(server.requests[i].body.contains("- beta"), qPrintable(QString::number(i)));
      compares[i](w, encrypted);
      w.summarizeLastDiff();
      QVERIFY2(chat(w)->toPlainText().endsWith(QStringLiteral("Изменений для резюме нет.")), qPrintable(QString::number(i)));
      QCOMPARE(server.requests.size(), i + 1);
    }
  }

  void sideBySideDialog() {
    MainWindow w;
    w.openFile(v1);
    QString left, right;
    QStringList titles;
    QWidget* seen = nullptr;
    ModalAnswerer a(Answers{[&](QWidget* d) {
      seen = d;
      if (auto* splitter = d->findChild<QSplitter*>()) {
        left = qobject_cast<QTextBrowser*>(splitter->widget(0))->toPlainText();
        right = qobject_cast<QTextBrowser*>(splitter->widget(1))->toPlainText();
      }
      for (QLabel* l : d->findChildren<QLabel*>()) titles << ModalAnswerer::shownText(l);
      qobject_cast<QDialog*>(d)->reject();
    }});
    w.showVisualDiff(longer);
    QVERIFY(seen);
    QVERIFY2(right.contains(QStringLiteral("+ extra page")), qPrintable(left + "|" + right));
    QVERIFY(!left.contains(QStringLiteral("extra page")));
    QVERIFY(titles.contains(QStringLiteral("Текущий документ")) && titles.contains(QStringLiteral("longer.pdf")));
  }

  void htmlReport() {
    MainWindow w;
    WindowProbe p{w};
    w.openFile(v1);
    const QString out = path("report.html");
    QVERIFY(w.compareToHtml(v2, out));
    QCOMPARE(p.status(), QStringLiteral("Отчёт сравнения сохранён: ") + out);
    const QString html = readAll(out);
    QVERIFY(html.contains(QStringLiteral("a &lt; b &amp; c")));
    QVERIFY(html.contains(QStringLiteral("v2.pdf")));

    const QString missing = path("no-such-folder") + QStringLiteral("/r.html");
    QVERIFY(w.compareToHtml(v2, missing));
    QCOMPARE(p.status(), QStringLiteral("Не удалось записать: ") + missing);
    QVERIFY(!QFileInfo::exists(missing));
    QVERIFY(!w.compareToHtml(encrypted, out));
    QCOMPARE(p.status(), QStringLiteral("Не удалось разобрать PDF для сравнения"));
  }

  void extractionToDockAndCsv() {
    const QString doc = writeTestFile(dir, "people.pdf",
                                      linesPdf({{"Mail: a\"b@example.com", "Mail: c@example.org"}}));
    MainWindow w;
    WindowProbe p{w};
    w.openFile(doc);
    w.extractData();
    QCOMPARE(p.status(), QStringLiteral("Извлечено сущностей: 2"));
    QVERIFY(chat(w)->toPlainText().contains(QStringLiteral("c@example.org")));

    const QString csv = path("data.csv");
    w.extractToCsv(csv);
    QCOMPARE(p.status(), QStringLiteral("Данные сохранены в CSV: %1 (2)").arg(csv));
    const QString text = readAll(csv);
    QVERIFY2(text.startsWith(QStringLiteral("kind,value\nEmail,\"")), qPrintable(text));
    QCOMPARE(text.count(QLatin1Char('\n')), 3);
    QVERIFY(text.contains(QStringLiteral("Email,\"c@example.org\"\n")));

    const QString bad = path("no-such-folder") + QStringLiteral("/d.csv");
    w.extractToCsv(bad);
    QCOMPARE(p.status(), QStringLiteral("Не удалось записать: ") + bad);
  }

  void csvQuotesDoubled() {
    const QByteArray csv = quorvel::desktop::entityCsv(
        {{"Email", "a@b.ru"}, {"Сумма", "say \"1\", \"\"2\"\""}, {"ИНН", "line\nbreak, comma"}});
    QCOMPARE(csv, QByteArray("kind,value\nEmail,\"a@b.ru\"\n"
                             "Сумма,\"say \"\"1\"\", \"\"\"\"2\"\"\"\"\"\n"
                             "ИНН,\"line\nbreak, comma\"\n"));
    QCOMPARE(quorvel::desktop::entityCsv({}), QByteArray("kind,value\n"));
  }

  // Export then import, on a plain page and on one whose crop box starts at (100, 100): the
  // file speaks user space, the view gets its annotations back on the same content.
  void xfdfRoundTrip() {
    const QString plain = writeTestFile(dir, "plain.pdf", linesPdf({{"one"}, {"two"}}));
    const QString cropped =
        writeTestFile(dir, "cropped.pdf", linesPdf({{"one"}, {"two"}}, "/CropBox [100 100 512 692]"));
    for (const QString& doc : {plain, cropped}) {
      const double shift = doc == cropped ? 100 : 0;
      MainWindow w;
      WindowProbe p{w};
      w.openFile(doc);
      PdfView* view = w.currentView();
      QVERIFY(view);
      view->clearAnnotations();

      // Nothing to export: still a well-formed document, and a count of 0.
      const QString empty = QFileInfo(doc).absolutePath() + QStringLiteral("/empty-%1.xfdf").arg(shift);
      {
        ModalAnswerer a(Answers{chooseFile(empty)});
        w.exportAnnotationsXfdf();
      }
      QCOMPARE(p.status(), QStringLiteral("Аннотации экспортированы: %1 (0)").arg(empty));
      QXmlStreamReader xml(readAll(empty));
      while (!xml.atEnd()) xml.readNext();
      QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));

      annot::Annotation a;
      a.id = "box-1";
      a.page = 1;
      a.type = annot::AnnotType::Rectangle;
      a.x0 = 10;
      a.y0 = 20;
      a.x1 = 50;
      a.y1 = 60;
      a.text = "<note & more>";
      view->addAnnotation(a);
      const QString file = QFileInfo(doc).absolutePath() + QStringLiteral("/out-%1.xfdf").arg(shift);
      {
        ModalAnswerer m(Answers{chooseFile(file)});
        w.exportAnnotationsXfdf();
      }
      QCOMPARE(p.status(), QStringLiteral("Аннотации экспортированы: %1 (1)").arg(file));
      const std::vector<annot::Annotation> inFile = annot::from_xfdf(readAll(file).toStdString());
      QCOMPARE(inFile.size(), size_t(1));
      QCOMPARE(inFile[0].x0, 10 + shift);
      QCOMPARE(inFile[0].y1, 60 + shift);

      view->clearAnnotations();
      {
        ModalAnswerer m(Answers{chooseFile(file)});
        w.importAnnotationsXfdf();
      }
      QCOMPARE(p.status(), QStringLiteral("Импортировано аннотаций: 1"));
      QCOMPARE(view->annotations.size(), size_t(1));
      const annot::Annotation& back = view->annotations[0];
      QCOMPARE(back.id, std::string("box-1"));
      QCOMPARE(back.page, 1);
      QCOMPARE(back.x0, 10.0);
      QCOMPARE(back.y0, 20.0);
      QCOMPARE(back.x1, 50.0);
      QCOMPARE(back.y1, 60.0);
      QCOMPARE(back.text, a.text);

      // The same file again, over an edited copy: the annotation of that id is replaced, not
      // doubled, in the view and in the store.
      annot::Annotation edited = back;
      edited.text = "changed";
      view->updateAnnotation(edited);
      {
        ModalAnswerer m(Answers{chooseFile(file)});
        w.importAnnotationsXfdf();
      }
      QCOMPARE(p.status(), QStringLiteral("Импортировано аннотаций: 1, из них заменено: 1"));
      QCOMPARE(view->annotations.size(), size_t(1));
      QCOMPARE(view->annotations[0].id, std::string("box-1"));
      QCOMPARE(view->annotations[0].text, a.text);
      view->reloadAnnotations();
      QCOMPARE(view->annotations.size(), size_t(1));
      QCOMPARE(view->annotations[0].text, a.text);
    }
  }

  // Elements without a name get distinct ids each time; pages the document lacks and kinds the
  // model does not have are left out, and the status says how many; a comment is no element.
  void xfdfImportIdsAndPages() {
    const QString doc = writeTestFile(dir, "two.pdf", linesPdf({{"one"}, {"two"}}));
    const QString file = writeTestFile(
        dir, "hand.xfdf",
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xfdf xmlns=\"http://ns.adobe.com/xfdf/\"><annots>\n"
        "<square page=\"0\" rect=\"1,2,3,4\"/>\n<square page=\"99\" rect=\"1,2,3,4\"/>\n"
        "<square page=\"-1\" rect=\"1,2,3,4\"/>\n<highlight page=\"1\" rect=\"5,6,7,8\"/>\n"
        "<!-- <square page=\"0\" rect=\"50,50,550,750\" color=\"#FF0000\"/> -->\n"
        "<polygon page=\"0\" vertices=\"1,2;3,4;5,6\"/>\n<stamp page=\"1\" rect=\"1,2,3,4\"/>\n</annots></xfdf>\n");
    MainWindow w;
    WindowProbe p{w};
    w.openFile(doc);
    PdfView* view = w.currentView();
    view->clearAnnotations();
    for (int round = 0; round < 2; ++round) {
      ModalAnswerer m(Answers{chooseFile(file)});
      w.importAnnotationsXfdf();
      QCOMPARE(p.status(), QStringLiteral("Импортировано аннотаций: 2; пропущено (нет такой страницы): 2; "
                                          "пропущено (вид не поддерживается): 2"));
    }
    QCOMPARE(view->annotations.size(), size_t(4));
    std::set<std::string> ids;
    for (const annot::Annotation& a : view->annotations) {
      QVERIFY(a.page == 0 || a.page == 1);
      QCOMPARE(a.id.size(), size_t(36));
      ids.insert(a.id);
    }
    QCOMPARE(ids.size(), size_t(4));
  }
};

QTEST_MAIN(CompareExtractTest)
#include "test_mainwindow_compare_extract.moc"
