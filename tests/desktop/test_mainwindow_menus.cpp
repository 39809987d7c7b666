// The File menu and the main toolbar: entries and their order, what the reduced edition hides,
// the tools, swatches and stroke widths, and what the view controls do to the current tab.
#include <QAction>
#include <QActionGroup>
#include <QComboBox>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QRawFont>
#include <QSet>
#include <QSettings>
#include <QSpinBox>
#include <QToolBar>
#include <QToolButton>
#include <QWidgetAction>
#include <QtTest>

#include "desktop/window/lang.h"
#include "test_mainwindow_support.h"

using quorvel::desktop::MainWindow;
using quorvel::desktop::PdfView;
using namespace quorvel::test;

namespace {

QMenu* fileMenu(MainWindow& w) { return w.menuBar()->actions().at(0)->menu(); }
QToolBar* toolbar(MainWindow& w) { return w.findChild<QToolBar*>(); }

QList<QAction*> entries(QMenu* m) {
  QList<QAction*> out;
  for (QAction* a : m->actions())
    if (!a->isSeparator()) out << a;
  return out;
}

QList<QAction*> tools(MainWindow& w) {
  QList<QAction*> out;
  for (QAction* a : toolbar(w)->actions())
    if (a->property("mode").isValid()) out << a;
  return out;
}

QList<QToolButton*> swatches(MainWindow& w) {
  QList<QToolButton*> out;
  for (QToolButton* b : w.findChildren<QToolButton*>())
    if (b->styleSheet().startsWith(QStringLiteral("QToolButton{background:#"))) out << b;
  return out;
}

// What the user reads on a toolbar item: the tooltip for icon buttons, else the text.
QString itemLabel(QToolBar* bar, QAction* a) {
  if (a->isSeparator()) return QStringLiteral("|");
  if (auto* wa = qobject_cast<QWidgetAction*>(a)) {
    QWidget* w = bar->widgetForAction(wa);
    if (auto* l = qobject_cast<QLabel*>(w)) return QStringLiteral("label:") + l->text();
    if (qobject_cast<QSpinBox*>(w)) return QStringLiteral("spin");
    if (qobject_cast<QComboBox*>(w)) return QStringLiteral("combo");
    return QStringLiteral("widget");
  }
  if (!bar->widgetForAction(a)) return QStringLiteral("action:") + a->text();
  return a->icon().isNull() ? a->text() : QStringLiteral("icon:") + a->toolTip();
}

}  // namespace

class MainWindowMenusTest : public QObject {
  Q_OBJECT

  TempDir dir;
  QString onePage, twoPages;

 private slots:
  void initTestCase() {
    QCoreApplication::setOrganizationName(QStringLiteral("Quorvel"));
    QCoreApplication::setApplicationName(QStringLiteral("PDF Dodiru Quorvel"));
    onePage = writeTestFile(dir, "one.pdf", text_pdf({"one"}));
    twoPages = writeTestFile(dir, "two.pdf", text_pdf({"a", "b", "c"}));
  }
  void init() {
    qunsetenv("QUORVEL_EDITION");
    QSettings().clear();
    quorvel::desktop::g_lang = 0;
  }

  void fileMenuHas37EntriesInOrder_data() {
    QTest::addColumn<int>("lang");
    QTest::newRow("ru") << 0;
    QTest::newRow("en") << 1;
  }
  void fileMenuHas37EntriesInOrder() {
    QFETCH(int, lang);
    quorvel::desktop::g_lang = lang;
    MainWindow w;
    QMenu* m = fileMenu(w);
    QCOMPARE(w.menuBar()->actions().at(0)->text(), lang ? QStringLiteral("&File") : QStringLiteral("&Файл"));
    QStringList shown;
    for (QAction* a : m->actions()) shown << (a->isSeparator() ? QStringLiteral("|") : a->text());
    const QStringList en{
        "Open", "Save as…", "Print…", "|", "Recognize text (OCR)", "Make PDF searchable (OCR layer)…",
        "Extract data (requisites/contacts)", "Extract tables (CSV)…", "Document properties…",
        "Bookmarks (outline)…", "Crop pages…", "Images on page…", "Optimize (shrink)…", "Insert page…",
        "Form designer…", "Translate document (AI)…", "Redact PII (email/phone/INN)…",
        "Compare with version…", "Compare visually (side by side)…", "Send as request…", "My requests…",
        "Export to text / HTML / Word…", "Export annotations (XFDF)…", "Import annotations (XFDF)…",
        "Protect with password (AES-256)…", "Sign (insert image)…", "Sign with certificate (PKCS#12)…",
        "Replace text…", "Watermark…", "Bates numbering…", "Sanitize (JS/metadata/attachments)…", "|",
        "Merge with PDF…", "Extract pages to PDF…", "Split by bookmarks…", "Merge PDF folder…",
        "N-up (pages per sheet)…", "Export page to PNG…", "Export all pages to PNG…"};
    const QStringList ru{
        "Открыть", "Сохранить как…", "Печать…", "|", "Распознать текст (OCR)",
        "Сделать PDF искабельным (OCR-слой)…", "Извлечь данные (реквизиты/контакты)",
        "Извлечь таблицы (CSV)…", "Свойства документа…", "Закладки (оглавление)…", "Обрезать страницы…",
        "Изображения страницы…", "Оптимизировать (сжать)…", "Вставить страницу…", "Конструктор форм…",
        "Перевести документ (ИИ)…", "Вычеркнуть PII (email/телефон/ИНН)…", "Сравнить с версией…",
        "Сравнить визуально (бок о бок)…", "Отправить как заявку…", "Мои заявки…",
        "Экспорт в текст / HTML / Word…", "Экспорт аннотаций (XFDF)…", "Импорт аннотаций (XFDF)…",
        "Защитить паролем (AES-256)…", "Подписать (вставить изображение)…",
        "Подписать сертификатом (PKCS#12)…", "Заменить текст…", "Водяной знак…", "Нумерация Бейтса…",
        "Очистить (JS/метаданные/вложения)…", "|", "Объединить с PDF…", "Извлечь страницы в PDF…",
        "Разбить по закладкам…", "Объединить папку PDF…", "N-up (страниц на лист)…",
        "Экспорт страницы в PNG…", "Экспорт всех страниц в PNG…"};
    QCOMPARE(shown, lang ? en : ru);
    QCOMPARE(entries(m).size(), 37);

    // Open is the toolbar's first action; it works, and so does every other entry.
    QAction* open = entries(m).at(0);
    QCOMPARE(toolbar(w)->actions().at(0), open);
    QCOMPARE(open->shortcut(), QKeySequence(QStringLiteral("Ctrl+O")));
    QCOMPARE(open->toolTip(), lang ? QStringLiteral("Open PDF  (Ctrl+O)") : QStringLiteral("Открыть PDF  (Ctrl+O)"));
    for (QAction* entry : entries(m)) QVERIFY2(entry->isEnabled(), qPrintable(entry->text()));
    QCOMPARE(entries(m).at(1)->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+S")));
    QCOMPARE(entries(m).at(2)->shortcut(), QKeySequence(QStringLiteral("Ctrl+P")));
    // The entry shows its key whatever the desktop's own key table holds.
    QCOMPARE(entries(m).at(1)->shortcut().toString(QKeySequence::PortableText), QStringLiteral("Ctrl+Shift+S"));
  }

  // Pressed on the window, each key runs its command: the dialog of that command appears.
  void keysRunTheirCommands_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("dialog");  // empty: the search field takes the focus instead
    QTest::newRow("Ctrl+O") << int(Qt::Key_O) << int(Qt::ControlModifier) << QStringLiteral("Открыть PDF");
    QTest::newRow("Ctrl+Shift+S") << int(Qt::Key_S) << int(Qt::ControlModifier | Qt::ShiftModifier)
                                  << QStringLiteral("Сохранить как");
    QTest::newRow("Ctrl+P") << int(Qt::Key_P) << int(Qt::ControlModifier) << QStringLiteral("Печать");
    QTest::newRow("Ctrl+F") << int(Qt::Key_F) << int(Qt::ControlModifier) << QString();
  }
  void keysRunTheirCommands() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, dialog);
    MainWindow w;
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.openFile(onePage);
    w.currentView()->setFocus();
    ModalAnswerer answer({rejectDialog()});
    QTest::keyClick(&w, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    if (dialog.isEmpty()) {
      QCOMPARE(answer.seen.size(), 0);
      QVERIFY(w.findChild<QLineEdit*>(QStringLiteral("searchEdit"))->hasFocus());
    } else {
      QCOMPARE(answer.seen.size(), 1);
      QCOMPARE(answer.seen.at(0).title, dialog);
    }
  }

  void toolbarItemsInOrder() {
    MainWindow w;
    QToolBar* bar = toolbar(w);
    QCOMPARE(bar->windowTitle(), QStringLiteral("Основное"));
    QCOMPARE(bar->iconSize(), QSize(20, 20));
    QCOMPARE(bar->toolButtonStyle(), Qt::ToolButtonIconOnly);
    QVERIFY(!bar->isMovable());
    QStringList items;
    for (QAction* a : bar->actions()) items << itemLabel(bar, a);
    QCOMPARE(items, (QStringList{
                        "icon:Открыть PDF  (Ctrl+O)", "|", "icon:Уменьшить", "label:100%", "icon:Увеличить",
                        "icon:По ширине", "⊡", "1:1", "|", "icon:Одна страница", "icon:Две страницы",
                        "icon:Книга", "|", "icon:Повернуть влево", "icon:Повернуть вправо", "|",
                        "label:Стр.", "spin", "label:/ 0", "|", "icon:Выбор / удаление аннотаций",
                        "icon:Маркер (выделение области)", "icon:Карандаш", "U", "S",
                        "icon:Волнистое подчёркивание", "▭", "◯", "icon:Линия", "→", "T",
                        "icon:Заметка (стикер)", "✓", "T+", "⌫", "icon:Удалить выбранную (Del)", "|", "widget",
                        "combo"}));
    auto* zoom = w.findChild<QLabel*>(QStringLiteral("zoomLabel"));
    QCOMPARE(zoom->minimumWidth(), 52);
    QCOMPARE(zoom->alignment(), Qt::AlignCenter);
    auto* spin = w.findChild<QSpinBox*>();
    QCOMPARE(spin->buttonSymbols(), QAbstractSpinBox::NoButtons);
    QCOMPARE(spin->maximum(), 0);
    QVERIFY(w.findChild<QLabel*>(QStringLiteral("muted")));
  }

  // A missing or broken resource would leave a blank button; every icon must draw.
  void everyToolbarIconDraws() {
    MainWindow w;  // registers the compiled-in resources
    for (const char* name : {"open", "zoom-out", "zoom-in", "fit-width", "layout-single", "layout-two",
                             "layout-book", "rotate-ccw", "rotate-cw", "cursor", "highlighter", "pen",
                             "squiggly", "line", "note", "trash"}) {
      const QImage img = QIcon(QStringLiteral(":/icons/%1.svg").arg(QString::fromLatin1(name)))
                             .pixmap(QSize(20, 20))
                             .toImage();
      QVERIFY2(!img.isNull(), name);
      int painted = 0;
      for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) painted += qAlpha(img.pixel(x, y)) > 0 ? 1 : 0;
      QVERIFY2(painted > 10, name);
    }
  }

  // A button drawn from text shows an empty box where its font lacks a glyph. Stock Debian
  // desktops have DejaVu Sans and no font with more symbols: every button has an icon or
  // symbols that font holds.
  void everyToolbarButtonHasAnIconOrAGlyphOfTheStockFont() {
    const QRawFont dejavu(QStringLiteral("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"), 20);
    QVERIFY2(dejavu.isValid(), "fonts-dejavu-core is part of the set-up");
    MainWindow w;
    QToolBar* bar = toolbar(w);
    int buttons = 0;
    for (QAction* a : bar->actions()) {
      if (a->isSeparator() || !qobject_cast<QToolButton*>(bar->widgetForAction(a))) continue;
      ++buttons;
      if (!a->icon().isNull()) continue;
      QVERIFY2(!a->text().isEmpty(), qPrintable(a->toolTip()));
      for (char32_t c : a->text().toUcs4())
        QVERIFY2(dejavu.supportsCharacter(c),
                 qPrintable(QStringLiteral("%1 (%2) U+%3").arg(a->text(), a->toolTip()).arg(uint(c), 4, 16)));
    }
    QCOMPARE(buttons, 27);
  }

  void toolsInOrderWithModes() {
    MainWindow w;
    QList<int> modes;
    QStringList tips;
    for (QAction* a : tools(w)) {
      modes << a->property("mode").toInt();
      QVERIFY(a->isCheckable());
      QCOMPARE(a->isChecked(), modes.last() == 0);
      tips << a->toolTip();
    }
    QCOMPARE(modes, (QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12, 13, 14, 11}));
    QCOMPARE(tips.last(), QStringLiteral("Ластик (удалить аннотацию)"));
    QVERIFY(tools(w).first()->actionGroup()->isExclusive());

    w.openFile(onePage);
    tools(w).at(11)->trigger();  // sticky note
    QCOMPARE(static_cast<int>(w.currentView()->toolMode), 12);
    QVERIFY(!tools(w).at(0)->isChecked());
    tools(w).last()->trigger();
    QCOMPARE(static_cast<int>(w.currentView()->toolMode), 11);
    // A new tab takes the checked tool.
    w.openFile(twoPages);
    QCOMPARE(static_cast<int>(w.currentView()->toolMode), 11);
  }

  // Exactly the 34 entries of the reduced edition are hidden; commands, view controls, the page
  // field and the Select tool stay.
  void reducedEditionHidesExactlyItsEntries() {
    MainWindow w;
    for (QAction* a : entries(fileMenu(w))) QVERIFY(a->isVisible());
    w.setMvpMode(true);
    QStringList hiddenMenu;
    for (QAction* a : entries(fileMenu(w)))
      if (!a->isVisible()) hiddenMenu << a->text();
    QCOMPARE(hiddenMenu, (QStringList{
                             "Сохранить как…", "Вычеркнуть PII (email/телефон/ИНН)…", "Сравнить с версией…",
                             "Сравнить визуально (бок о бок)…", "Экспорт в текст / HTML / Word…",
                             "Защитить паролем (AES-256)…", "Подписать (вставить изображение)…",
                             "Подписать сертификатом (PKCS#12)…", "Заменить текст…", "Водяной знак…",
                             "Нумерация Бейтса…", "Очистить (JS/метаданные/вложения)…", "Объединить с PDF…",
                             "Извлечь страницы в PDF…", "Разбить по закладкам…", "Объединить папку PDF…",
                             "N-up (страниц на лист)…"}));
    QStringList hiddenBar;
    QToolBar* bar = toolbar(w);
    for (QAction* a : bar->actions())
      if (!a->isSeparator() && !a->isVisible()) hiddenBar << itemLabel(bar, a);
    QCOMPARE(hiddenBar, (QStringList{"icon:Маркер (выделение области)", "icon:Карандаш", "U", "S",
                                     "icon:Волнистое подчёркивание", "▭", "◯", "icon:Линия", "→", "T",
                                     "icon:Заметка (стикер)", "✓", "T+", "⌫", "icon:Удалить выбранную (Del)",
                                     "widget", "combo"}));
    QCOMPARE(hiddenMenu.size() + hiddenBar.size(), 34);
    QVERIFY(tools(w).at(0)->isVisible());
    for (QAction* a : bar->actions())
      if (bar->widgetForAction(a) == w.findChild<QSpinBox*>()) QVERIFY(a->isVisible());
  }

  void swatchesAreExclusiveAndColourTheView() {
    MainWindow w;
    w.show();
    const QList<QToolButton*> s = swatches(w);
    QCOMPARE(s.size(), 4);
    QStringList tips;
    for (QToolButton* b : s) tips << b->toolTip();
    QCOMPARE(tips, (QStringList{"Жёлтый", "Зелёный", "Голубой", "Розовый"}));
    QVERIFY(s[0]->isChecked());
    QCOMPARE(s[0]->size(), QSize(22, 22));
    QVERIFY(s[2]->styleSheet().contains(QStringLiteral("#6ec6ff")));

    // Without a tab only the buttons change; the colour waits for the next tab.
    QTest::mouseClick(s[1], Qt::LeftButton);
    QCOMPARE(s[0]->isChecked(), false);
    QCOMPARE(s[1]->isChecked(), true);
    QTest::mouseClick(s[1], Qt::LeftButton);  // clicking the checked one keeps it checked
    QCOMPARE(s[1]->isChecked(), true);
    w.openFile(onePage);
    QCOMPARE(w.currentView()->highlightColor, 0x8BE58Bu);
    QCOMPARE(w.currentView()->penColor, 0xE53935u);

    QTest::mouseClick(s[3], Qt::LeftButton);
    QCOMPARE(w.currentView()->highlightColor, 0xFF8AC2u);
    QCOMPARE(w.currentView()->penColor, 0xFF8AC2u);
    int checked = 0;
    for (QToolButton* b : s) checked += b->isChecked() ? 1 : 0;
    QCOMPARE(checked, 1);
  }

  void strokeWidthChangesTheCurrentTabOnly() {
    MainWindow w;
    WindowProbe p{w};
    auto* combo = w.findChild<QComboBox*>();
    QStringList items;
    QList<int> data;
    for (int i = 0; i < combo->count(); ++i) {
      items << combo->itemText(i);
      data << combo->itemData(i).toInt();
    }
    QCOMPARE(items, (QStringList{"1 pt", "2 pt", "4 pt", "6 pt", "8 pt"}));
    QCOMPARE(data, (QList<int>{1, 2, 4, 6, 8}));
    QCOMPARE(combo->currentIndex(), 1);
    QCOMPARE(combo->toolTip(), QStringLiteral("Толщина линии"));

    w.openFile(onePage);
    w.openFile(twoPages);
    combo->setCurrentIndex(4);
    QCOMPARE(p.view(1)->penWidth, 8.0);
    QCOMPARE(p.view(0)->penWidth, 2.0);
    p.tabs()->setCurrentIndex(0);
    QCOMPARE(p.view(0)->penWidth, 2.0);
  }

  // The layout buttons and the stroke width show the state of the current tab's view, on a
  // switch of tabs and when a tab opens.
  void layoutAndStrokeWidthFollowTheCurrentTab() {
    MainWindow w;
    WindowProbe p{w};
    QToolBar* bar = toolbar(w);
    auto layout = [bar](const char* tip) {
      for (QAction* a : bar->actions())
        if (a->toolTip() == QString::fromUtf8(tip)) return a;
      return static_cast<QAction*>(nullptr);
    };
    auto* combo = w.findChild<QComboBox*>();
    w.openFile(onePage);
    layout("Книга")->trigger();
    combo->setCurrentIndex(4);
    QCOMPARE(p.view(0)->viewMode, PdfView::Book);
    QCOMPARE(p.view(0)->penWidth, 8.0);

    w.openFile(twoPages);  // a new view: one page, 2 pt
    QVERIFY(layout("Одна страница")->isChecked());
    QCOMPARE(combo->currentText(), QStringLiteral("2 pt"));
    layout("Две страницы")->trigger();

    p.tabs()->setCurrentIndex(0);
    QVERIFY(layout("Книга")->isChecked());
    QCOMPARE(combo->currentText(), QStringLiteral("8 pt"));
    p.tabs()->setCurrentIndex(1);
    QVERIFY(layout("Две страницы")->isChecked());
    QCOMPARE(combo->currentText(), QStringLiteral("2 pt"));
    // Showing a state changes no view.
    QCOMPARE(p.view(0)->viewMode, PdfView::Book);
    QCOMPARE(p.view(0)->penWidth, 8.0);
    QCOMPARE(p.view(1)->viewMode, PdfView::TwoPage);
    QCOMPARE(p.view(1)->penWidth, 2.0);
  }

  void viewControlsActOnTheCurrentTab() {
    MainWindow w;
    w.resize(1100, 780);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QToolBar* bar = toolbar(w);
    auto byTip = [bar](const QString& tip) -> QAction* {
      for (QAction* a : bar->actions())
        if (a->toolTip() == tip || a->text() == tip) return a;
      return nullptr;
    };
    // Without a tab the layout action still checks, and nothing else happens.
    byTip(QStringLiteral("Две страницы"))->trigger();
    QVERIFY(byTip(QStringLiteral("Две страницы"))->isChecked());
    w.openFile(twoPages);
    PdfView* v = w.currentView();
    QCOMPARE(v->viewMode, PdfView::Single);
    byTip(QStringLiteral("Книга"))->trigger();
    QCOMPARE(v->viewMode, PdfView::Book);

    byTip(QStringLiteral("1:1"))->trigger();
    QCOMPARE(v->scale, 1.0);
    auto* zoom = w.findChild<QLabel*>(QStringLiteral("zoomLabel"));
    byTip(QStringLiteral("Увеличить"))->trigger();
    QCOMPARE(v->scale, 1.25);
    QCOMPARE(zoom->text(), QStringLiteral("125%"));
    byTip(QStringLiteral("Уменьшить"))->trigger();
    QCOMPARE(zoom->text(), QStringLiteral("100%"));

    byTip(QStringLiteral("Повернуть вправо"))->trigger();
    QCOMPARE(v->viewRotation, 1);
    byTip(QStringLiteral("Повернуть влево"))->trigger();
    byTip(QStringLiteral("Повернуть влево"))->trigger();
    QCOMPARE(v->viewRotation, 3);

    // The page field turns the page; 0 does nothing.
    byTip(QStringLiteral("Одна страница"))->trigger();
    auto* spin = w.findChild<QSpinBox*>();
    QCOMPARE(spin->maximum(), 3);
    spin->setValue(3);
    QTRY_COMPARE(v->currentPage(), 3);
    spin->setValue(0);
    QCOMPARE(v->currentPage(), 3);
    // Scrolling the viewer moves the field without turning the page back.
    v->goToPage(2);
    QTRY_COMPARE(spin->value(), 2);
    QCOMPARE(v->currentPage(), 2);
  }
};

QTEST_MAIN(MainWindowMenusTest)
#include "test_mainwindow_menus.moc"
