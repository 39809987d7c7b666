// The viewer's text: characters built from the document's runs, hit tests, word and line
// selection, copying, the link cache, the back and forward history and the document's text.
#include <QClipboard>
#include <QSignalSpy>
#include <QtTest>

#include "FakeDocument.h"
#include "desktop/viewer/PdfView.h"

using quorvel::CharBox;
using quorvel::Link;
using quorvel::TextRun;
using quorvel::desktop::PdfView;
using quorvel::test::asciiRun;
using quorvel::test::FakeDocument;

namespace {

// A view holding a fake document whose first page has the given runs.
struct WithText {
  PdfView view;
  FakeDocument* doc = nullptr;
  explicit WithText(std::vector<TextRun> runs, int pages = 1) {
    auto d = std::make_unique<FakeDocument>(pages);
    d->pages[0].text.runs = std::move(runs);
    doc = d.get();
    view.resize(800, 600);
    view.setDocument(std::move(d));
  }
  QString selected() {
    const auto& chars = view.pageChars(view.selPage);
    QString s;
    for (int i = std::min(view.selStart, view.selEnd); i < std::max(view.selStart, view.selEnd); ++i)
      s += chars.at(i).text;
    return s;
  }
};

void setClipboard(const QString& s) { QGuiApplication::clipboard()->setText(s, QClipboard::Clipboard); }
QString clipboard() { return QGuiApplication::clipboard()->text(QClipboard::Clipboard); }

}  // namespace

class PdfViewTextTest : public QObject {
  Q_OBJECT

 private slots:
  void charactersComeFromTheRunsAndAreCached() {
    TextRun r;
    r.text = "a\xD0\xBF" "bc";  // a, п (two bytes), b, c
    r.chars = {{0, 10, 20, 15, 10}, {1, 15, 20, 20, 10}, {3, 20, 20, 25, 10},
               {3, 25, 20, 30, 10},  // same offset as the next: empty
               {4, 30, 20, 35, 10}, {9, 35, 20, 40, 10}};  // beyond the text: empty
    WithText t({r, asciiRun("xy", 100, 100)});
    const auto& chars = t.view.pageChars(0);
    QStringList texts;
    for (const auto& c : chars) texts << c.text;
    QCOMPARE(texts, (QStringList{"a", QString::fromUtf8("\xD0\xBF"), "", "b", "c", "", "x", "y"}));
    QCOMPARE(chars[1].x0, 15.0);
    QCOMPARE(chars[1].y0, 20.0);
    QCOMPARE(chars[1].x1, 20.0);
    QCOMPARE(chars[1].y1, 10.0);
    // "c" runs to the next offset (9) cut at the end of the text.
    t.view.pageChars(0);
    QCOMPARE(t.doc->extractCalls, 1);

    QVERIFY(t.view.pageChars(1).empty());
    QVERIFY(t.view.pageChars(-3).empty());
    QCOMPARE(t.doc->extractCalls, 1);

    PdfView none;
    QVERIFY(none.pageChars(0).empty());
    QCOMPARE(none.nearestChar(0, {0, 0}), -1);
    QCOMPARE(none.nearestChar(4, {0, 0}), -1);
  }

  void nearestChar_data() {
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("y");
    QTest::addColumn<int>("expected");
    // Boxes: 0 [10,20]x[10,20], 1 [15,30]x[10,20] overlaps 0, 2 [100,110]x[10,20].
    QTest::newRow("inside one") << 25.0 << 15.0 << 1;
    QTest::newRow("inside two: the earlier") << 17.0 << 15.0 << 0;
    QTest::newRow("edge inclusive") << 110.0 << 20.0 << 2;
    QTest::newRow("empty space: nearest centre") << 80.0 << 60.0 << 2;
    QTest::newRow("tie: the earlier") << 63.75 << 15.0 << 1;  // centres 22.5 and 105
  }
  void nearestChar() {
    QFETCH(double, x);
    QFETCH(double, y);
    QFETCH(int, expected);
    TextRun r;
    r.text = "abc";
    r.chars = {{0, 10, 20, 20, 10}, {1, 15, 20, 30, 10}, {2, 100, 20, 110, 10}};
    WithText t({r});
    t.view.pageChars(0);
    QCOMPARE(t.view.nearestChar(0, {x, y}), expected);
  }

  void selectWord_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("word");
    // "Hi, you+me a." then the runs "bc" and "de" side by side, a space and "x\u00A0y".
    QTest::newRow("word before a comma") << 0 << "Hi";
    QTest::newRow("symbols belong to words") << 6 << "you+me";
    QTest::newRow("one-letter word") << 11 << "a";
    QTest::newRow("letters of two runs join") << 14 << "bcde";
    QTest::newRow("no-break space separates") << 18 << "x";
  }
  void selectWord() {
    QFETCH(int, index);
    QFETCH(QString, word);
    TextRun nbsp;
    nbsp.text = "x\xC2\xA0y";
    nbsp.chars = {{0, 300, 10, 306, 0}, {1, 306, 10, 312, 0}, {3, 312, 10, 318, 0}};
    WithText t({asciiRun("Hi, you+me a.", 10, 100), asciiRun("bc", 200, 100), asciiRun("de", 212, 100),
                asciiRun(" ", 224, 100), nbsp});
    t.view.selectedId = "chosen";
    t.view.selectWordAt(0, index);
    QCOMPARE(t.view.selPage, 0);
    QCOMPARE(t.selected(), word);
    QVERIFY(t.view.selStart < t.view.selEnd);
    QVERIFY(t.view.selectedId.empty());
  }

  void selectWordOnNonWordKeepsTheSelection_data() {
    QTest::addColumn<int>("index");
    QTest::newRow("comma") << 2;
    QTest::newRow("space") << 3;
    QTest::newRow("full stop") << 5;
    QTest::newRow("empty character") << 6;
    QTest::newRow("out of range") << 8;
    QTest::newRow("negative") << -1;
  }
  void selectWordOnNonWordKeepsTheSelection() {
    QFETCH(int, index);
    TextRun r = asciiRun("ab, c.", 10, 100);
    r.text += "d";
    r.chars.push_back({6, 46, 110, 52, 100});
    r.chars.insert(r.chars.begin() + 6, CharBox{6, 40, 110, 46, 100});  // empty text before "d"
    WithText t({r});
    t.view.selectWordAt(0, 0);
    QCOMPARE(t.view.selEnd, 2);
    t.view.selectedId = "kept";
    t.view.selectWordAt(0, index);
    QCOMPARE(t.view.selStart, 0);
    QCOMPARE(t.view.selEnd, 2);
    QCOMPARE(t.view.selectedId, std::string("kept"));
  }

  void selectLineStaysInItsColumn() {
    // Line 1 of the left column, line 2 of it, then line 1 of the right column.
    WithText t({asciiRun("ab", 100, 700), asciiRun("ef", 100, 680), asciiRun("cd", 400, 700)});
    t.view.selectLineAt(0, 1);
    QCOMPARE(t.selected(), QStringLiteral("ab"));
    t.view.selectLineAt(0, 4);
    QCOMPARE(t.selected(), QStringLiteral("cd"));
    t.view.selectLineAt(0, 2);
    QCOMPARE(t.selected(), QStringLiteral("ef"));

    // A taller neighbour that still spans the centre joins the line.
    TextRun big = asciiRun("G", 112, 695, 10, 20);
    WithText tall({asciiRun("ab", 100, 700), big, asciiRun("z", 200, 600)});
    tall.view.selectedId = "x";
    tall.view.selectLineAt(0, 0);
    QCOMPARE(tall.selected(), QStringLiteral("abG"));
    QVERIFY(tall.view.selectedId.empty());
    tall.view.selectLineAt(0, 9);
    QCOMPARE(tall.selected(), QStringLiteral("abG"));
  }

  void copyGoesToTheClipboard() {
    TextRun r;
    r.text = "\xD0\xBF" "a";
    r.chars = {{0, 0, 10, 5, 0}, {2, 5, 10, 10, 0}, {2, 10, 10, 15, 0}, {3, 15, 10, 20, 0}};
    WithText t({r});
    t.view.pageChars(0);
    setClipboard("before");
    t.view.selPage = 0;
    t.view.selStart = 2;  // backwards over the empty character and "п"
    t.view.selEnd = 0;
    t.view.copySelection();
    QCOMPARE(clipboard(), QString::fromUtf8("\xD0\xBF"));

    // Only empty characters: nothing is copied.
    setClipboard("before");
    t.view.selStart = 1;
    t.view.selEnd = 2;
    t.view.copySelection();
    QCOMPARE(clipboard(), QStringLiteral("before"));
    // A selection running past the end stops there.
    t.view.selStart = 0;
    t.view.selEnd = 99;
    t.view.copySelection();
    QCOMPARE(clipboard(), QString::fromUtf8("\xD0\xBF" "a"));

    setClipboard("before");
    t.view.charCache.clear();  // no characters for the page: nothing
    t.view.copySelection();
    QCOMPARE(clipboard(), QStringLiteral("before"));
  }

  void selectDemoSelectsTheFirstCharacters_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("copied");
    QTest::newRow("five") << "Hello" << "Hello";
    QTest::newRow("forty") << QString(40, QChar('x')).replace(0, 3, "abc") << "abc" + QString(15, QChar('x'));
  }
  void selectDemoSelectsTheFirstCharacters() {
    QFETCH(QString, text);
    QFETCH(QString, copied);
    WithText t({asciiRun(text.toStdString(), 10, 100)});
    t.view.selectedId = "kept";
    t.view.selecting = true;
    setClipboard("before");
    t.view.selectDemo();
    QCOMPARE(clipboard(), copied);
    QCOMPARE(t.view.selPage, 0);
    QCOMPARE(t.view.selStart, 0);
    QCOMPARE(t.view.selEnd, int(copied.size()));
    QVERIFY(!t.view.selecting);
    QCOMPARE(t.view.selectedId, std::string("kept"));
  }

  void selectDemoWithoutTextDoesNothing() {
    WithText t({});
    setClipboard("before");
    t.view.selectDemo();
    QCOMPARE(clipboard(), QStringLiteral("before"));
    QCOMPARE(t.view.selPage, -1);
  }

  void linksAreFetchedOnce() {
    WithText t({}, 2);
    Link l;
    l.x0 = 1;
    l.page = 1;
    t.doc->pages[1].links = {l};
    QCOMPARE(int(t.view.pageLinks(1).size()), 1);
    QCOMPARE(t.view.pageLinks(1)[0].page, 1);
    QVERIFY(t.view.pageLinks(0).empty());
    QVERIFY(t.view.pageLinks(0).empty());
    QCOMPARE(t.doc->linkCalls, 2);
    QVERIFY(t.view.pageLinks(5).empty());
    QCOMPARE(t.doc->linkCalls, 2);
  }

  void historyOfFollowedLinks() {
    PdfView v;
    v.resize(800, 600);
    v.show();
    QVERIFY(QTest::qWaitForWindowExposed(&v));
    v.setDocument(std::make_unique<FakeDocument>(12));
    QSignalSpy history(&v, &PdfView::navHistoryChanged);
    QVERIFY(!v.goBack());
    QVERIFY(!v.goForward());
    QCOMPARE(history.count(), 0);

    v.goToPage(3);  // plain moves record nothing
    QVERIFY(v.backStack.empty());
    v.navigateToPage(10);
    QCOMPARE(v.currentPage(), 10);
    QCOMPARE(history.count(), 1);
    QVERIFY(v.goBack());
    QCOMPARE(v.currentPage(), 3);
    QVERIFY(v.goForward());
    QCOMPARE(v.currentPage(), 10);
    QCOMPARE(history.count(), 3);
    QVERIFY(!v.goForward());

    // A target that does not exist still records where the user was.
    v.navigateToPage(40);
    QCOMPARE(v.currentPage(), 10);
    QCOMPARE(history.count(), 4);
    QCOMPARE(v.backStack, (std::vector<int>{3, 10}));
    QVERIFY(v.forwardStack.empty());
    // Going back to a page that no longer exists is a step all the same.
    v.setDocument(std::make_unique<FakeDocument>(2));
    QVERIFY(v.goBack());
    QCOMPARE(v.currentPage(), 1);
  }

  void documentTextJoinsRunsAndPages() {
    auto d = std::make_unique<FakeDocument>(2);
    TextRun empty;
    TextRun a;
    a.text = "one";
    TextRun b;
    b.text = "two";
    d->pages[0].text.runs = {empty, empty, a, empty, b};
    d->pages[1].text.runs = {b};
    PdfView v;
    v.setDocument(std::move(d));
    QCOMPARE(v.documentText(20000), QStringLiteral("one\n\ntwo\ntwo\n"));
    QCOMPARE(v.documentText(5), QStringLiteral("one\n\n"));
    QCOMPARE(v.documentText(0), QString());
    QCOMPARE(v.documentText(-4), QString());
    PdfView none;
    QCOMPARE(none.documentText(20000), QString());
  }

  void documentTextCutsAtTheLimit() {
    auto d = std::make_unique<FakeDocument>(3);
    TextRun longRun;
    longRun.text = std::string(25000, 'x');
    TextRun shortRun;
    shortRun.text = "short";
    d->pages[0].text.runs = {shortRun};
    d->pages[1].text.runs = {longRun};
    d->pages[2].text.runs = {shortRun};
    FakeDocument* doc = d.get();
    PdfView v;
    v.setDocument(std::move(d));
    const QString text = v.documentText(20000);
    QCOMPARE(text.size(), 20000);
    QVERIFY(text.startsWith("short\nxxx"));
    // The limit is looked at between pages: the third is never read.
    QCOMPARE(doc->extractCalls, 2);

    // A character outside the basic plane is never cut in half.
    auto e = std::make_unique<FakeDocument>(1);
    TextRun emoji;
    emoji.text = std::string(3, 'a') + "\xF0\x9F\x98\x80" + "b";
    e->pages[0].text.runs = {emoji};
    v.setDocument(std::move(e));
    QCOMPARE(v.documentText(4), QStringLiteral("aaa"));
    QCOMPARE(v.documentText(5), QString::fromUtf8("aaa\xF0\x9F\x98\x80"));
  }
};

QTEST_MAIN(PdfViewTextTest)
#include "test_pdfview_text.moc"
