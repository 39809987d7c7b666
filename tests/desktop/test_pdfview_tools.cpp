// The viewer's mouse and keyboard tools, driven by synthetic events: what each tool makes from
// a drag, the dialogs it asks through, moving and resizing, the select tool's choices, links,
// forms and keys.
#include <QClipboard>
#include <QDateTime>
#include <QDesktopServices>
#include <QSignalSpy>
#include <QStyleHints>
#include <QTemporaryDir>
#include <QUrl>
#include <QUuid>
#include <QtTest>

#include <memory>

#include "desktop/stores/AnnotationStore.h"
#include "desktop/viewer/PdfView.h"
#include "test_pdfview_tools_input.h"

using quorvel::Link;
using quorvel::annot::Annotation;
using quorvel::annot::AnnotType;
using quorvel::annot::Point;
using quorvel::desktop::AnnotationStore;
using quorvel::desktop::PdfView;
using quorvel::desktop::viewer::ResizeHandle;
using quorvel::test::asciiRun;
using quorvel::test::at;
using quorvel::test::DialogAnswerer;
using quorvel::test::drag;
using quorvel::test::key;
using quorvel::test::mouse;
using quorvel::test::ToolDocument;

using Points = QList<QPointF>;
using Box = QList<double>;

namespace {

std::vector<Point> points(const Points& list) {
  std::vector<Point> out;
  for (const QPointF& p : list) out.push_back({p.x(), p.y()});
  return out;
}

Points pointsOf(const std::vector<Point>& list) {
  Points out;
  for (const Point& p : list) out << QPointF(p.x, p.y);
  return out;
}

Box boxOf(const Annotation& a) { return {a.x0, a.y0, a.x1, a.y1}; }

Annotation make(const std::string& id, AnnotType type, Box box, Points path = {},
                const std::string& text = {}) {
  Annotation a;
  a.id = id;
  a.type = type;
  if (box.size() == 4) {
    a.x0 = box[0];
    a.y0 = box[1];
    a.x1 = box[2];
    a.y1 = box[3];
  }
  a.points = points(path);
  a.text = text;
  return a;
}

// A shown view at scale 1 over pages of 600 x 800 points: page 0 starts at content (12, 12),
// page 1 at (12, 824). Page 0 carries two lines of text.
struct Tools {
  QTemporaryDir dir;
  std::unique_ptr<AnnotationStore> store;
  PdfView view;
  ToolDocument* doc = nullptr;

  explicit Tools(bool bound = false) {
    auto d = std::make_unique<ToolDocument>(2);
    d->pages[0].text.runs = {asciiRun("alpha beta", 100, 700), asciiRun(" gamma", 100, 680)};
    doc = d.get();
    view.resize(700, 900);
    view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.show();
    if (!QTest::qWaitForWindowExposed(&view)) qWarning("view not exposed");
    view.setDocument(std::move(d));
    if (bound) {
      store = std::make_unique<AnnotationStore>(dir.filePath(QStringLiteral("q.db")));
      view.setStore(store.get(), QStringLiteral("doc"));
    }
  }
  std::vector<Annotation> rows() { return store->load(QStringLiteral("doc")); }
};

// Receives the URLs that the view hands to the desktop.
class UrlSink : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> opened;
 public slots:
  void open(const QUrl& url) { opened << url; }
};

const QStringList kSchemes = {"http", "https", "mailto", "file", "smb", "quorvel-x", "javascript"};

}  // namespace

Q_DECLARE_METATYPE(Annotation)

class PdfViewToolsTest : public QObject {
  Q_OBJECT

  UrlSink sink;

 private slots:
  void initTestCase() {
    for (const QString& s : kSchemes) QDesktopServices::setUrlHandler(s, &sink, "open");
  }
  void cleanupTestCase() {
    for (const QString& s : kSchemes) QDesktopServices::unsetUrlHandler(s);
  }
  void init() { sink.opened.clear(); }

  void drawingDrags_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("page");
    QTest::addColumn<Points>("gesture");  // press, moves, release at the last
    QTest::addColumn<int>("type");        // -1: nothing is made
    QTest::addColumn<Box>("box");
    QTest::addColumn<Points>("path");
    const int none = -1;
    const Box zero = {0, 0, 0, 0};
    QTest::newRow("highlight going only sideways")
        << int(PdfView::Highlight) << 0 << Points{{100, 500}, {200, 500}} << none << Box{} << Points{};
    QTest::newRow("highlight") << int(PdfView::Highlight) << 0 << Points{{100, 400}, {200, 500}}
                               << int(AnnotType::Highlight) << Box{100, 400, 200, 500} << Points{};
    QTest::newRow("highlight dragged backwards")
        << int(PdfView::Highlight) << 0 << Points{{200, 500}, {100, 400}}
        << int(AnnotType::Highlight) << Box{100, 400, 200, 500} << Points{};
    QTest::newRow("underline") << int(PdfView::Underline) << 1 << Points{{10, 20}, {30, 25}}
                               << int(AnnotType::Underline) << Box{10, 20, 30, 25} << Points{};
    QTest::newRow("strikeout") << int(PdfView::Strikeout) << 0 << Points{{10, 20}, {30, 25}}
                               << int(AnnotType::StrikeOut) << Box{10, 20, 30, 25} << Points{};
    QTest::newRow("squiggly") << int(PdfView::Squiggly) << 0 << Points{{10, 20}, {30, 25}}
                              << int(AnnotType::Squiggly) << Box{10, 20, 30, 25} << Points{};
    QTest::newRow("rectangle") << int(PdfView::Rectangle) << 0 << Points{{30, 25}, {10, 20}}
                               << int(AnnotType::Rectangle) << Box{10, 20, 30, 25} << Points{};
    QTest::newRow("ellipse") << int(PdfView::Ellipse) << 0 << Points{{10, 20}, {30, 25}}
                             << int(AnnotType::Ellipse) << Box{10, 20, 30, 25} << Points{};
    QTest::newRow("rectangle from a click") << int(PdfView::Rectangle) << 0 << Points{{100, 400}}
                                            << none << Box{} << Points{};
    // Off the page the drag keeps its last point on the page.
    QTest::newRow("rectangle ending beside the page")
        << int(PdfView::Rectangle) << 0 << Points{{100, 100}, {150, 160}, {700, 300}}
        << int(AnnotType::Rectangle) << Box{100, 100, 150, 160} << Points{};
    QTest::newRow("rectangle begun beside the page")
        << int(PdfView::Rectangle) << 0 << Points{{-30, 100}, {150, 160}} << none << Box{}
        << Points{};
    QTest::newRow("ink from a press alone")
        << int(PdfView::Ink) << 0 << Points{{100, 100}} << none << Box{} << Points{};
    QTest::newRow("ink with one move")
        << int(PdfView::Ink) << 0 << Points{{100, 100}, {110, 120}} << int(AnnotType::Ink) << zero
        << Points{{100, 100}, {110, 120}};
    QTest::newRow("ink leaving the page and coming back")
        << int(PdfView::Ink) << 1 << Points{{100, 100}, {110, 120}, {-30, 120}, {115, 125}}
        << int(AnnotType::Ink) << zero << Points{{100, 100}, {110, 120}, {115, 125}};
    QTest::newRow("line of 1 point each way")
        << int(PdfView::Line) << 0 << Points{{100, 100}, {101, 99}} << none << Box{} << Points{};
    QTest::newRow("line of 1.5 points") << int(PdfView::Line) << 0 << Points{{100, 100}, {101.5, 100}}
                                        << int(AnnotType::Line) << zero
                                        << Points{{100, 100}, {101.5, 100}};
    QTest::newRow("arrow") << int(PdfView::Arrow) << 0 << Points{{100, 150}, {100, 100}}
                           << int(AnnotType::Arrow) << zero << Points{{100, 150}, {100, 100}};
    QTest::newRow("select tool") << int(PdfView::Select) << 0 << Points{{100, 100}, {200, 200}}
                                 << none << Box{} << Points{};
    QTest::newRow("eraser") << int(PdfView::Eraser) << 0 << Points{{100, 100}, {200, 200}} << none
                            << Box{} << Points{};
  }
  void drawingDrags() {
    QFETCH(int, mode);
    QFETCH(int, page);
    QFETCH(Points, gesture);
    QFETCH(int, type);
    QFETCH(Box, box);
    QFETCH(Points, path);
    Tools t(true);
    t.view.toolMode = static_cast<PdfView::Mode>(mode);
    t.view.penColor = 0x123456;
    t.view.highlightColor = 0x00FF00;
    t.view.penWidth = 3.5;
    QSignalSpy changed(&t.view, &PdfView::annotationsChanged);
    drag(t.view, page, points(gesture));

    QVERIFY(!t.view.dragging);
    QCOMPARE(t.view.dragPage, -1);
    QVERIFY(t.view.inkPoints.empty());
    if (type < 0) {
      QVERIFY(t.view.annotations.empty());
      QCOMPARE(changed.count(), 0);
      return;
    }
    QCOMPARE(t.view.annotations.size(), size_t(1));
    QCOMPARE(changed.count(), 1);
    const Annotation& a = t.view.annotations[0];
    QCOMPARE(int(a.type), type);
    QCOMPARE(a.page, page);
    QCOMPARE(a.color, type == int(AnnotType::Highlight) ? 0x00FF00u : 0x123456u);
    QCOMPARE(a.width, 3.5);
    QCOMPARE(int(a.opacity), 255);
    QCOMPARE(boxOf(a), box);
    QCOMPARE(pointsOf(a.points), path);
    QVERIFY(a.text.empty());
    QCOMPARE(a.id.size(), size_t(36));
    QVERIFY(!QUuid::fromString(QString::fromStdString(a.id)).isNull());
    const std::vector<Annotation> rows = t.rows();
    QCOMPARE(rows.size(), size_t(1));
    QCOMPARE(rows[0].id, a.id);
    QCOMPARE(pointsOf(rows[0].points), path);
  }

  void dialogTools_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<Points>("gesture");
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("title");  // empty: no dialog may show
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("type");       // -1: nothing is made
    QTest::addColumn<uint>("color");
    QTest::addColumn<double>("width");
    QTest::addColumn<Box>("box");
    const int none = -1;
    const uint pen = 0x123456;
    const Points span = {{100, 400}, {200, 450}};
    QTest::newRow("free text") << int(PdfView::FreeText) << span << true << "Привет, мир" << "Текст"
                               << "Введите текст:" << int(AnnotType::FreeText) << pen << 3.5
                               << Box{100, 400, 200, 450};
    QTest::newRow("free text from a click asks nothing")
        << int(PdfView::FreeText) << Points{{100, 400}} << true << "x" << "" << "" << none << 0u
        << 0.0 << Box{};
    QTest::newRow("free text cancelled") << int(PdfView::FreeText) << span << false << "x" << "Текст"
                                         << "Введите текст:" << none << 0u << 0.0 << Box{};
    QTest::newRow("free text left empty") << int(PdfView::FreeText) << span << true << "" << "Текст"
                                          << "Введите текст:" << none << 0u << 0.0 << Box{};
    QTest::newRow("note where the drag ends")
        << int(PdfView::Note) << Points{{10, 10}, {300, 300}} << true << "Заметка 1" << "Заметка"
        << "Текст заметки:" << int(AnnotType::Note) << 0xFF8A00u << 3.5 << Box{300, 300, 316, 316};
    QTest::newRow("note from a click")
        << int(PdfView::Note) << Points{{50, 60}} << true << "N" << "Заметка" << "Текст заметки:"
        << int(AnnotType::Note) << 0xFF8A00u << 3.5 << Box{50, 60, 66, 76};
    QTest::newRow("note cancelled") << int(PdfView::Note) << Points{{50, 60}} << false << "N"
                                    << "Заметка" << "Текст заметки:" << none << 0u << 0.0 << Box{};
    QTest::newRow("stamp КОПИЯ") << int(PdfView::Stamp) << Points{{100, 200}} << true << "КОПИЯ"
                                 << "Штамп" << "Текст штампа:" << int(AnnotType::FreeText)
                                 << 0xC62828u << 2.0 << Box{100, 200, 167.4, 228};
    QTest::newRow("stamp of the user's own word")
        << int(PdfView::Stamp) << Points{{10, 20}, {100, 200}} << true << "ПРОВЕРЕНО" << "Штамп"
        << "Текст штампа:" << int(AnnotType::FreeText) << 0xC62828u << 2.0
        << Box{100, 200, 100 + 9 * 14 * 0.62 + 24, 228};
    QTest::newRow("stamp cancelled") << int(PdfView::Stamp) << Points{{100, 200}} << false << "x"
                                     << "Штамп" << "Текст штампа:" << none << 0u << 0.0 << Box{};
  }
  void dialogTools() {
    QFETCH(int, mode);
    QFETCH(Points, gesture);
    QFETCH(bool, confirm);
    QFETCH(QString, answer);
    QFETCH(QString, title);
    QFETCH(QString, label);
    QFETCH(int, type);
    QFETCH(uint, color);
    QFETCH(double, width);
    QFETCH(Box, box);
    Tools t(true);
    t.view.toolMode = static_cast<PdfView::Mode>(mode);
    t.view.penColor = 0x123456;
    t.view.penWidth = 3.5;
    DialogAnswerer dialog(confirm ? std::optional<QString>(answer) : std::nullopt);
    drag(t.view, 0, points(gesture));

    QCOMPARE(dialog.seen.shown, !title.isEmpty());
    QCOMPARE(dialog.seen.title, title);
    QCOMPARE(dialog.seen.label, label);
    if (mode == PdfView::Stamp) {
      QCOMPARE(dialog.seen.items, QStringList({"УТВЕРЖДЕНО", "ЧЕРНОВИК", "ОПЛАЧЕНО", "КОПИЯ",
                                               "СОГЛАСОВАНО", "СРОЧНО"}));
      QCOMPARE(dialog.seen.initial, QStringLiteral("УТВЕРЖДЕНО"));
    } else if (dialog.seen.shown) {
      QCOMPARE(dialog.seen.initial, QString());
    }
    QCOMPARE(t.view.dragPage, -1);
    if (type < 0) {
      QVERIFY(t.view.annotations.empty());
      QVERIFY(t.rows().empty());
      return;
    }
    QCOMPARE(t.view.annotations.size(), size_t(1));
    const Annotation& a = t.view.annotations[0];
    QCOMPARE(int(a.type), type);
    QCOMPARE(a.color, color);
    QCOMPARE(a.width, width);
    QCOMPARE(boxOf(a), box);
    QCOMPARE(QString::fromStdString(a.text), answer);
    QCOMPARE(QString::fromStdString(t.rows().at(0).text), answer);
  }

  void typingIntoThePage_data() {
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<bool>("written");  // what the document answers
    QTest::addColumn<bool>("cacheDropped");
    QTest::newRow("written") << true << true << true;
    QTest::newRow("refused by the document") << true << false << false;
    QTest::newRow("cancelled") << false << true << false;
  }
  void typingIntoThePage() {
    QFETCH(bool, confirm);
    QFETCH(bool, written);
    QFETCH(bool, cacheDropped);
    Tools t(true);
    t.doc->insertResult = written;
    t.view.pageChars(0);
    t.view.toolMode = PdfView::AddText;
    QSignalSpy changed(&t.view, &PdfView::annotationsChanged);
    DialogAnswerer dialog(confirm ? std::optional<QString>(QStringLiteral("Строка")) : std::nullopt);
    drag(t.view, 0, {{50, 50}, {100, 200}});
    QCOMPARE(dialog.seen.title, QStringLiteral("Добавить текст"));
    QCOMPARE(dialog.seen.label, QStringLiteral("Текст (станет частью страницы):"));
    const bool asked = std::count(t.doc->calls.begin(), t.doc->calls.end(),
                                  std::string("insert_text 0 Строка 100 200 12 0")) == 1;
    QCOMPARE(asked, confirm);
    QCOMPARE(t.view.charCache.count(0) == 0, cacheDropped);
    QVERIFY(t.view.annotations.empty());
    QCOMPARE(changed.count(), 0);
  }

  // The tools' dialogs run nested event loops; the view may be gone when they return.
  void viewDestroyedWhileItsDialogRuns_data() {
    QTest::addColumn<QString>("gesture");
    QTest::newRow("note") << "note";
    QTest::newRow("typing into the page") << "addtext";
    QTest::newRow("editing a note") << "edit";
    QTest::newRow("confirming a link") << "link";
  }
  void viewDestroyedWhileItsDialogRuns() {
    QFETCH(QString, gesture);
    auto* t = new Tools(true);
    t->doc->pages[0].links = {Link{300, 300, 400, 320, -1, "file:///etc/hosts"}};
    t->view.addAnnotation(make("n", AnnotType::Note, {100, 100, 116, 116}, {}, "старый"));
    QPointer<PdfView> guard(&t->view);
    DialogAnswerer dialog(QStringLiteral("ответ"), [&] { delete t; });
    PdfView& v = t->view;
    if (gesture == "note" || gesture == "addtext") {
      v.toolMode = gesture == "note" ? PdfView::Note : PdfView::AddText;
      drag(v, 0, {{200, 200}});
    } else if (gesture == "edit") {
      mouse(v, QEvent::MouseButtonDblClick, at(v, 0, 108, 108));
    } else {
      mouse(v, QEvent::MouseButtonPress, at(v, 0, 350, 310));
    }
    QVERIFY(dialog.seen.shown);
    QVERIFY(guard.isNull());
    QVERIFY(sink.opened.isEmpty());
  }

  void resizeByHandles_data() {
    QTest::addColumn<Annotation>("a");
    QTest::addColumn<QPointF>("grab");
    QTest::addColumn<QPointF>("target");
    QTest::addColumn<Box>("box");
    QTest::addColumn<Points>("path");
    const Annotation square = make("s", AnnotType::Rectangle, {100, 100, 150, 150});
    QTest::newRow("right edge past the left edge swaps them")
        << square << QPointF(150, 125) << QPointF(90, 125) << Box{90, 100, 100, 150} << Points{};
    QTest::newRow("top edge past the bottom keeps 4 points")
        << square << QPointF(125, 150) << QPointF(125, 98) << Box{100, 98, 150, 102} << Points{};
    QTest::newRow("bottom left corner inwards")
        << square << QPointF(100, 100) << QPointF(120, 130) << Box{120, 130, 150, 150} << Points{};
    QTest::newRow("top left corner outwards")
        << square << QPointF(100, 150) << QPointF(80, 170) << Box{80, 100, 150, 170} << Points{};
    QTest::newRow("left edge onto the right keeps 4 points")
        << square << QPointF(100, 125) << QPointF(149, 125) << Box{149, 100, 153, 150} << Points{};
    const Annotation line =
        make("l", AnnotType::Line, {1, 2, 3, 4}, Points{{100, 100}, {200, 180}});
    QTest::newRow("line start") << line << QPointF(100, 100) << QPointF(120, 140)
                                << Box{1, 2, 3, 4} << Points{{120, 140}, {200, 180}};
    Annotation arrow = line;
    arrow.type = AnnotType::Arrow;
    QTest::newRow("arrow end") << arrow << QPointF(200, 180) << QPointF(250, 100)
                               << Box{1, 2, 3, 4} << Points{{100, 100}, {250, 100}};
  }
  void resizeByHandles() {
    QFETCH(Annotation, a);
    QFETCH(QPointF, grab);
    QFETCH(QPointF, target);
    QFETCH(Box, box);
    QFETCH(Points, path);
    Tools t(true);
    t.view.addAnnotation(a);
    QSignalSpy changed(&t.view, &PdfView::annotationsChanged);
    PdfView& v = t.view;
    quorvel::test::click(v, 0, grab.x(), grab.y());  // selects it
    QCOMPARE(v.selectedId, a.id);
    mouse(v, QEvent::MouseButtonPress, at(v, 0, grab.x(), grab.y()));
    QVERIFY(v.resizeHandle != ResizeHandle::None);
    mouse(v, QEvent::MouseMove, at(v, 0, 300, 400));  // recomputed from the press each time
    mouse(v, QEvent::MouseMove, at(v, 1, target.x(), target.y()));  // another page: no effect
    mouse(v, QEvent::MouseMove, at(v, 0, target.x(), target.y()));
    QCOMPARE(t.rows().at(0).x0, a.x0);  // persisted at release only
    mouse(v, QEvent::MouseButtonRelease, at(v, 0, target.x(), target.y()));
    QCOMPARE(v.resizeHandle, ResizeHandle::None);
    QCOMPARE(boxOf(v.annotations[0]), box);
    QCOMPARE(pointsOf(v.annotations[0].points), path);
    QCOMPARE(boxOf(t.rows().at(0)), box);
    QCOMPARE(pointsOf(t.rows().at(0).points), path);
    QCOMPARE(changed.count(), 2);  // the selecting click's release, then the resize
  }

  // Side by side, the right handle of a box that reaches past its page lies over the next page.
  void handleOverTheNeighbouringPage() {
    Tools t(true);
    PdfView& v = t.view;
    v.resize(1260, 900);
    v.setViewMode(PdfView::TwoPage);
    v.addAnnotation(make("w", AnnotType::Rectangle, {500, 100, 615, 150}));
    quorvel::test::click(v, 0, 560, 125);
    int page = -1;
    Point onPage;
    QVERIFY(v.contentToPage(v.pagePointToContent(0, {615, 125}), page, onPage));
    QCOMPARE(page, 1);
    mouse(v, QEvent::MouseButtonPress, at(v, 0, 615, 125));
    QCOMPARE(v.resizeHandle, ResizeHandle::Right);
    mouse(v, QEvent::MouseMove, at(v, 0, 590, 125));
    mouse(v, QEvent::MouseButtonRelease, at(v, 0, 590, 125));
    QCOMPARE(boxOf(v.annotations[0]), Box({500, 100, 590, 150}));
  }

  void moveStaysOnItsPage() {
    Tools t(true);
    PdfView& v = t.view;
    v.addAnnotation(make("r", AnnotType::Rectangle, {100, 100, 150, 150}));
    v.addAnnotation(make("i", AnnotType::Ink, {}, Points{{300, 300}, {310, 320}}));
    QSignalSpy changed(&v, &PdfView::annotationsChanged);

    mouse(v, QEvent::MouseButtonPress, at(v, 0, 125, 125));
    QVERIFY(v.movingAnnotation);
    mouse(v, QEvent::MouseMove, at(v, 0, 135, 145));
    QCOMPARE(boxOf(v.annotations[0]), Box({110, 120, 160, 170}));
    mouse(v, QEvent::MouseMove, at(v, 1, 300, 300));
    QCOMPARE(boxOf(v.annotations[0]), Box({110, 120, 160, 170}));
    mouse(v, QEvent::MouseButtonRelease, at(v, 1, 300, 300));
    QVERIFY(!v.movingAnnotation);
    QCOMPARE(boxOf(t.rows().at(0)), Box({110, 120, 160, 170}));
    QCOMPARE(changed.count(), 1);

    // A path moves point by point.
    drag(v, 0, {{300, 300}, {305, 290}});
    QCOMPARE(v.selectedId, std::string("i"));
    QCOMPARE(pointsOf(v.annotations[1].points), Points({{305, 290}, {315, 310}}));
    QCOMPARE(pointsOf(t.rows().at(1).points), Points({{305, 290}, {315, 310}}));
  }

  // Press order of the select tool: annotation, then link, then text.
  void selectToolPicksWhatLiesOnTop() {
    Tools t;
    PdfView& v = t.view;
    t.doc->pages[0].links = {Link{90, 690, 200, 715, 1, {}}};
    v.addAnnotation(make("h", AnnotType::Highlight, {130, 695, 160, 712}));

    // Over the highlight: it is selected, and the text selection goes.
    v.selPage = 0;
    v.selStart = 0;
    v.selEnd = 3;
    quorvel::test::click(v, 0, 140, 705);
    QCOMPARE(v.selectedId, std::string("h"));
    QCOMPARE(v.selPage, -1);

    // Over the link beside it: followed, the selection stays.
    QSignalSpy history(&v, &PdfView::navHistoryChanged);
    quorvel::test::click(v, 0, 103, 705);
    QCOMPARE(history.count(), 1);
    QCOMPARE(v.currentPage(), 2);
    QCOMPARE(v.backStack, std::vector<int>({1}));
    QCOMPARE(v.selectedId, std::string("h"));

    // Text beyond the link: a selection drag.
    v.goToPage(1);
    t.doc->pages[0].links.clear();
    v.linkCache.clear();
    mouse(v, QEvent::MouseButtonPress, at(v, 0, 101, 705));
    QVERIFY(v.selecting);
    QVERIFY(v.selectedId.empty());
    mouse(v, QEvent::MouseMove, at(v, 0, 125, 705));
    mouse(v, QEvent::MouseMove, at(v, 1, 125, 705));  // another page leaves the end alone
    mouse(v, QEvent::MouseButtonRelease, at(v, 1, 124, 705));
    QVERIFY(!v.selecting);
    QCOMPARE(v.selPage, 0);
    QCOMPARE(v.selStart, 0);
    QCOMPARE(v.selEnd, 4);

    // Beside every page: nothing stays selected.
    v.selectedId = "h";
    mouse(v, QEvent::MouseButtonPress, QPointF(4, 4));
    mouse(v, QEvent::MouseButtonRelease, QPointF(4, 4));
    QVERIFY(v.selectedId.empty());
    QCOMPARE(v.selPage, -1);
  }

  void tripleClick_data() {
    QTest::addColumn<QPointF>("offset");  // viewport pixels from the double click
    QTest::addColumn<bool>("late");
    QTest::addColumn<int>("selStart");
    QTest::addColumn<int>("selEnd");
    QTest::newRow("7 px right: the line") << QPointF(7, 0) << false << 0 << 10;
    QTest::newRow("3 + 4 px: the line") << QPointF(-3, 4) << false << 0 << 10;
    QTest::newRow("4 + 4 px: a plain press") << QPointF(4, 4) << false << 7 << 7;
    QTest::newRow("after the interval") << QPointF(1, 0) << true << 6 << 6;
  }
  void tripleClick() {
    QFETCH(QPointF, offset);
    QFETCH(bool, late);
    QFETCH(int, selStart);
    QFETCH(int, selEnd);
    Tools t;
    PdfView& v = t.view;
    QStyleHints* hints = QGuiApplication::styleHints();
    const int interval = hints->mouseDoubleClickInterval();
    // An interval no stall can outlast, or one that is over as soon as the clock moves on.
    hints->setMouseDoubleClickInterval(late ? 1 : 600000);
    const QPointF b = at(v, 0, 139, 705);  // the 'b' of "beta"
    mouse(v, QEvent::MouseButtonPress, b);
    mouse(v, QEvent::MouseButtonRelease, b);
    mouse(v, QEvent::MouseButtonPress, b);
    mouse(v, QEvent::MouseButtonDblClick, b);
    mouse(v, QEvent::MouseButtonRelease, b);
    QCOMPARE(v.selStart, 6);
    QCOMPARE(v.selEnd, 10);
    if (late) {
      const qint64 clicked = QDateTime::currentMSecsSinceEpoch();
      QTRY_VERIFY(QDateTime::currentMSecsSinceEpoch() - clicked > 1);
    }
    mouse(v, QEvent::MouseButtonPress, b + offset);
    mouse(v, QEvent::MouseButtonRelease, b + offset);
    hints->setMouseDoubleClickInterval(interval);
    QCOMPARE(v.selPage, 0);
    QCOMPARE(v.selStart, selStart);
    QCOMPARE(v.selEnd, selEnd);
  }

  void doubleClickEdits_data() {
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("text");  // afterwards
    QTest::newRow("note") << int(AnnotType::Note) << true << "новый" << "новый";
    QTest::newRow("free text emptied") << int(AnnotType::FreeText) << true << "" << "";
    QTest::newRow("note cancelled") << int(AnnotType::Note) << false << "x" << "старый";
  }
  void doubleClickEdits() {
    QFETCH(int, type);
    QFETCH(bool, confirm);
    QFETCH(QString, answer);
    QFETCH(QString, text);
    Tools t(true);
    PdfView& v = t.view;
    v.addAnnotation(make("n", static_cast<AnnotType>(type), {300, 300, 340, 320}, {}, "старый"));
    DialogAnswerer dialog(confirm ? std::optional<QString>(answer) : std::nullopt);
    const QPointF p = at(v, 0, 310, 310);
    mouse(v, QEvent::MouseButtonPress, p);
    mouse(v, QEvent::MouseButtonRelease, p);
    mouse(v, QEvent::MouseButtonPress, p);
    mouse(v, QEvent::MouseButtonDblClick, p);
    QCOMPARE(dialog.seen.title, QStringLiteral("Заметка"));
    QCOMPARE(dialog.seen.label, QStringLiteral("Текст:"));
    QCOMPARE(dialog.seen.initial, QStringLiteral("старый"));
    // The second press began a move; the pointer moving on must not bring the old copy back.
    mouse(v, QEvent::MouseMove, at(v, 0, 400, 400));
    mouse(v, QEvent::MouseButtonRelease, at(v, 0, 400, 400));
    QCOMPARE(QString::fromStdString(v.annotations[0].text), text);
    QCOMPARE(boxOf(v.annotations[0]), Box({300, 300, 340, 320}));
    QCOMPARE(QString::fromStdString(t.rows().at(0).text), text);
  }

  void doubleClickOnOtherKindsSelectsTheWord() {
    Tools t;
    PdfView& v = t.view;
    v.addAnnotation(make("h", AnnotType::Highlight, {130, 695, 170, 712}));
    DialogAnswerer dialog(QStringLiteral("x"));
    mouse(v, QEvent::MouseButtonDblClick, at(v, 0, 139, 705));
    QVERIFY(!dialog.seen.shown);
    QCOMPARE(v.selPage, 0);
    QCOMPARE(v.selStart, 6);
    QCOMPARE(v.selEnd, 10);
  }

  void eraserRemovesWhatItTouches() {
    Tools t(true);
    PdfView& v = t.view;
    v.addAnnotation(make("a", AnnotType::Rectangle, {100, 100, 150, 150}));
    v.addAnnotation(make("b", AnnotType::Ink, {}, Points{{300, 300}, {320, 320}}));
    v.addAnnotation(make("c", AnnotType::Rectangle, {400, 400, 450, 450}));
    v.toolMode = PdfView::Eraser;
    quorvel::test::click(v, 0, 120, 120);
    QCOMPARE(v.annotations.size(), size_t(2));
    drag(v, 0, {{200, 200}, {250, 250}, {318, 321}, {350, 350}});
    QCOMPARE(v.annotations.size(), size_t(1));
    QCOMPARE(v.annotations[0].id, std::string("c"));
    QCOMPARE(t.rows().size(), size_t(1));
  }

  void formTakesTheSelectTool() {
    Tools t;
    PdfView& v = t.view;
    t.doc->form = true;
    v.addAnnotation(make("r", AnnotType::Rectangle, {100, 100, 150, 150}));
    quorvel::test::click(v, 0, 125, 125);
    QCOMPARE(t.doc->calls, std::vector<std::string>({"click 0 125 125 down", "click 0 125 125 up"}));
    QVERIFY(v.selectedId.empty());
    QVERIFY(!v.movingAnnotation);

    // Delete belongs to the form, even with an annotation selected.
    v.selectedId = "r";
    QVERIFY(key(v, Qt::Key_Delete));
    QCOMPARE(v.annotations.size(), size_t(1));
    QCOMPARE(t.doc->calls.back(), std::string("key 46 down"));
  }

  void formKeys_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("call");  // the form call expected, if any
    QTest::addColumn<QList<uint>>("typed");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("Backspace") << int(Qt::Key_Backspace) << "\b" << "key 8 down" << QList<uint>{} << true;
    QTest::newRow("Delete") << int(Qt::Key_Delete) << "" << "key 46 down" << QList<uint>{} << true;
    QTest::newRow("Home") << int(Qt::Key_Home) << "" << "key 36 down" << QList<uint>{} << true;
    QTest::newRow("End") << int(Qt::Key_End) << "" << "key 35 down" << QList<uint>{} << true;
    QTest::newRow("Left") << int(Qt::Key_Left) << "" << "key 37 down" << QList<uint>{} << true;
    QTest::newRow("Right") << int(Qt::Key_Right) << "" << "key 39 down" << QList<uint>{} << true;
    QTest::newRow("letter") << int(Qt::Key_A) << "a" << "" << QList<uint>{'a'} << true;
    QTest::newRow("Cyrillic") << int(Qt::Key_unknown) << "Жё" << "" << QList<uint>{0x416, 0x451} << true;
    QTest::newRow("outside the basic plane")
        << int(Qt::Key_unknown) << QString::fromUtf8("\xF0\x9F\x98\x80") << ""
        << QList<uint>{0xD83D, 0xDE00} << true;
    QTest::newRow("Enter goes on") << int(Qt::Key_Return) << "\r" << "" << QList<uint>{} << false;
    QTest::newRow("Up goes on") << int(Qt::Key_Up) << "" << "" << QList<uint>{} << true;
  }
  void formKeys() {
    QFETCH(int, key);
    QFETCH(QString, text);
    QFETCH(QString, call);
    QFETCH(QList<uint>, typed);
    QFETCH(bool, accepted);
    Tools t;
    t.doc->form = true;
    QCOMPARE(quorvel::test::key(t.view, key, Qt::NoModifier, text), accepted);
    QCOMPARE(t.doc->calls.empty() ? QString() : QString::fromStdString(t.doc->calls.back()), call);
    QList<uint> got;
    for (unsigned u : t.doc->typed) got << u;
    QCOMPARE(got, typed);
  }

  void keysOnTheSelection() {
    Tools t(true);
    PdfView& v = t.view;
    v.addAnnotation(make("a", AnnotType::Rectangle, {100, 100, 150, 150}));
    v.addAnnotation(make("b", AnnotType::Rectangle, {200, 100, 250, 150}));
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText(QStringLiteral("before"));

    // Copy without a text selection falls through, and does not delete either.
    v.selectedId = "a";
    QVERIFY(!key(v, QKeySequence::Copy));
    QCOMPARE(v.annotations.size(), size_t(2));
    QCOMPARE(clipboard->text(), QStringLiteral("before"));

    QVERIFY(key(v, Qt::Key_Delete));
    v.selectedId = "b";
    QVERIFY(key(v, Qt::Key_Backspace));
    QVERIFY(v.annotations.empty());
    QVERIFY(t.rows().empty());
    QVERIFY(v.selectedId.empty());
    QVERIFY(!key(v, Qt::Key_Delete));

    // Select All takes the current page's characters; Copy then copies them.
    QVERIFY(key(v, QKeySequence::SelectAll));
    QCOMPARE(v.selPage, 0);
    QCOMPARE(v.selStart, 0);
    QCOMPARE(v.selEnd, 16);
    QVERIFY(key(v, QKeySequence::Copy));
    QCOMPARE(clipboard->text(), QStringLiteral("alpha beta\n gamma"));  // two runs, two lines

    // On a page without text it takes the key and changes nothing.
    v.goToPage(2);
    QCOMPARE(v.currentPage(), 2);
    QVERIFY(key(v, QKeySequence::SelectAll));
    QCOMPARE(v.selPage, 0);
    QCOMPARE(v.selEnd, 16);
  }

  void documentLinks_data() {
    QTest::addColumn<QString>("uri");
    QTest::addColumn<bool>("asks");
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<bool>("opens");
    QTest::newRow("https") << "https://example.org/a?b=1" << false << false << true;
    QTest::newRow("http in capitals") << "HTTP://EXAMPLE.ORG/" << false << false << true;
    QTest::newRow("mailto") << "mailto:someone@example.org" << false << false << true;
    QTest::newRow("file refused") << "file:///etc/passwd" << true << false << false;
    QTest::newRow("file confirmed") << "file:///etc/passwd" << true << true << true;
    QTest::newRow("share") << "smb://server/share/run.exe" << true << false << false;
    QTest::newRow("registered handler") << "quorvel-x:run?all" << true << false << false;
    QTest::newRow("script") << "javascript:alert(1)" << true << false << false;
    QTest::newRow("no scheme") << "www.example.org" << true << false << false;
  }
  void documentLinks() {
    QFETCH(QString, uri);
    QFETCH(bool, asks);
    QFETCH(bool, confirm);
    QFETCH(bool, opens);
    Tools t;
    t.doc->pages[0].links = {Link{300, 300, 400, 320, -1, uri.toStdString()}};
    DialogAnswerer dialog(confirm ? std::optional<QString>(QStringLiteral("yes")) : std::nullopt);
    quorvel::test::click(t.view, 0, 400, 300);  // the bounds count
    QCOMPARE(dialog.seen.shown, asks);
    if (asks) {
      QVERIFY2(dialog.seen.text.contains(uri), qPrintable(dialog.seen.text));
      QCOMPARE(dialog.seen.format, Qt::PlainText);
    }
    QCOMPARE(sink.opened.size(), opens ? 1 : 0);
    if (opens) QCOMPARE(sink.opened[0], QUrl(uri, QUrl::TolerantMode));
  }
};

QTEST_MAIN(PdfViewToolsTest)
#include "test_pdfview_tools.moc"
