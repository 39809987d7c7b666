// The comments panel: one line per annotation of the bound viewer, the empty-list text in both
// languages, clicks that select and scroll, and rebinding.
#include <QListWidget>
#include <QScrollBar>
#include <QtTest>

#include "lang_guard.h"
#include "desktop/panels/CommentsPanel.h"
#include "desktop/viewer/PdfView.h"
#include "desktop/window/lang.h"
#include "test_panels_fake.h"

using quorvel::annot::Annotation;
using quorvel::annot::AnnotType;
using quorvel::desktop::CommentsPanel;
using quorvel::desktop::PdfView;
using quorvel::test::FakeDocument;

namespace {

Annotation make(const char* id, int page, AnnotType type, uint32_t colour, const char* text = "") {
  Annotation a;
  a.id = id;
  a.page = page;
  a.type = type;
  a.color = colour;
  a.x0 = 100;
  a.y0 = 300;
  a.x1 = 200;
  a.y1 = 340;
  a.text = text;
  return a;
}

QListWidget* listOf(CommentsPanel& p) { return p.findChild<QListWidget*>(QStringLiteral("commentsList")); }

QStringList texts(CommentsPanel& p) {
  QStringList out;
  for (int i = 0; i < listOf(p)->count(); ++i) out << listOf(p)->item(i)->text();
  return out;
}

void clickRow(CommentsPanel& p, int row) {
  QListWidget* l = listOf(p);
  l->scrollToItem(l->item(row));
  QTest::mouseClick(l->viewport(), Qt::LeftButton, {}, l->visualItemRect(l->item(row)).center());
}

using quorvel::test::LangGuard;

}  // namespace

class CommentsPanelTest : public QObject {
  Q_OBJECT

 private slots:
  void linesShowLabelKindAndPageInListOrder() {
    PdfView view;
    view.resize(640, 820);
    view.show();
    view.setDocument(FakeDocument::letter(6));
    CommentsPanel panel;
    panel.resize(260, 400);
    panel.show();
    panel.setView(&view);

    Annotation faint = make("h1", 0, AnnotType::Highlight, 0x2E7D32);
    faint.opacity = 60;
    view.addAnnotation(faint);
    view.addAnnotation(make("заметка-1", 0, AnnotType::Note, 0x1565C0, "Проверить %1 подпись"));
    view.addAnnotation(make("r1", 0, AnnotType::Rectangle, 0xE53935));
    view.addAnnotation(make("i1", 4, AnnotType::Ink, 0x000000));
    view.addAnnotation(make("u1", 1, AnnotType::Underline, 0xFFEB3B));

    QCOMPARE(texts(panel), (QStringList{
        "Выделение 1   ·   стр. 1",
        "Проверить %1 подпись   ·   стр. 1",
        " 3   ·   стр. 1",
        "Рисунок 4   ·   стр. 5",
        " 5   ·   стр. 2",
    }));
    const QStringList tips{"Выделение", "Заметка", "", "Рисунок", ""};
    const QStringList ids{"h1", "заметка-1", "r1", "i1", "u1"};
    for (int i = 0; i < 5; ++i) {
      QListWidgetItem* it = listOf(panel)->item(i);
      QCOMPARE(it->toolTip(), tips[i]);
      QCOMPARE(it->data(Qt::UserRole).toString(), ids[i]);
    }

    // The swatch: the annotation's colour, opaque whatever its opacity, in a rounded square.
    const QImage swatch = listOf(panel)->item(0)->icon().pixmap(16, 16).toImage();
    QCOMPARE(swatch.size(), QSize(16, 16));
    QCOMPARE(swatch.pixelColor(8, 8), QColor(0x2E, 0x7D, 0x32));
    QCOMPARE(swatch.pixelColor(0, 0).alpha(), 0);
    QCOMPARE(swatch.pixelColor(1, 1).alpha() < 255, true);
  }

  void emptyListText_data() {
    QTest::addColumn<int>("lang");
    QTest::addColumn<QString>("text");
    QTest::newRow("ru") << 0 << "Пока нет комментариев";
    QTest::newRow("en") << 1 << "No comments yet";
    QTest::newRow("other") << 3 << "Пока нет комментариев";
  }
  void emptyListText() {
    QFETCH(int, lang);
    QFETCH(QString, text);
    LangGuard guard(lang);
    PdfView view;
    view.setDocument(FakeDocument::letter(2));
    CommentsPanel panel;
    QCOMPARE(listOf(panel)->count(), 0);
    panel.setView(&view);
    QCOMPARE(texts(panel), QStringList{text});
    QCOMPARE(listOf(panel)->item(0)->flags(), Qt::NoItemFlags);
    QVERIFY(!listOf(panel)->item(0)->data(Qt::UserRole).isValid());

    // The text is chosen at each rebuild.
    view.addAnnotation(make("a", 0, AnnotType::Note, 0, "x"));
    view.clearAnnotations();
    QCOMPARE(texts(panel), QStringList{text});
    panel.setView(nullptr);
    QCOMPARE(listOf(panel)->count(), 0);
  }

  void clickSelectsAndScrollsToTheAnnotation() {
    PdfView view;
    view.resize(640, 820);
    view.show();
    view.setDocument(FakeDocument::letter(6));
    view.addAnnotation(make("first", 0, AnnotType::Note, 0x1565C0, "a"));
    view.addAnnotation(make("лист-4", 3, AnnotType::Highlight, 0xFFEB3B));
    CommentsPanel panel;
    panel.resize(260, 400);
    panel.show();
    panel.setView(&view);
    QCOMPARE(view.verticalScrollBar()->value(), 0);

    clickRow(panel, 1);
    QCOMPARE(QString::fromStdString(view.selectedId), QStringLiteral("лист-4"));
    QCOMPARE(view.currentPage(), 4);

    clickRow(panel, 0);
    QCOMPARE(view.selectedId, std::string("first"));

    // An entry whose annotation is gone does nothing.
    view.annotations.erase(view.annotations.begin() + 1);
    const int scroll = view.verticalScrollBar()->value();
    clickRow(panel, 1);
    QCOMPARE(view.selectedId, std::string("first"));
    QCOMPARE(view.verticalScrollBar()->value(), scroll);
  }

  void placeholderDoesNothing() {
    PdfView view;
    view.resize(640, 820);
    view.show();
    view.setDocument(FakeDocument::letter(4));
    view.goToPage(3);
    CommentsPanel panel;
    panel.show();
    panel.setView(&view);
    QListWidgetItem* none = listOf(panel)->item(0);
    emit listOf(panel)->itemClicked(none);
    clickRow(panel, 0);
    QCOMPARE(view.currentPage(), 3);
    QVERIFY(view.selectedId.empty());
  }

  void rebindingReplacesTheList() {
    PdfView a, b;
    a.setDocument(FakeDocument::letter(2));
    b.setDocument(FakeDocument::letter(2));
    a.addAnnotation(make("a1", 0, AnnotType::Note, 0, "из A"));
    b.addAnnotation(make("b1", 1, AnnotType::Note, 0, "из B"));
    CommentsPanel panel;
    panel.show();
    panel.setView(&a);
    panel.setView(&a);
    QCOMPARE(texts(panel), QStringList{"из A   ·   стр. 1"});
    a.addAnnotation(make("a2", 1, AnnotType::Ink, 0));
    QCOMPARE(listOf(panel)->count(), 2);

    panel.setView(&b);
    QCOMPARE(texts(panel), QStringList{"из B   ·   стр. 2"});
    a.clearAnnotations();
    QCOMPARE(texts(panel), QStringList{"из B   ·   стр. 2"});

    {
      PdfView gone;
      gone.setDocument(FakeDocument::letter(1));
      gone.addAnnotation(make("g", 0, AnnotType::Note, 0, "g"));
      panel.setView(&gone);
    }
    // A view destroyed before the panel was rebound: the stale line leads nowhere.
    clickRow(panel, 0);
    panel.rebuild();
    QCOMPARE(listOf(panel)->count(), 0);
    panel.setView(&b);
    QCOMPARE(listOf(panel)->count(), 1);
  }
};

QTEST_MAIN(CommentsPanelTest)
#include "test_panels_comments.moc"
