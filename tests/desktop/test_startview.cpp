// The start page as the user meets it: its rows, the empty-list row and what clicks emit.
#include <QLabel>
#include <QLayout>
#include <QImage>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include "desktop/panels/StartView.h"

using quorvel::desktop::RecentEntry;
using quorvel::desktop::StartView;

class StartViewTest : public QObject {
  Q_OBJECT

  static QListWidget* list(StartView& v) {
    return v.findChild<QListWidget*>(QStringLiteral("startRecents"));
  }

  // A real press and release on the row, as the user's mouse gives them.
  static void clickRow(StartView& v, int row) {
    QListWidget* l = list(v);
    const QRect r = l->visualItemRect(l->item(row));
    QVERIFY(!r.isEmpty());
    QTest::mouseClick(l->viewport(), Qt::LeftButton, {}, r.center());
  }

 private slots:
  void cardHoldsItsWidgetsInOrder() {
    StartView v(nullptr);
    QCOMPARE(v.objectName(), QStringLiteral("startView"));
    auto* card = v.findChild<QWidget*>(QStringLiteral("startCard"));
    QVERIFY(card);
    QCOMPARE(card->maximumWidth(), 560);
    QStringList seen;
    for (int i = 0; i < card->layout()->count(); ++i) {
      QWidget* w = card->layout()->itemAt(i)->widget();
      QVERIFY(w);
      QString text;
      if (auto* l = qobject_cast<QLabel*>(w)) text = l->text();
      if (auto* b = qobject_cast<QPushButton*>(w)) text = b->text();
      seen << w->objectName() + QLatin1Char('=') + text;
    }
    QCOMPARE(seen, (QStringList{
        "startTitle=PDF Dodiru Quorvel",
        QString::fromUtf8("startSubtitle=Просмотр, поиск, аннотации, формы и безопасность."),
        QString::fromUtf8("startOpen=Открыть документ"),
        QString::fromUtf8("startSubtitle=\u2026или перетащите PDF в окно"),
        QString::fromUtf8("startSection=Недавние"),
        "startRecents="}));
    QVERIFY(list(v)->count() == 0);
  }

  // The application's dark theme colours the page through its object name; inside the
  // window's stack the page must paint that background itself.
  void pagePaintsItsStyledBackgroundInsideAParent() {
    QWidget window;
    window.setStyleSheet(QStringLiteral("#startView { background: #16161f; }"));
    auto* v = new StartView(&window);
    v->setGeometry(0, 0, 400, 300);
    window.resize(400, 300);
    const QImage shot = window.grab().toImage();
    QCOMPARE(QColor(shot.pixel(5, 5)).name(), QStringLiteral("#16161f"));
  }

  void rowsShowNameThenPath_data() {
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("text");
    QTest::newRow("title") << QString::fromUtf8("Отчёт") << "/tmp/a.pdf"
                           << QString::fromUtf8("Отчёт\n/tmp/a.pdf");
    QTest::newRow("no title") << "" << "/tmp/a.pdf" << "a.pdf\n/tmp/a.pdf";
    QTest::newRow("null title") << QString() << "/home/u/Документы/план.pdf"
                                << QString::fromUtf8("план.pdf\n/home/u/Документы/план.pdf");
    QTest::newRow("percent signs") << "100% %2 %1" << "/x/%1.pdf" << "100% %2 %1\n/x/%1.pdf";
  }
  void rowsShowNameThenPath() {
    QFETCH(QString, title);
    QFETCH(QString, path);
    StartView v(nullptr);
    v.setRecents({RecentEntry{QStringLiteral("/other/first.pdf"), QStringLiteral("First")},
                  RecentEntry{path, title}});
    QCOMPARE(list(v)->count(), 2);
    QListWidgetItem* item = list(v)->item(1);
    QTEST(item->text(), "text");
    QCOMPARE(item->data(Qt::UserRole).toString(), path);
    QVERIFY(item->flags() & Qt::ItemIsEnabled);
    QCOMPARE(list(v)->item(0)->text(), QStringLiteral("First\n/other/first.pdf"));
  }

  void emptyListShowsOneInertRow() {
    StartView v(nullptr);
    v.setRecents({RecentEntry{"/a.pdf", "A"}, RecentEntry{"/b.pdf", "B"}, RecentEntry{"/c.pdf", ""}});
    v.setRecents({RecentEntry{"/d.pdf", "D"}});
    QCOMPARE(list(v)->count(), 1);
    QCOMPARE(list(v)->item(0)->text(), QStringLiteral("D\n/d.pdf"));
    v.setRecents({});
    QCOMPARE(list(v)->count(), 1);
    QListWidgetItem* empty = list(v)->item(0);
    QCOMPARE(empty->text(), QString::fromUtf8("Пока пусто"));
    QCOMPARE(empty->flags(), Qt::NoItemFlags);
    QVERIFY(!empty->data(Qt::UserRole).isValid());
  }

  void clicksEmitTheirSignalsOnly() {
    StartView v(nullptr);
    v.resize(900, 700);
    v.show();
    QVERIFY(QTest::qWaitForWindowExposed(&v));
    QSignalSpy paths(&v, &StartView::openPath);
    QSignalSpy opens(&v, &StartView::openRequested);

    v.setRecents({RecentEntry{"/docs/one.pdf", "Первый"}, RecentEntry{"/docs/two.pdf", "Второй"}});
    clickRow(v, 1);
    QCOMPARE(paths.count(), 1);
    QCOMPARE(paths.takeFirst().at(0).toString(), QStringLiteral("/docs/two.pdf"));

    QTest::mouseClick(v.findChild<QPushButton*>(QStringLiteral("startOpen")), Qt::LeftButton);
    QCOMPARE(opens.count(), 1);
    QCOMPARE(paths.count(), 0);

    v.setRecents({});
    clickRow(v, 0);
    QTest::mouseDClick(list(v)->viewport(), Qt::LeftButton, {},
                       list(v)->visualItemRect(list(v)->item(0)).center());
    QCOMPARE(paths.count(), 0);
    QCOMPARE(opens.count(), 1);
    QVERIFY(list(v)->selectedItems().isEmpty());
  }
};

QTEST_MAIN(StartViewTest)
#include "test_startview.moc"
