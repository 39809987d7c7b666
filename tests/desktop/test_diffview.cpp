// The side-by-side compare dialog: its texts in both languages, stepping through the changes,
// and the two panes scrolling together.
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTextBrowser>
#include <QTextDocument>
#include <QtTest>

#include "lang_guard.h"
#include "desktop/panels/DiffViewDialog.h"
#include "desktop/window/lang.h"

using quorvel::desktop::DiffViewDialog;

namespace {

// A column of twenty pages of text with an anchor before each page listed in anchored.
QString column(const QList<int>& anchored, int linesPerPage = 12) {
  QString html = QStringLiteral("<html><body>");
  for (int p = 1; p <= 20; ++p) {
    if (anchored.contains(p)) html += QStringLiteral("<a name=\"chg-%1\"></a>").arg(p);
    html += QStringLiteral("<h3>Page %1</h3>").arg(p);
    for (int l = 0; l < linesPerPage; ++l) html += QStringLiteral("<p>line %1 of page %2</p>").arg(l).arg(p);
  }
  return html + QStringLiteral("</body></html>");
}

struct Parts {
  QTextBrowser* left;
  QTextBrowser* right;
  QPushButton* prev;
  QPushButton* next;
  QPushButton* close;
  QLabel* position;
  QList<QLabel*> titles;
};

Parts parts(DiffViewDialog& d) {
  Parts p{};
  auto* splitter = d.findChild<QSplitter*>();
  p.left = qobject_cast<QTextBrowser*>(splitter->widget(0));
  p.right = qobject_cast<QTextBrowser*>(splitter->widget(1));
  const auto buttons = d.findChildren<QPushButton*>();
  p.prev = buttons.value(0);
  p.next = buttons.value(1);
  p.close = buttons.value(2);
  const auto labels = d.findChildren<QLabel*>();
  p.titles = {labels.value(0), labels.value(1)};
  p.position = labels.value(2);
  return p;
}

int scroll(QTextBrowser* b) { return b->verticalScrollBar()->value(); }

// Where a pane scrolls for an anchor when it is the only pane.
int anchorValue(const QString& html, const QString& anchor, QSize size) {
  QTextBrowser b;
  b.resize(size);
  b.setHtml(html);
  b.show();
  b.scrollToAnchor(anchor);
  return scroll(&b);
}

using quorvel::test::LangGuard;

}  // namespace

class DiffViewTest : public QObject {
  Q_OBJECT

 private slots:
  void textsFollowTheLanguage_data() {
    QTest::addColumn<int>("lang");
    QTest::addColumn<QStringList>("texts");  // title, prev, next, close, first position, none
    QTest::newRow("ru") << 0
                        << QStringList{"Сравнение версий", "◀ Пред. изменение", "След. изменение ▶",
                                       "Закрыть", "Изменение 1 из 3 (стр. 3)", "Различий не найдено"};
    QTest::newRow("en") << 1
                        << QStringList{"Compare versions", "◀ Prev change", "Next change ▶", "Close",
                                       "Change 1 of 3 (p. 3)", "No differences"};
    // Only 1 selects English.
    QTest::newRow("other") << 2
                           << QStringList{"Сравнение версий", "◀ Пред. изменение", "След. изменение ▶",
                                          "Закрыть", "Изменение 1 из 3 (стр. 3)", "Различий не найдено"};
  }
  void textsFollowTheLanguage() {
    QFETCH(int, lang);
    QFETCH(QStringList, texts);
    LangGuard guard(lang);
    DiffViewDialog d("a.pdf", "b.pdf", column({3, 7, 12}), column({3, 7, 12}), {3, 7, 12});
    Parts p = parts(d);
    QCOMPARE(d.windowTitle(), texts[0]);
    QCOMPARE(p.prev->text(), texts[1]);
    QCOMPARE(p.next->text(), texts[2]);
    QCOMPARE(p.close->text(), texts[3]);
    QCOMPARE(p.position->text(), texts[4]);
    QCOMPARE(d.size(), QSize(1000, 700));
    QVERIFY(p.prev->isEnabled() && p.next->isEnabled());

    DiffViewDialog none("a.pdf", "b.pdf", column({}), column({}), {});
    Parts q = parts(none);
    QCOMPARE(q.position->text(), texts[5]);
    QVERIFY(!q.prev->isEnabled());
    QVERIFY(!q.next->isEnabled());
    // Called directly anyway, it changes nothing and scrolls nothing.
    none.show();
    none.goToChange(0);
    QCOMPARE(q.position->text(), texts[5]);
    QCOMPARE(scroll(q.left), 0);
  }

  void buttonsStepAndStopAtTheEnds() {
    LangGuard guard(1);
    DiffViewDialog d("a.pdf", "b.pdf", column({3, 7, 12}), column({3, 7, 12}), {3, 7, 12});
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    Parts p = parts(d);
    p.prev->click();
    QCOMPARE(p.position->text(), QStringLiteral("Change 1 of 3 (p. 3)"));
    p.next->click();
    QCOMPARE(p.position->text(), QStringLiteral("Change 2 of 3 (p. 7)"));
    p.next->click();
    p.next->click();
    QCOMPARE(p.position->text(), QStringLiteral("Change 3 of 3 (p. 12)"));
    // From the last change, previous goes back one step: the position was kept, not overrun.
    p.prev->click();
    QCOMPARE(p.position->text(), QStringLiteral("Change 2 of 3 (p. 7)"));

    d.goToChange(-5);
    QCOMPARE(p.position->text(), QStringLiteral("Change 1 of 3 (p. 3)"));
    d.goToChange(99);
    QCOMPARE(p.position->text(), QStringLiteral("Change 3 of 3 (p. 12)"));

    QSignalSpy accepted(&d, &QDialog::accepted);
    p.close->click();
    QCOMPARE(accepted.count(), 1);
  }

  // The left column is taller per page than the right one, so each pane's own anchor
  // position differs and shows which pane the other followed.
  void bothPanesShowTheChange() {
    const QList<int> changes{3, 12};
    const QString left = column(changes, 14);
    const QString right = column(changes, 10);
    const QString rightWithout = column({}, 10);
    DiffViewDialog d("a.pdf", "b.pdf", left, right, changes);
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    Parts p = parts(d);
    const QSize pane = p.right->size();

    // Opened before it was shown, the dialog still sits at the first change once visible.
    const int first = anchorValue(right, "chg-3", pane);

    QVERIFY(first > 0);
    QCOMPARE(scroll(p.right), first);
    QCOMPARE(scroll(p.left), first);

    d.goToChange(1);
    const int last = anchorValue(right, "chg-12", pane);
    QVERIFY(last > first);
    QCOMPARE(scroll(p.right), last);
    QCOMPARE(scroll(p.left), last);

    // Only the left text has the anchor: both follow the left pane.
    DiffViewDialog half("a.pdf", "b.pdf", left, rightWithout, changes);
    half.show();
    QVERIFY(QTest::qWaitForWindowExposed(&half));
    half.goToChange(1);
    Parts h = parts(half);
    const int leftLast = anchorValue(left, "chg-12", h.left->size());
    QVERIFY(leftLast != last);
    QCOMPARE(scroll(h.left), leftLast);
    QCOMPARE(scroll(h.right), qMin(leftLast, h.right->verticalScrollBar()->maximum()));

    // An anchor neither text has moves nothing but the label.
    DiffViewDialog missing("a.pdf", "b.pdf", column({}), column({}), {5});
    missing.show();
    QVERIFY(QTest::qWaitForWindowExposed(&missing));
    Parts m = parts(missing);
    QCOMPARE(scroll(m.left), 0);
    QCOMPARE(scroll(m.right), 0);
    QVERIFY(m.position->text().endsWith(quorvel::desktop::g_lang == 1 ? "(p. 5)" : "(стр. 5)"));
  }

  void scrollingOnePaneScrollsTheOther() {
    // The right column is much shorter, so its range clamps the copied value.
    DiffViewDialog d("a.pdf", "b.pdf", column({}, 14), column({}, 1), {});
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    Parts p = parts(d);
    QScrollBar* l = p.left->verticalScrollBar();
    QScrollBar* r = p.right->verticalScrollBar();
    // Long texts are laid out in steps; wait for the full ranges.
    QTRY_VERIFY(r->maximum() > 400);
    QTRY_VERIFY2(l->maximum() > r->maximum() + 100,
                 qPrintable(QStringLiteral("%1 %2").arg(l->maximum()).arg(r->maximum())));

    l->setValue(400);
    QCOMPARE(r->value(), 400);
    r->setValue(250);
    QCOMPARE(l->value(), 250);
    l->setValue(l->maximum());
    QCOMPARE(r->value(), r->maximum());
    // The clamped echo did not pull the left pane back.
    QCOMPARE(l->value(), l->maximum());
  }

  void titlesAreShownAsText() {
    const QString leftTitle = QStringLiteral("a<b>&amp;.pdf");
    const QString rightTitle = QStringLiteral("<img src=x> & Ко.pdf");
    DiffViewDialog d(leftTitle, rightTitle, column({}), column({}), {});
    Parts p = parts(d);
    QCOMPARE(p.titles[0]->text(), "<b>" + leftTitle.toHtmlEscaped() + "</b>");
    QCOMPARE(p.titles[1]->text(), "<b>" + rightTitle.toHtmlEscaped() + "</b>");
    for (int i = 0; i < 2; ++i) {
      QTextDocument shown;
      shown.setHtml(p.titles[i]->text());
      QCOMPARE(shown.toPlainText(), i == 0 ? leftTitle : rightTitle);
    }
  }
};

QTEST_MAIN(DiffViewTest)
#include "test_diffview.moc"
