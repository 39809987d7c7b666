// The viewer's annotation list and the store behind it: what reaches the database, what comes
// back after a restart, what happens when the database refuses a write, and the lookups that
// must stay safe for annotations on pages the document does not have.
#include <QFile>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include "common/fixtures.h"
#include "desktop/stores/AnnotationStore.h"
#include "desktop/viewer/PdfView.h"
#include "support_db.h"
#include "test_pdfview_tools_input.h"

using quorvel::PageInfo;
using quorvel::annot::Annotation;
using quorvel::annot::AnnotType;
using quorvel::annot::Point;
using quorvel::desktop::AnnotationStore;
using quorvel::desktop::PdfView;
using quorvel::test::ToolDocument;

namespace {

Annotation boxed(const std::string& id, int page, AnnotType type, double x0, double y0, double x1,
                 double y1) {
  Annotation a;
  a.id = id;
  a.page = page;
  a.type = type;
  a.x0 = x0;
  a.y0 = y0;
  a.x1 = x1;
  a.y1 = y1;
  return a;
}

Annotation rect(const std::string& id, int page, double x0 = 100, double y0 = 100,
                double x1 = 150, double y1 = 150) {
  return boxed(id, page, AnnotType::Rectangle, x0, y0, x1, y1);
}

Annotation path(const std::string& id, int page, AnnotType type, std::vector<Point> points) {
  Annotation a;
  a.id = id;
  a.page = page;
  a.type = type;
  a.points = std::move(points);
  return a;
}

QStringList ids(const std::vector<Annotation>& list) {
  QStringList out;
  for (const Annotation& a : list) out << QString::fromStdString(a.id);
  return out;
}

const Annotation* byId(const std::vector<Annotation>& list, const std::string& id) {
  for (const Annotation& a : list)
    if (a.id == id) return &a;
  return nullptr;
}

// A shown view at scale 1 over a fake document of 600 x 800 point pages.
void show(PdfView& view, int pages, QSize size = {700, 900}) {
  view.resize(size);
  view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  view.show();
  QVERIFY(QTest::qWaitForWindowExposed(&view));
  view.setDocument(std::make_unique<ToolDocument>(pages));
}

// A database that SQLite itself treats as read-only: its header names a newer write format.
// (File permissions would not do: the tests may run as root.)
bool makeReadOnly(const QString& dbPath) {
  {
    quorvel::test::SqlFile f(dbPath);
    if (!f.isOpen() || !f.exec(QStringLiteral("PRAGMA journal_mode=DELETE"))) return false;
  }
  QFile::remove(dbPath + QStringLiteral("-wal"));
  QFile::remove(dbPath + QStringLiteral("-shm"));
  QFile file(dbPath);
  if (!file.open(QIODevice::ReadWrite) || !file.seek(18)) return false;
  return file.write("\x03", 1) == 1;
}

std::unique_ptr<quorvel::IDocument> realPdf(const std::vector<std::string>& texts) {
  static const std::unique_ptr<quorvel::IPdfEngine> engine =
      quorvel::make_engine(quorvel::EngineKind::Pdfium);
  static std::vector<std::string> keep;  // the engine may read the bytes lazily
  keep.push_back(quorvel::test::text_pdf(texts));
  return engine->open(quorvel::test::as_bytes(keep.back()), "");
}

}  // namespace

Q_DECLARE_METATYPE(Annotation)

class PdfViewAnnotTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir;
  QString db;

 private slots:
  void init() {
    QVERIFY(dir.isValid());
    static int n = 0;
    db = dir.filePath(QStringLiteral("annot-%1.db").arg(++n));
  }

  void listAndStoreStayInStep() {
    AnnotationStore store(db);
    PdfView view;
    show(view, 2);
    view.setStore(&store, QStringLiteral("doc"));
    QSignalSpy changed(&view, &PdfView::annotationsChanged);
    QSignalSpy failed(&view, &PdfView::annotationStoreFailed);

    // A second entry with the same id is kept in the list; the store has one row for it.
    view.addAnnotation(rect("a", 0));
    view.addAnnotation(rect("a", 1));
    QCOMPARE(ids(view.annotations), QStringList({"a", "a"}));
    QCOMPARE(store.load(QStringLiteral("doc")).size(), size_t(1));
    QCOMPARE(store.load(QStringLiteral("doc"))[0].page, 1);

    Annotation edited = rect("a", 0, 10, 20, 30, 40);
    edited.text = "правка";
    view.updateAnnotation(edited);
    QCOMPARE(view.annotations[0].x0, 10.0);
    QCOMPARE(view.annotations[1].page, 1);  // only the first match changes
    QCOMPARE(store.load(QStringLiteral("doc"))[0].text, std::string("правка"));
    QCOMPARE(changed.count(), 3);

    // Ids the list does not hold change nothing, not even a row the store has.
    QVERIFY(store.add(QStringLiteral("doc"), rect("planted", 0)));
    view.updateAnnotation(rect("planted", 0, 1, 1, 2, 2));
    view.removeAnnotation("planted");
    QCOMPARE(changed.count(), 3);
    QCOMPARE(ids(store.load(QStringLiteral("doc"))), QStringList({"a", "planted"}));
    QCOMPARE(store.load(QStringLiteral("doc"))[1].x1, 150.0);

    // Removing by the selection itself: every entry goes, the row goes, the selection empties.
    view.selectedId = "a";
    view.removeAnnotation(view.selectedId);
    QVERIFY(view.annotations.empty());
    QVERIFY(view.selectedId.empty());
    QCOMPARE(ids(store.load(QStringLiteral("doc"))), QStringList({"planted"}));
    QCOMPARE(changed.count(), 4);

    // Clearing removes only what the list holds, and always tells.
    view.addAnnotation(rect("b", 0));
    view.selectedId = "b";
    view.clearAnnotations();
    view.clearAnnotations();
    QVERIFY(view.annotations.empty());
    QVERIFY(view.selectedId.empty());
    QCOMPARE(ids(store.load(QStringLiteral("doc"))), QStringList({"planted"}));
    QCOMPARE(changed.count(), 7);
    QCOMPARE(failed.count(), 0);
  }

  void unboundViewKeepsChangesInMemory_data() {
    QTest::addColumn<bool>("withStore");
    QTest::addColumn<QString>("key");
    QTest::newRow("empty key") << true << QString();
    QTest::newRow("no store") << false << QStringLiteral("doc");
  }
  void unboundViewKeepsChangesInMemory() {
    QFETCH(bool, withStore);
    QFETCH(QString, key);
    AnnotationStore store(db);
    QVERIFY(store.add(QStringLiteral("doc"), rect("old", 0)));
    QVERIFY(store.add(QString(), rect("old", 0)));
    PdfView view;
    show(view, 1);
    view.addAnnotation(rect("stale", 0));
    QSignalSpy changed(&view, &PdfView::annotationsChanged);
    QSignalSpy failed(&view, &PdfView::annotationStoreFailed);
    view.setStore(withStore ? &store : nullptr, key);
    QVERIFY(view.annotations.empty());
    QCOMPARE(changed.count(), 1);

    view.addAnnotation(rect("new", 0));
    view.removeAnnotation("new");
    view.addAnnotation(rect("kept", 0));
    QCOMPARE(ids(view.annotations), QStringList({"kept"}));
    QCOMPARE(ids(store.load(QStringLiteral("doc"))), QStringList({"old"}));
    QCOMPARE(ids(store.load(QString())), QStringList({"old"}));
    QCOMPARE(failed.count(), 0);
  }

  // The store keeps the pages of the file; after page edits the view maps between the two.
  void storeRowsKeepTheFilesPages() {
    AnnotationStore store(db);
    QVERIFY(store.add(QStringLiteral("doc"), rect("on0", 0)));
    QVERIFY(store.add(QStringLiteral("doc"), rect("on2", 2)));
    PdfView view;
    show(view, 3);
    view.setStore(&store, QStringLiteral("doc"));
    QSignalSpy failed(&view, &PdfView::annotationStoreFailed);

    view.deletePage(0);
    view.reloadAnnotations();
    QCOMPARE(ids(view.annotations), QStringList({"on2"}));  // the deleted page's row is not shown
    QCOMPARE(view.annotations[0].page, 1);

    // Written under the file's page, and back on the view's page after a reload.
    view.addAnnotation(rect("drawn", 0));
    Annotation moved = rect("on2", 1, 5, 5, 50, 50);
    view.updateAnnotation(moved);
    std::vector<Annotation> rows = store.load(QStringLiteral("doc"));
    QCOMPARE(byId(rows, "drawn")->page, 1);
    QCOMPARE(byId(rows, "on2")->page, 2);
    QCOMPARE(byId(rows, "on2")->x0, 5.0);
    QCOMPARE(byId(rows, "on0")->page, 0);
    view.reloadAnnotations();
    QCOMPARE(byId(view.annotations, "drawn")->page, 0);

    // A page the file does not have: the annotation lives in the view only, and that is no
    // failure.
    QVERIFY(view.insertBlankPage(0, 600, 800));
    view.addAnnotation(rect("onNew", 0));
    QVERIFY(!byId(store.load(QStringLiteral("doc")), "onNew"));
    QVERIFY(byId(view.annotations, "onNew"));
    QCOMPARE(failed.count(), 0);
  }

  void survivesRestart() {
    Annotation drawn;
    {
      auto store = std::make_unique<AnnotationStore>(db);
      auto view = std::make_unique<PdfView>();
      show(*view, 2);
      view->setStore(store.get(), QStringLiteral("doc"));
      view->toolMode = PdfView::Ink;
      quorvel::test::drag(*view, 1, {{100, 100}, {120, 130}, {140, 125}});
      view->toolMode = PdfView::Highlight;
      quorvel::test::drag(*view, 0, {{72, 700}, {300, 712}});
      QCOMPARE(view->annotations.size(), size_t(2));
      drawn = view->annotations[1];
      view.reset();
      store.reset();
    }
    AnnotationStore store(db);
    PdfView view;
    show(view, 2);
    view.setStore(&store, QStringLiteral("doc"));
    QCOMPARE(view.annotations.size(), size_t(2));
    const Annotation* back = byId(view.annotations, drawn.id);
    QVERIFY(back);
    QCOMPARE(back->page, 0);
    QCOMPARE(back->type, AnnotType::Highlight);
    QCOMPARE(back->color, drawn.color);
    QCOMPARE(back->x0, 72.0);
    QCOMPARE(back->y1, 712.0);
    const Annotation& ink = view.annotations[0].type == AnnotType::Ink ? view.annotations[0]
                                                                       : view.annotations[1];
    QCOMPARE(ink.page, 1);
    QCOMPARE(ink.points.size(), size_t(3));
    QCOMPARE(ink.points[2].x, 140.0);
  }

  void refusedWritesAreReportedAndSavedCopiesKeepTheAnnotation() {
    {
      AnnotationStore seed(db);
      QVERIFY(seed.add(QStringLiteral("doc"), rect("stored", 0)));
    }
    QVERIFY(makeReadOnly(db));
    AnnotationStore store(db);
    PdfView view;
    view.resize(700, 900);
    view.setDocument(realPdf({"Hello"}));
    view.setStore(&store, QStringLiteral("doc"));
    QCOMPARE(ids(view.annotations), QStringList({"stored"}));
    QSignalSpy changed(&view, &PdfView::annotationsChanged);
    QSignalSpy failed(&view, &PdfView::annotationStoreFailed);

    view.addAnnotation(boxed("hl", 0, AnnotType::Highlight, 72, 700, 200, 712));
    QCOMPARE(failed.count(), 1);
    QVERIFY(!failed[0][0].toString().isEmpty());
    QCOMPARE(changed.count(), 1);
    QCOMPARE(ids(view.annotations), QStringList({"stored", "hl"}));

    const QString copy = dir.filePath(QStringLiteral("copy.pdf"));
    QVERIFY(view.saveAs(copy));
    const std::string bytes = quorvel::test::read_file(copy.toStdString());
    QVERIFY(QRegularExpression(QStringLiteral("/Subtype\\s*/Highlight"))
                .match(QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size())))
                .hasMatch());

    // Edits, removals and clearing that the store refuses are told as well.
    Annotation edited = view.annotations[1];
    edited.x1 = 250;
    view.updateAnnotation(edited);
    view.removeAnnotation("stored");
    view.clearAnnotations();
    QCOMPARE(failed.count(), 4);
    QVERIFY(view.annotations.empty());
    view.reloadAnnotations();
    QCOMPARE(ids(view.annotations), QStringList({"stored"}));  // what the store really holds
  }

  void eraseTakesTheTopmostHitOnly() {
    PdfView view;
    show(view, 2);
    view.addAnnotation(rect("under", 0));
    view.addAnnotation(rect("over", 0, 120, 120, 200, 200));
    view.addAnnotation(rect("otherPage", 1));
    QSignalSpy changed(&view, &PdfView::annotationsChanged);

    view.eraseAt(view.pagePointToContent(0, {130, 130}));
    QCOMPARE(ids(view.annotations), QStringList({"under", "otherPage"}));
    view.eraseAt(QPointF(5, 5));  // the margin belongs to no page
    view.eraseAt(view.pagePointToContent(0, {300, 300}));
    QCOMPARE(changed.count(), 1);

    // The reach is 4 page points whatever the zoom.
    view.setScale(2.0);
    view.eraseAt(view.pagePointToContent(0, {154.5, 125}));
    QCOMPARE(view.annotations.size(), size_t(2));
    view.eraseAt(view.pagePointToContent(0, {153.9, 125}));
    QCOMPARE(ids(view.annotations), QStringList({"otherPage"}));
  }

  void focusSelectsAndScrolls_data() {
    QTest::addColumn<int>("page");
    QTest::addColumn<bool>("emptyInk");
    QTest::addColumn<int>("scroll");
    // Page 1's layout starts at 824 px; its box top (y1 = 700) lies 100 px below that.
    QTest::newRow("second page") << 1 << false << 924 - 80;
    QTest::newRow("near the top") << 0 << false << 0;
    QTest::newRow("ink without points") << 1 << true << 123;
  }
  void focusSelectsAndScrolls() {
    QFETCH(int, page);
    QFETCH(bool, emptyInk);
    QFETCH(int, scroll);
    PdfView view;
    show(view, 3, {700, 500});
    view.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&view));
    view.addAnnotation(emptyInk ? path("x", page, AnnotType::Ink, {})
                                : rect("x", page, 100, page == 0 ? 770 : 650, 200, page == 0 ? 790 : 700));
    view.verticalScrollBar()->setValue(123);
    view.clearFocus();
    QSignalSpy changed(&view, &PdfView::annotationsChanged);
    view.focusAnnotation("x");
    QCOMPARE(view.selectedId, std::string("x"));
    QCOMPARE(view.verticalScrollBar()->value(), scroll);
    QVERIFY(view.hasFocus());
    view.focusAnnotation("missing");
    QCOMPARE(view.selectedId, std::string("x"));
    QCOMPARE(changed.count(), 0);
  }

  void handleUnderThePointer_data() {
    QTest::addColumn<Annotation>("a");
    QTest::addColumn<int>("viewRotation");
    QTest::addColumn<double>("zoom");
    QTest::addColumn<QPointF>("point");  // page point of page 0
    QTest::addColumn<QPointF>("nudge");  // then moved by this many content pixels
    QTest::addColumn<int>("handle");
    const Annotation box = rect("b", 0);  // 50 x 50 points: (100, 100) to (150, 150)
    const struct {
      const char* name;
      double x, y;
      int handle;
    } spots[] = {{"top left", 100, 150, 1},    {"top middle", 125, 150, 2},
                 {"top right", 150, 150, 3},   {"right middle", 150, 125, 4},
                 {"bottom right", 150, 100, 5}, {"bottom middle", 125, 100, 6},
                 {"bottom left", 100, 100, 7},  {"left middle", 100, 125, 8},
                 {"inside", 125, 125, 0}};
    for (const auto& s : spots)
      QTest::newRow(s.name) << box << 0 << 1.0 << QPointF(s.x, s.y) << QPointF() << s.handle;
    // The reach is 6 screen pixels whatever the zoom.
    QTest::newRow("6 px off at zoom 3") << box << 0 << 3.0 << QPointF(150, 125) << QPointF(6, 0) << 4;
    QTest::newRow("6.5 px off at zoom 3") << box << 0 << 3.0 << QPointF(150, 125) << QPointF(6.5, 0) << 0;
    QTest::newRow("tiny box: the first handle wins")
        << rect("t", 0, 100, 100, 103, 103) << 0 << 1.0 << QPointF(101.5, 101.5) << QPointF() << 1;
    QTest::newRow("turned page has none") << box << 1 << 1.0 << QPointF(100, 150) << QPointF() << 0;
    const Annotation line = path("l", 0, AnnotType::Line, {{100, 100}, {200, 180}});
    QTest::newRow("line start") << line << 0 << 1.0 << QPointF(100, 100) << QPointF(4, 4) << 9;
    QTest::newRow("arrow end") << path("r", 0, AnnotType::Arrow, {{100, 100}, {200, 180}}) << 1
                               << 1.0 << QPointF(200, 180) << QPointF() << 10;
    QTest::newRow("line with one point")
        << path("p", 0, AnnotType::Line, {{100, 100}}) << 0 << 1.0 << QPointF(100, 100) << QPointF() << 0;
    QTest::newRow("ink has none")
        << path("i", 0, AnnotType::Ink, {{100, 100}, {150, 150}}) << 0 << 1.0 << QPointF(100, 100)
        << QPointF() << 0;
    // Imported onto a page the file does not have, or left over from a longer document.
    QTest::newRow("page 99") << rect("far", 99) << 0 << 1.0 << QPointF(100, 150) << QPointF() << 0;
    QTest::newRow("line on page 99")
        << path("farline", 99, AnnotType::Line, {{0, 0}, {1, 1}}) << 0 << 1.0 << QPointF(0, 0)
        << QPointF() << 0;
    QTest::newRow("page -1") << rect("neg", -1) << 0 << 1.0 << QPointF(100, 150) << QPointF() << 0;
  }
  void handleUnderThePointer() {
    QFETCH(Annotation, a);
    QFETCH(int, viewRotation);
    QFETCH(double, zoom);
    QFETCH(QPointF, point);
    QFETCH(QPointF, nudge);
    QFETCH(int, handle);
    PdfView view;
    show(view, 2);
    view.setScale(zoom);
    for (int i = 0; i < viewRotation; ++i) view.rotateClockwise();
    const QPointF c = view.pagePointToContent(0, {point.x(), point.y()}) + nudge;
    QCOMPARE(static_cast<int>(view.handleAt(a, c)), handle);
  }

  // An XFDF import may put an annotation on page 99 of a 10-page file: every path that looks
  // up its page must cope.
  void annotationOnAMissingPageIsHarmless() {
    PdfView view;
    show(view, 2);
    view.addAnnotation(rect("far", 99, 0, 0, 800, 800));
    view.addAnnotation(path("farline", 99, AnnotType::Line, {{0, 0}, {600, 800}}));
    view.selectedId = "far";
    view.focusAnnotation("farline");
    QCOMPARE(view.verticalScrollBar()->value(), 0);
    view.viewport()->repaint();
    view.toolMode = PdfView::Select;
    quorvel::test::drag(view, 0, {{10, 10}, {50, 50}});  // handle lookup and hit test on press
    view.toolMode = PdfView::Eraser;
    quorvel::test::drag(view, 0, {{10, 10}, {590, 790}});
    QCOMPARE(view.annotations.size(), size_t(2));
    view.deletePage(0);
    view.viewport()->repaint();
    view.selectedId = "far";
    view.deleteSelected();
    QCOMPARE(view.annotations.size(), size_t(1));
  }
};

QTEST_MAIN(PdfViewAnnotTest)
#include "test_pdfview_annot.moc"
