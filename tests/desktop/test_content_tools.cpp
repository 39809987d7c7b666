// The bookmark editor, the form designer and the content export: their request JSON, the
// rows the dialogs make, the export form by name, what the user sees on failure, and the real
// results of the backend stand-in read back through the engine, qpdf, unzip and xmllint.
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTableWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTreeWidget>
#include <QtTest>

#include <limits>

#include "FakeDocument.h"
#include "desktop/window/lang.h"
#include "desktop/tools/ContentTools.h"
#include "recording_server.h"
#include "stand_in_process.h"
#include "test_mainwindow_support.h"

using quorvel::desktop::MainWindow;
using namespace quorvel::desktop;
using namespace quorvel::test;
using Answers = std::deque<ModalAnswerer::Answer>;
using Reply = RecordingServer::Reply;

namespace {

QPushButton* button(QWidget* dialog, const QString& text) {
  for (QPushButton* b : dialog->findChildren<QPushButton*>())
    if (b->text() == text) return b;
  return nullptr;
}

void save(QWidget* dialog) { dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Save)->click(); }

QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QJsonObject jsonOf(const QByteArray& body) { return QJsonDocument::fromJson(body).object(); }

bool waitFor(const std::function<bool()>& done) {
  for (int i = 0; i < 3000 && !done(); ++i) QTest::qWait(10);
  return done();
}


QByteArray run(const QString& program, const QStringList& args, int* code = nullptr, const QByteArray& input = {}) {
  QProcess p;
  p.start(program, args);
  if (!input.isEmpty()) p.write(input);
  p.closeWriteChannel();
  p.waitForFinished(-1);
  if (code) *code = p.exitCode();
  return p.readAllStandardOutput();
}

quorvel::TextRun textRun(const std::string& text) {
  quorvel::TextRun r;
  r.text = text;
  return r;
}

// Titles and pages of an outline as one line each, indented by depth.
void flatten(const std::vector<quorvel::OutlineItem>& items, int depth, QStringList& out) {
  for (const auto& i : items) {
    out << QStringLiteral("%1%2 @%3").arg(QString(depth * 2, QLatin1Char(' ')), QString::fromStdString(i.title)).arg(i.page);
    flatten(i.children, depth + 1, out);
  }
}

}  // namespace

class ContentToolsTest : public QObject {
  Q_OBJECT

  TempDir dir;
  QString doc;

  QString path(const char* name) const { return QString::fromStdString(dir.file(name)); }

  void openWindow(MainWindow& w, const QString& base) {
    qputenv("QUORVEL_BACKEND", base.toUtf8());
    w.openFile(doc);
    QVERIFY(w.currentView());
  }

 private slots:
  void initTestCase() {
    QCoreApplication::setOrganizationName(QStringLiteral("Quorvel"));
    QCoreApplication::setApplicationName(QStringLiteral("PDF Dodiru Quorvel"));
    doc = writeTestFile(dir, "doc.pdf", text_pdf({"first page", "second page", "third page"}));
  }

  void init() { g_lang = 1; }

  // --- bookmark tree ----------------------------------------------------------------------

  void bookmarkTreeAsJson() {
    QTreeWidget tree;
    tree.setColumnCount(2);
    QCOMPARE(bookmarksJson(tree), QJsonArray());

    loadBookmarks(tree, {{"Глава 1", 0, {{"1.1", 2, {{"1.1.1", -1, {}}}}}}, {"Без цели", -1, {}}});
    QVERIFY(tree.topLevelItem(0)->isExpanded() && tree.topLevelItem(0)->child(0)->isExpanded());
    QCOMPARE(tree.topLevelItem(1)->text(1), QStringLiteral("0"));
    tree.topLevelItem(1)->setText(0, QStringLiteral("  spaced  "));
    const QJsonArray expected = QJsonDocument::fromJson(R"([
      {"title":"Глава 1","page":0,"children":[{"title":"1.1","page":2,"children":[{"title":"1.1.1","page":-1}]}]},
      {"title":"  spaced  ","page":-1}])").array();
    QCOMPARE(bookmarksJson(tree), expected);

    // Page cells: not a whole number or beyond 32 bits reads as 0; the sum is taken in 64 bits.
    const std::pair<const char*, qint64> cells[] = {{"0", -1}, {"abc", -1}, {"3", 2}, {"3.5", -1}, {"-4", -5},
                                                    {"99999999999", -1}, {"-2147483648", -2147483649LL}};
    for (const auto& [text, page] : cells) {
      tree.topLevelItem(1)->setText(1, QString::fromLatin1(text));
      QCOMPARE(bookmarksJson(tree).at(1).toObject().value("page").toInteger(), page);
    }
  }

  void bookmarkButtonsAddRows() {
    QTreeWidget tree;
    tree.setColumnCount(2);
    // "+ Child" without a current row adds at the top level; a page of 0 shows 1.
    QTreeWidgetItem* top = addBookmarkRow(tree, 0, true);
    QCOMPARE(tree.topLevelItemCount(), 1);
    QCOMPARE(top->text(0), QStringLiteral("New bookmark"));
    QCOMPARE(top->text(1), QStringLiteral("1"));
    QVERIFY(top->flags() & Qt::ItemIsEditable);
    addBookmarkRow(tree, 4, false);
    tree.setCurrentItem(top);
    QTreeWidgetItem* kid = addBookmarkRow(tree, 7, true);
    QCOMPARE(kid->parent(), top);
    QCOMPARE(top->indexOfChild(kid), 0);
    QVERIFY(top->isExpanded());
    QCOMPARE(bookmarksJson(tree), QJsonDocument::fromJson(R"([
      {"title":"New bookmark","page":0,"children":[{"title":"New bookmark","page":6}]},
      {"title":"New bookmark","page":3}])").array());
  }

  // The dialog as the user drives it: an outline-less document gives an empty tree; the rows
  // added, edited and deleted are what goes out, with the document base64-encoded.
  void bookmarkDialogSendsTheTree() {
    RecordingServer server;
    server.queue({200, "not a pdf", {}});
    MainWindow w;
    openWindow(w, server.base());
    int loaded = -1;
    ModalAnswerer answers(Answers{
        [&loaded](QWidget* d) {
          auto* tree = d->findChild<QTreeWidget*>();
          loaded = tree->topLevelItemCount();
          button(d, QStringLiteral("+ Bookmark"))->click();
          button(d, QStringLiteral("+ Bookmark"))->click();
          tree->topLevelItem(0)->setText(0, QStringLiteral("Intro & <more>"));
          tree->setCurrentItem(tree->topLevelItem(0));
          button(d, QStringLiteral("+ Child"))->click();
          tree->topLevelItem(0)->child(0)->setText(1, QStringLiteral("3"));
          tree->setCurrentItem(tree->topLevelItem(1));
          button(d, QStringLiteral("Delete"))->click();
          save(d);
        },
        chooseFile(path("bm-out.pdf"))});
    w.editBookmarksDialog();
    QCOMPARE(loaded, 0);
    QVERIFY(waitFor([&] { return !server.requests.isEmpty() && w.statusBar()->currentMessage().startsWith("Failed"); }));
    const auto& req = server.requests.at(0);
    QCOMPARE(req.requestLine(), QByteArray("POST /pdf/set-bookmarks HTTP/1.1"));
    QCOMPARE(req.header("Content-Type"), QByteArray("application/json"));
    const QJsonObject body = jsonOf(req.body);
    QCOMPARE(QByteArray::fromBase64(body.value("pdf_b64").toString().toLatin1()).left(5), QByteArray("%PDF-"));
    QCOMPARE(body.value("bookmarks").toArray(), QJsonDocument::fromJson(R"([
      {"title":"Intro & <more>","page":0,"children":[{"title":"New bookmark","page":2}]}])").array());
    // A success status without a PDF is a backend failure; nothing is written.
    QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("Failed to write bookmarks (backend): not a pdf"));
    QVERIFY(!QFile::exists(path("bm-out.pdf")));
  }

  // --- form rows --------------------------------------------------------------------------

  void formRowsOnA4() {
    const FormRow text = newFormRow(false, 1, 0, 0, 842);
    QCOMPARE(text.name, QStringLiteral("field1"));
    QCOMPARE(text.type, QStringLiteral("text"));
    QCOMPARE(text.page, QStringLiteral("1"));
    QCOMPARE(text.corner0, QStringLiteral("72,722"));
    QCOMPARE(text.corner1, QStringLiteral("292,742"));
    const FormRow check = newFormRow(true, 2, 1, 4, 842);
    QCOMPARE(check.name, QStringLiteral("check2"));
    QCOMPARE(check.type, QStringLiteral("checkbox"));
    QCOMPARE(check.page, QStringLiteral("5"));
    QCOMPARE(check.corner0, QStringLiteral("72,692"));
    QCOMPARE(check.corner1, QStringLiteral("88,708"));
    // Shortest form that reads back exactly.
    QCOMPARE(newFormRow(false, 1, 0, 0, 792.5).corner0, QStringLiteral("72,672.5"));
    QCOMPARE(cornerText(0.1, 1e21), QStringLiteral("0.1,1e+21"));
  }

  void formRowValidity_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("c0");
    QTest::addColumn<QString>("c1");
    QTest::addColumn<QString>("json");  // empty: the row is left out
    QTest::newRow("typical") << "f" << "2" << "72,722" << "292,742"
                             << R"({"type":"text","name":"f","page":1,"rect":[72,722,292,742]})";
    QTest::newRow("name kept as typed") << " f " << "1" << "1,2" << "3,4"
                                        << R"({"type":"text","name":" f ","page":0,"rect":[1,2,3,4]})";
    QTest::newRow("page 0 and words send -1") << "f" << "x" << "1,2" << "3,4"
                                              << R"({"type":"text","name":"f","page":-1,"rect":[1,2,3,4]})";
    QTest::newRow("page at the int limit") << "f" << "-2147483648" << "1,2" << "3,4"
                                           << R"({"type":"text","name":"f","page":-2147483649,"rect":[1,2,3,4]})";
    QTest::newRow("parts that are no number are 0") << "f" << "1" << "abc,5" << "7," 
                                                    << R"({"type":"text","name":"f","page":0,"rect":[0,5,7,0]})";
    QTest::newRow("empty name") << "" << "1" << "1,2" << "3,4" << "";
    QTest::newRow("semicolon") << "f" << "1" << "1;2" << "3,4" << "";
    QTest::newRow("three numbers") << "f" << "1" << "1,2" << "3,4,5" << "";
    QTest::newRow("inf") << "f" << "1" << "inf,2" << "3,4" << "";
    QTest::newRow("nan") << "f" << "1" << "1,2" << "3,nan" << "";
    QTest::newRow("out of range") << "f" << "1" << "1e999,2" << "3,4" << "";
  }
  void formRowValidity() {
    QFETCH(QString, name);
    QFETCH(QString, page);
    QFETCH(QString, c0);
    QFETCH(QString, c1);
    QFETCH(QString, json);
    const auto field = formFieldJson({name, QStringLiteral("text"), page, c0, c1});
    if (json.isEmpty()) {
      QVERIFY(!field);
    } else {
      QVERIFY(field);
      QCOMPARE(*field, QJsonDocument::fromJson(json.toUtf8()).object());
    }
  }

  // The designer's counter is never lowered by a delete, while the position follows the row
  // index; invalid rows are dropped without a word.
  void formDesignerSendsValidRows() {
    RecordingServer server;
    server.queue({500, "broken", {}});
    MainWindow w;
    openWindow(w, server.base());
    QString note;
    ModalAnswerer answers(Answers{
        [&note](QWidget* d) {
          note = d->findChild<QLabel*>(QStringLiteral("muted"))->text();
          auto* table = d->findChild<QTableWidget*>();
          button(d, QStringLiteral("+ Text field"))->click();
          button(d, QStringLiteral("+ Checkbox"))->click();
          button(d, QStringLiteral("+ Text field"))->click();
          table->setCurrentCell(2, 0);
          button(d, QStringLiteral("Delete"))->click();
          button(d, QStringLiteral("+ Checkbox"))->click();  // check4 at the place of row 2
          table->setCurrentCell(-1, -1);
          button(d, QStringLiteral("Delete"))->click();  // nothing without a current row
          QCOMPARE(table->rowCount(), 3);
          QVERIFY(!(table->item(0, 1)->flags() & Qt::ItemIsEditable));
          table->item(1, 3)->setText(QStringLiteral("72;692"));
          save(d);
        },
        chooseFile(path("form-out.pdf"))});
    w.formDesignerDialog();
    QVERIFY(waitFor([&] { return w.statusBar()->currentMessage().startsWith("Failed"); }));
    const QJsonObject body = jsonOf(server.requests.at(0).body);
    QCOMPARE(server.requests.at(0).requestLine(), QByteArray("POST /pdf/add-form-fields HTTP/1.1"));
    const double h = w.currentView()->doc->page_info(0).height;
    QCOMPARE(body.value("fields").toArray(),
             (QJsonArray{QJsonObject{{"type", "text"}, {"name", "field1"}, {"page", 0},
                                     {"rect", QJsonArray{72, h - 120, 292, h - 100}}},
                         QJsonObject{{"type", "checkbox"}, {"name", "check4"}, {"page", 0},
                                     {"rect", QJsonArray{72, h - 180, 88, h - 164}}}}));
    QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("Failed to create fields (backend): broken"));
    QVERIFY(note.startsWith(QStringLiteral("Coordinates in PDF points (origin bottom-left). Page: ")));
  }

  void formDesignerWithoutValidRowsAsksNothing() {
    RecordingServer server;
    MainWindow w;
    openWindow(w, server.base());
    ModalAnswerer answers(Answers{[](QWidget* d) {
      button(d, QStringLiteral("+ Checkbox"))->click();
      d->findChild<QTableWidget*>()->item(0, 0)->setText(QString());
      save(d);
    }});
    w.formDesignerDialog();
    QCOMPARE(answers.seen.size(), 1);  // no file dialog
    QVERIFY(server.requests.isEmpty());
  }

  // --- content export ---------------------------------------------------------------------

  void exportFormBySuffix_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("form");
    QTest::addColumn<QString>("title");
    QTest::newRow("docx in capitals") << "/x/OUT.DOCX" << int(ExportForm::Docx) << "OUT";
    QTest::newRow("dotted name") << "/x/q3.report.docx" << int(ExportForm::Docx) << "q3.report";
    QTest::newRow("doc") << "a.doc" << int(ExportForm::WordHtml) << "a";
    QTest::newRow("html") << "a.html" << int(ExportForm::Html) << "a";
    QTest::newRow("htm") << "a.HTM" << int(ExportForm::Html) << "a";
    QTest::newRow("csv") << "a.csv" << int(ExportForm::Text) << "a";
    QTest::newRow("no suffix") << "/x/report" << int(ExportForm::Text) << "report";
  }
  void exportFormBySuffix() {
    QFETCH(QString, path);
    QFETCH(int, form);
    QFETCH(QString, title);
    QCOMPARE(int(exportFormFor(path)), form);
    QCOMPARE(docxTitle(path), title);
  }

  void docxPagesKeepPositionsAndInnerSpace() {
    quorvel::test::FakeDocument none(0);
    QCOMPARE(docxPages(none), QJsonArray());
    quorvel::test::FakeDocument three(3);
    three.pages[0].text.runs = {textRun("  Hello  world \n"), textRun(" \t ")};
    three.pages[2].text.runs = {textRun("line one\nline two"), textRun("end")};
    QCOMPARE(docxPages(three), (QJsonArray{QJsonArray{"Hello  world"}, QJsonArray{},
                                           QJsonArray{"line one\nline two", "end"}}));
    const QByteArray body = docxRequestBody(QStringLiteral("t"), docxPages(none));
    QVERIFY(body.contains('\n'));  // indented form
    QCOMPARE(jsonOf(body), (QJsonObject{{"title", "t"}, {"pages", QJsonArray{}}}));
  }

  // The dialog picks the worker by the name as typed; failures say what went wrong.
  void exportDialogAndFailures() {
    RecordingServer server;
    MainWindow w;
    openWindow(w, server.base());
    {
      ModalAnswerer answers(Answers{chooseFile(path("Q3.Report.DOCX"))});
      w.exportContentDialog();
    }
    QVERIFY(waitFor([&] { return !server.requests.isEmpty(); }));
    QCOMPARE(server.requests.at(0).requestLine(), QByteArray("POST /pdf/to-docx HTTP/1.1"));
    const QJsonObject body = jsonOf(server.requests.at(0).body);
    QCOMPARE(body.value("title").toString(), QStringLiteral("Q3.Report"));
    QCOMPARE(body.value("pages").toArray().size(), 3);

    {
      ModalAnswerer answers(Answers{chooseFile(path("w.doc"))});
      w.exportContentDialog();
    }
    QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("Exported to Word (.doc): ") + path("w.doc"));
    QVERIFY(readAll(path("w.doc")).contains("<html"));
    w.exportHtmlTo(path("p.html"), false);
    QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("Exported to HTML: ") + path("p.html"));
    w.exportTextTo(path("t.txt"));
    QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("Exported to text: ") + path("t.txt"));
    QVERIFY(readAll(path("t.txt")).contains("second page"));

    // A folder as the path.
    QDir(QString::fromStdString(dir.path())).mkpath(QStringLiteral("folder.txt"));
    w.exportTextTo(path("folder.txt"));
    QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("Could not write: ") + path("folder.txt"));

    // The backend down: the failure with its reason, nothing written.
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    const QString dead = QStringLiteral("http://127.0.0.1:%1").arg(probe.serverPort());
    probe.close();
    qputenv("QUORVEL_BACKEND", dead.toUtf8());
    w.exportDocxTo(path("down.docx"));
    QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("Exporting to Word (.docx)…"));
    QVERIFY(waitFor([&] { return w.statusBar()->currentMessage().startsWith(".docx"); }));
    QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral(".docx export failed (backend): Connection refused"));
    QVERIFY(!QFile::exists(path("down.docx")));
  }

  // A reply without a body still says why: the backend down, or its bare error status.
  void failuresWithoutABodySayWhy_data() {
    QTest::addColumn<QString>("tool");
    QTest::addColumn<int>("status");  // 0: nobody listens
    QTest::addColumn<QString>("shown");
    QTest::newRow("docx, down") << "docx" << 0 << ".docx export failed (backend): Connection refused";
    QTest::newRow("docx, 502") << "docx" << 502 << ".docx export failed (backend): HTTP 502 Scripted";
    QTest::newRow("bookmarks, down") << "bookmarks" << 0 << "Failed to write bookmarks (backend): Connection refused";
    QTest::newRow("bookmarks, 502") << "bookmarks" << 502 << "Failed to write bookmarks (backend): HTTP 502 Scripted";
    QTest::newRow("form, down") << "form" << 0 << "Failed to create fields (backend): Connection refused";
    QTest::newRow("form, 200 and empty") << "form" << 200 << "Failed to create fields (backend): an empty answer";
  }
  void failuresWithoutABodySayWhy() {
    QFETCH(QString, tool);
    QFETCH(int, status);
    RecordingServer server;
    server.queue({status, {}, {}});
    MainWindow w;
    openWindow(w, status ? server.base() : QStringLiteral("http://127.0.0.1:9"));
    const QString out = path("no-body-out");
    if (tool == QLatin1String("docx")) {
      w.exportDocxTo(out);
    } else {
      const QString add = tool == QLatin1String("form") ? QStringLiteral("+ Text field") : QStringLiteral("+ Bookmark");
      ModalAnswerer answers(Answers{[add](QWidget* d) {
                                      button(d, add)->click();
                                      save(d);
                                    },
                                    chooseFile(out)});
      if (tool == QLatin1String("form"))
        w.formDesignerDialog();
      else
        w.editBookmarksDialog();
    }
    QVERIFY(waitFor([&] { return w.statusBar()->currentMessage().contains(QStringLiteral("(backend)")); }));
    QTEST(w.statusBar()->currentMessage(), "shown");
    QVERIFY(!QFile::exists(out));
  }

  // --- real results through the stand-in ----------------------------------------------------

  void standInWritesTheOutline() {
    StandInProcess standIn;
    QVERIFY(standIn.start());
    MainWindow w;
    openWindow(w, standIn.base);
    ModalAnswerer answers(Answers{
        [](QWidget* d) {
          auto* tree = d->findChild<QTreeWidget*>();
          button(d, QStringLiteral("+ Bookmark"))->click();
          tree->topLevelItem(0)->setText(0, QStringLiteral("Введение & <итоги>"));
          tree->setCurrentItem(tree->topLevelItem(0));
          button(d, QStringLiteral("+ Child"))->click();
          tree->topLevelItem(0)->child(0)->setText(1, QStringLiteral("3"));
          tree->setCurrentItem(tree->topLevelItem(0)->child(0));
          button(d, QStringLiteral("+ Child"))->click();
          tree->topLevelItem(0)->child(0)->child(0)->setText(1, QStringLiteral("abc"));
          button(d, QStringLiteral("+ Bookmark"))->click();
          tree->topLevelItem(1)->setText(1, QStringLiteral("99"));
          save(d);
        },
        chooseFile(path("outlined.pdf"))});
    w.editBookmarksDialog();
    QVERIFY(waitFor([&] { return w.statusBar()->currentMessage().startsWith("Bookmarks saved"); }));
    const QByteArray bytes = readAll(path("outlined.pdf"));
    auto opened = quorvel::make_engine(quorvel::EngineKind::Pdfium)
                      ->open(std::as_bytes(std::span(bytes.constData(), size_t(bytes.size()))), "");
    QVERIFY(opened);
    QStringList outline;
    flatten(opened->outline(), 0, outline);
    QCOMPARE(outline, (QStringList{"Введение & <итоги> @0", "  New bookmark @2", "    New bookmark @-1",
                                   "New bookmark @-1"}));
    // The open document is not changed.
    QVERIFY(w.currentView()->doc->outline().empty());
  }

  void standInAddsFormFieldsAndOpensThem() {
    StandInProcess standIn;
    QVERIFY(standIn.start());
    MainWindow w;
    openWindow(w, standIn.base);
    ModalAnswerer answers(Answers{[](QWidget* d) {
                                    button(d, QStringLiteral("+ Text field"))->click();
                                    button(d, QStringLiteral("+ Checkbox"))->click();
                                    save(d);
                                  },
                                  chooseFile(path("form.pdf"))});
    w.formDesignerDialog();
    auto* tabs = WindowProbe{w}.tabs();
    QVERIFY(waitFor([&] { return tabs->count() == 2; }));
    QVERIFY(WindowProbe{w}.view(1)->doc->has_form());
    const QJsonObject json =
        QJsonDocument::fromJson(run("qpdf", {"--json", "--json-key=acroform", path("form.pdf")})).object();
    QStringList fields;
    for (const QJsonValue f : json.value("acroform").toObject().value("fields").toArray())
      fields << f.toObject().value("fullname").toString() + "/" + f.toObject().value("fieldtype").toString();
    QCOMPARE(fields, (QStringList{"field1//Tx", "check2//Btn"}));
  }

  void standInWritesTheDocx() {
    StandInProcess standIn;
    QVERIFY(standIn.start());
    MainWindow w;
    qputenv("QUORVEL_BACKEND", standIn.base.toUtf8());
    w.openFile(writeTestFile(dir, "special.pdf", text_pdf({"alpha & <beta>", "", "gamma \"delta\""})));
    const QString out = path("out.docx");
    w.exportDocxTo(out);
    QVERIFY(waitFor([&] { return w.statusBar()->currentMessage().startsWith("Exported"); }));
    QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("Exported to Word (.docx): ") + out);
    QVERIFY(readAll(out).startsWith("PK\x03\x04"));
    const QByteArray listing = run("unzip", {"-Z1", out});
    QCOMPARE(listing.split('\n').mid(0, 3),
             (QList<QByteArray>{"[Content_Types].xml", "_rels/.rels", "word/document.xml"}));
    for (const char* part : {"\\[Content_Types\\].xml", "_rels/.rels", "word/document.xml"}) {
      int code = -1;
      run("xmllint", {"--noout", "-"}, &code, run("unzip", {"-p", out, QString::fromLatin1(part)}));
      QVERIFY2(code == 0, part);
    }
    const QByteArray xml = run("unzip", {"-p", out, "word/document.xml"});
    const qsizetype title = xml.indexOf(">out<"), a = xml.indexOf("alpha &amp; &lt;beta&gt;"),
                    g = xml.indexOf("gamma &quot;delta&quot;");
    QVERIFY(title > 0 && a > title && g > a);
    QCOMPARE(xml.count("w:type=\"page\""), 2);
  }
};

QTEST_MAIN(ContentToolsTest)
#include "test_content_tools.moc"
