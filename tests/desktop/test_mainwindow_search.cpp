// The search bar: its controls, the match counter, stepping with wrap-around, the options,
// the hit cap, what clears the results, and the command line's search.
#include <QAction>
#include <QLineEdit>
#include <QSettings>
#include <QToolBar>
#include <QToolButton>
#include <QtTest>

#include <string>

#include "desktop/window/lang.h"
#include "lang_guard.h"
#include "test_mainwindow_support.h"

using quorvel::desktop::MainWindow;
using quorvel::desktop::PdfView;
using namespace quorvel::test;

namespace {

QToolBar* searchBar(MainWindow& w) {
  for (QToolBar* b : w.findChildren<QToolBar*>())
    if (b->windowTitle() == QStringLiteral("Поиск")) return b;
  return nullptr;
}
QLineEdit* field(MainWindow& w) { return w.findChild<QLineEdit*>(QStringLiteral("searchEdit")); }
QString label(MainWindow& w) { return w.findChild<QLabel*>(QStringLiteral("searchLabel"))->text(); }

QAction* barAction(MainWindow& w, const QString& textOrTip) {
  for (QAction* a : searchBar(w)->actions())
    if (a->text() == textOrTip || a->toolTip() == textOrTip) return a;
  return nullptr;
}
void next(MainWindow& w) { barAction(w, QStringLiteral("Следующее (Enter)"))->trigger(); }
void prev(MainWindow& w) { barAction(w, QStringLiteral("Предыдущее (Shift+Enter)"))->trigger(); }

// One page of `lines` lines of `perLine` letters x in a small font, so every one is on the page.
std::string manyHits(int lines, int perLine) {
  std::string content = "BT /F1 4 Tf 10 780 Td 5 TL";
  const std::string row(static_cast<size_t>(perLine), 'x');
  for (int i = 0; i < lines; ++i) content += " (" + row + ") '";
  content += " ET";
  PageSpec p;
  p.content = content;
  return make_pdf({p});
}

}  // namespace

class MainWindowSearchTest : public QObject {
  Q_OBJECT

  TempDir dir;
  QString words, other, crowded;

 private slots:
  void initTestCase() {
    QCoreApplication::setOrganizationName(QStringLiteral("Quorvel"));
    QCoreApplication::setApplicationName(QStringLiteral("PDF Dodiru Quorvel"));
    // "alpha": twice on page 1, as a word and inside "alphabet" on page 2 (once capitalised),
    // once on page 3.
    words = writeTestFile(dir, "words.pdf", text_pdf({"alpha beta alpha", "Alpha alphabet", "gamma alpha"}));
    other = writeTestFile(dir, "other.pdf", text_pdf({"alpha"}));
    crowded = writeTestFile(dir, "crowded.pdf", manyHits(100, 60));
  }
  void init() {
    QSettings().clear();
    quorvel::desktop::g_lang = 0;
  }

  void barHoldsItsControlsInOrder_data() {
    QTest::addColumn<int>("lang");
    QTest::newRow("ru") << 0;
    QTest::newRow("en") << 1;
  }
  void barHoldsItsControlsInOrder() {
    QFETCH(int, lang);
    LangGuard guard(lang);
    MainWindow w;
    QToolBar* bar = searchBar(w);
    QVERIFY(bar);
    QVERIFY(!bar->isMovable());
    QCOMPARE(bar->iconSize(), QSize(18, 18));
    QCOMPARE(w.toolBarArea(bar), Qt::TopToolBarArea);
    QStringList items;
    for (QAction* a : bar->actions()) {
      QWidget* widget = bar->widgetForAction(a);
      if (a->isSeparator()) items << QStringLiteral("|");
      else if (widget == field(w)) items << QStringLiteral("field");
      else if (qobject_cast<QLabel*>(widget)) items << QStringLiteral("label");
      else items << (a->text().isEmpty() ? a->toolTip() : a->text());
    }
    QCOMPARE(items, (QStringList{"field", "Aa", "W", ".*", "|", "Предыдущее (Shift+Enter)", "Следующее (Enter)",
                                 "label", "|", "✨ По смыслу"}));
    QCOMPARE(field(w)->placeholderText(),
             lang ? QStringLiteral("Search in document…") : QStringLiteral("Поиск в документе…"));
    QVERIFY(field(w)->isClearButtonEnabled());
    QCOMPARE(field(w)->minimumWidth(), 340);
    QCOMPARE(field(w)->maximumWidth(), 460);
    for (const char* t : {"Aa", "W", ".*"}) {
      QAction* a = barAction(w, QString::fromLatin1(t));
      QVERIFY(a->isCheckable());
      QCOMPARE(bar->widgetForAction(a)->objectName(), QStringLiteral("searchToggle"));
    }
    QCOMPARE(barAction(w, QStringLiteral("Aa"))->toolTip(), QStringLiteral("Учитывать регистр"));
    QCOMPARE(label(w), QString());
  }

  void labelCountsAndStepsWrapAtBothEnds() {
    MainWindow w;
    w.openFile(words);
    PdfView* v = w.currentView();
    w.findText(QStringLiteral("alpha"));
    QCOMPARE(label(w), QStringLiteral("1 / 5"));
    QCOMPARE(v->highlights.size(), size_t{5});
    QCOMPARE(v->activeMatch, 0);

    prev(w);  // from the first hit back to the last
    QCOMPARE(label(w), QStringLiteral("5 / 5"));
    QCOMPARE(v->activeMatch, 4);
    QCOMPARE(v->currentPage(), 3);
    next(w);  // and from the last on to the first
    QCOMPARE(label(w), QStringLiteral("1 / 5"));
    QCOMPARE(v->currentPage(), 1);
    QTest::keyClick(field(w), Qt::Key_Return);
    QCOMPARE(label(w), QStringLiteral("2 / 5"));
    QCOMPARE(v->activeMatch, 1);

    // Typing another word does not search: Return steps through the old hits.
    field(w)->setText(QStringLiteral("gamma"));
    QCOMPARE(label(w), QStringLiteral("2 / 5"));
    QTest::keyClick(field(w), Qt::Key_Return);
    QCOMPARE(label(w), QStringLiteral("3 / 5"));
    // A toggle searches the text the field holds now.
    barAction(w, QStringLiteral("Aa"))->setChecked(true);
    QCOMPARE(label(w), QStringLiteral("1 / 1"));
    QCOMPARE(v->highlights.size(), size_t{1});
  }

  void optionsChooseTheHits_data() {
    QTest::addColumn<QString>("query");
    QTest::addColumn<bool>("caseSensitive");
    QTest::addColumn<bool>("wholeWord");
    QTest::addColumn<bool>("regex");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain, any case") << "alpha" << false << false << false << "1 / 5";
    QTest::newRow("case") << "alpha" << true << false << false << "1 / 4";
    QTest::newRow("whole word") << "alpha" << false << true << false << "1 / 4";
    QTest::newRow("case and whole word") << "alpha" << true << true << false << "1 / 3";
    QTest::newRow("regex") << "al.ha" << false << false << true << "1 / 5";
    QTest::newRow("dot without regex is a dot") << "al.ha" << false << false << false << "нет совпадений";
    QTest::newRow("regex whole word") << "a\\w+" << false << true << true << "1 / 5";
    QTest::newRow("invalid regex") << "(" << false << false << true << "нет совпадений";
    // Matches the empty string everywhere: only the non-empty runs of a count, and the
    // search ends.
    QTest::newRow("empty-matching regex") << "a*" << false << false << true << "1 / 13";
    QTest::newRow("nothing there") << "delta" << false << false << false << "нет совпадений";
  }
  void optionsChooseTheHits() {
    QFETCH(QString, query);
    QFETCH(bool, caseSensitive);
    QFETCH(bool, wholeWord);
    QFETCH(bool, regex);
    MainWindow w;
    w.openFile(words);
    barAction(w, QStringLiteral("Aa"))->setChecked(caseSensitive);
    barAction(w, QStringLiteral("W"))->setChecked(wholeWord);
    barAction(w, QStringLiteral(".*"))->setChecked(regex);
    w.findText(query);
    QTEST(label(w), "expected");
    QCOMPARE(w.currentView()->highlights.empty(), label(w) == QStringLiteral("нет совпадений"));
  }

  void hitsStopAtFiveThousand() {
    MainWindow w;
    w.openFile(crowded);
    w.findText(QStringLiteral("x"));  // 6000 letters on the page
    QCOMPARE(label(w), QStringLiteral("1 / 5000"));
    QCOMPARE(w.currentView()->highlights.size(), size_t{5000});
    prev(w);
    QCOMPARE(label(w), QStringLiteral("5000 / 5000"));
    // Whole lines: one hit per line, well under the cap.
    barAction(w, QStringLiteral(".*"))->setChecked(true);
    w.findText(QStringLiteral("x+"));
    QCOMPARE(label(w), QStringLiteral("1 / 100"));
  }

  void emptyFieldAndClearingDropTheHits() {
    MainWindow w;
    w.openFile(words);
    PdfView* v = w.currentView();

    // Return in an empty field searches nothing and says nothing.
    QTest::keyClick(field(w), Qt::Key_Return);
    QCOMPARE(label(w), QString());

    w.findText(QStringLiteral("alpha"));
    QCOMPARE(label(w), QStringLiteral("1 / 5"));
    w.findText(QString());
    QCOMPARE(field(w)->text(), QString());
    QCOMPARE(label(w), QString());
    QVERIFY(v->highlights.empty());

    w.findText(QStringLiteral("alpha"));
    field(w)->clear();  // the field's clear button does the same
    QCOMPARE(label(w), QString());
    QVERIFY(v->highlights.empty());
    QCOMPARE(v->activeMatch, -1);

    // A toggle with an empty field clears the viewer and leaves the counter empty.
    w.findText(QStringLiteral("alpha"));
    field(w)->blockSignals(true);
    field(w)->setText(QString());
    field(w)->blockSignals(false);
    barAction(w, QStringLiteral("Aa"))->setChecked(true);
    QVERIFY(v->highlights.empty());
    QCOMPARE(label(w), QString());
    // Stepping with no hits searches afresh.
    field(w)->setText(QStringLiteral("gamma"));
    next(w);
    QCOMPARE(label(w), QStringLiteral("1 / 1"));
  }

  void withoutDocumentNothingIsFound() {
    MainWindow w;
    w.findText(QStringLiteral("alpha"));
    QCOMPARE(field(w)->text(), QStringLiteral("alpha"));
    QCOMPARE(label(w), QStringLiteral("нет совпадений"));
    next(w);
    prev(w);
    QCOMPARE(label(w), QStringLiteral("нет совпадений"));
  }

  void tabChangeClearsTheResults() {
    MainWindow w;
    WindowProbe p{w};
    w.openFile(other);
    w.openFile(words);
    w.findText(QStringLiteral("alpha"));
    QCOMPARE(label(w), QStringLiteral("1 / 5"));
    p.tabs()->setCurrentIndex(0);
    QCOMPARE(field(w)->text(), QString());
    QCOMPARE(label(w), QString());
    // Nothing of the other tab's hits is left to step through.
    next(w);
    QCOMPARE(label(w), QString());
    w.findText(QStringLiteral("alpha"));
    QCOMPARE(label(w), QStringLiteral("1 / 1"));
    // Closing the searched tab also starts the bar afresh.
    p.tabs()->tabCloseRequested(0);
    QCOMPARE(label(w), QString());
  }

  void shortcutsFocusTheFieldAndStepBack() {
    MainWindow w;
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.openFile(words);
    w.findText(QStringLiteral("alpha"));
    field(w)->setText(QStringLiteral("alp"));  // typing does not search
    w.currentView()->setFocus();
    QTest::keyClick(w.currentView(), Qt::Key_F, Qt::ControlModifier);
    QVERIFY(field(w)->hasFocus());
    QCOMPARE(field(w)->selectedText(), QStringLiteral("alp"));
    QTest::keyClick(field(w), Qt::Key_Return, Qt::ShiftModifier);
    QCOMPARE(label(w), QStringLiteral("5 / 5"));
  }
};

QTEST_MAIN(MainWindowSearchTest)
#include "test_mainwindow_search.moc"
