// The preferences dialog: what it shows for stored values, what OK writes and applies, and
// that Cancel changes nothing.
#include <QActionGroup>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QSpinBox>
#include <QtTest>

#include "desktop/window/lang.h"
#include "lang_guard.h"
#include "test_mainwindow_support.h"

using quorvel::desktop::MainWindow;
using quorvel::desktop::PdfView;
using namespace quorvel::test;

namespace {

QAction* preferencesEntry(MainWindow& w) {
  QMenu* view = w.menuBar()->actions().at(1)->menu();
  return view->actions().last();
}

// What the dialog showed, read while it was open.
struct Shown {
  QString title;
  QStringList rows;  // "label: current text" per row, the note as it stands
  QStringList themes, tools;
  QString autosaveText;
};

Shown read(QWidget* dialog) {
  Shown s;
  s.title = dialog->windowTitle();
  auto* form = dialog->findChild<QFormLayout*>();
  for (int r = 0; r < form->rowCount(); ++r) {
    QLayoutItem* labelItem = form->itemAt(r, QFormLayout::LabelRole);
    QLayoutItem* fieldItem = form->itemAt(r, QFormLayout::FieldRole);
    QLayoutItem* spanItem = form->itemAt(r, QFormLayout::SpanningRole);
    const QString label = labelItem ? qobject_cast<QLabel*>(labelItem->widget())->text() : QString();
    QWidget* field = fieldItem ? fieldItem->widget() : spanItem->widget();
    if (auto* combo = qobject_cast<QComboBox*>(field))
      s.rows << label + QStringLiteral(": ") + combo->currentText();
    else if (auto* spin = qobject_cast<QSpinBox*>(field))
      s.rows << label + QStringLiteral(": ") + spin->text();
    else if (auto* note = qobject_cast<QLabel*>(field))
      s.rows << note->objectName() + QStringLiteral(": ") + note->text();
    else if (qobject_cast<QDialogButtonBox*>(field))
      s.rows << QStringLiteral("buttons");
  }
  auto items = [](QComboBox* c) {
    QStringList out;
    for (int i = 0; i < c->count(); ++i) out << c->itemText(i) + QLatin1Char('=') + c->itemData(i).toString();
    return out;
  };
  s.themes = items(dialog->findChild<QComboBox*>(QStringLiteral("themeCombo")));
  s.tools = items(dialog->findChild<QComboBox*>(QStringLiteral("defaultToolCombo")));
  return s;
}

// Reads the dialog, optionally changes it, then presses OK or Cancel.
ModalAnswerer::Answer answerPreferences(Shown* shown, std::function<void(QWidget*)> change, bool ok) {
  return [=](QWidget* w) {
    *shown = read(w);
    if (change) change(w);
    auto* box = w->findChild<QDialogButtonBox*>();
    box->button(ok ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)->click();
  };
}

QVariant stored(const char* key) { return QSettings().value(QString::fromLatin1(key)); }

}  // namespace

class MainWindowPreferencesTest : public QObject {
  Q_OBJECT

  TempDir dir;
  QString onePage;

 private slots:
  void initTestCase() {
    QCoreApplication::setOrganizationName(QStringLiteral("Quorvel"));
    QCoreApplication::setApplicationName(QStringLiteral("PDF Dodiru Quorvel"));
    onePage = writeTestFile(dir, "one.pdf", text_pdf({"one"}));
  }
  void init() {
    QSettings().clear();
    quorvel::desktop::g_lang = 0;
  }

  void rowsShowTheStoredValues_data() {
    QTest::addColumn<int>("lang");
    QTest::addColumn<QVariant>("theme");
    QTest::addColumn<QVariant>("mode");
    QTest::addColumn<QVariant>("minutes");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QVariantList>("afterOk");  // theme, mode, minutes as stored by OK
    const QVariant unset;
    QTest::newRow("defaults") << 0 << unset << unset << unset
                              << QStringList{"Тема: Тёмная", "Инструмент при открытии: Выбор",
                                             "Автосохранение каждые: 2 мин",
                                             "muted: Тема применяется после перезапуска.", "buttons"}
                              << QVariantList{"dark", 0, 2};
    QTest::newRow("light, pen, off") << 0 << QVariant("light") << QVariant(2) << QVariant(0)
                                     << QStringList{"Тема: Светлая (системная)", "Инструмент при открытии: Карандаш",
                                                    "Автосохранение каждые: выключено",
                                                    "muted: Тема применяется после перезапуска.", "buttons"}
                                     << QVariantList{"light", 2, 0};
    // Only exactly "light" is light; a mode the dialog does not offer shows Select; the
    // spin box holds the interval within its range. OK stores what was shown.
    QTest::newRow("out of range") << 0 << QVariant("Light") << QVariant(7) << QVariant(45)
                                  << QStringList{"Тема: Тёмная", "Инструмент при открытии: Выбор",
                                                 "Автосохранение каждые: 30 мин",
                                                 "muted: Тема применяется после перезапуска.", "buttons"}
                                  << QVariantList{"dark", 0, 30};
    QTest::newRow("English") << 1 << unset << QVariant(1) << QVariant(5)
                             << QStringList{"Theme: Dark", "Default tool: Highlighter", "Autosave every: 5 min",
                                            "muted: The theme applies after a restart.", "buttons"}
                             << QVariantList{"dark", 1, 5};
  }
  void rowsShowTheStoredValues() {
    QFETCH(int, lang);
    QFETCH(QVariant, theme);
    QFETCH(QVariant, mode);
    QFETCH(QVariant, minutes);
    QFETCH(QVariantList, afterOk);
    LangGuard guard(lang);
    QSettings s;
    if (theme.isValid()) s.setValue(QStringLiteral("ui/theme"), theme);
    if (mode.isValid()) s.setValue(QStringLiteral("ui/defaultMode"), mode);
    if (minutes.isValid()) s.setValue(QStringLiteral("autosave/intervalMin"), minutes);
    s.sync();

    MainWindow w;
    WindowProbe p{w};
    Shown shown;
    {
      ModalAnswerer answer({answerPreferences(&shown, nullptr, true)});
      preferencesEntry(w)->trigger();
      QCOMPARE(answer.seen.size(), 1);
    }
    QCOMPARE(shown.title, lang ? QStringLiteral("Preferences") : QStringLiteral("Настройки"));
    QTEST(shown.rows, "rows");
    QCOMPARE(shown.themes, lang ? QStringList({"Dark=dark", "Light (system)=light"})
                                : QStringList({"Тёмная=dark", "Светлая (системная)=light"}));
    QCOMPARE(shown.tools, lang ? QStringList({"Select=0", "Highlighter=1", "Pen=2"})
                               : QStringList({"Выбор=0", "Маркер=1", "Карандаш=2"}));
    QCOMPARE(stored("ui/theme").toString(), afterOk.at(0).toString());
    QCOMPARE(stored("ui/defaultMode").toInt(), afterOk.at(1).toInt());
    QCOMPARE(stored("autosave/intervalMin").toInt(), afterOk.at(2).toInt());
    QCOMPARE(p.status(), lang ? QStringLiteral("Preferences saved") : QStringLiteral("Настройки сохранены"));
  }

  void okAppliesTheToolToTheCurrentViewOnly() {
    MainWindow w;
    w.openFile(onePage);
    w.openFile(onePage);
    PdfView* first = qobject_cast<PdfView*>(w.findChild<QTabWidget*>()->widget(0));
    Shown shown;
    {
      ModalAnswerer answer({answerPreferences(&shown, [](QWidget* d) {
        d->findChild<QComboBox*>(QStringLiteral("themeCombo"))->setCurrentIndex(1);
        d->findChild<QComboBox*>(QStringLiteral("defaultToolCombo"))->setCurrentIndex(2);
        d->findChild<QSpinBox*>(QStringLiteral("autosaveSpin"))->setValue(0);
      }, true)});
      w.preferencesDialog();
    }
    QCOMPARE(static_cast<int>(w.currentView()->toolMode), static_cast<int>(PdfView::Ink));
    QCOMPARE(static_cast<int>(first->toolMode), static_cast<int>(PdfView::Select));
    // The toolbar keeps its own choice, and a tab change applies it again.
    QActionGroup* tools = nullptr;
    for (QActionGroup* g : w.findChildren<QActionGroup*>())
      if (!g->actions().isEmpty() && g->actions().first()->property("mode").isValid()) tools = g;
    QVERIFY(tools);
    QCOMPARE(tools->checkedAction()->property("mode").toInt(), 0);
    QCOMPARE(stored("ui/theme").toString(), QStringLiteral("light"));
    QCOMPARE(stored("ui/defaultMode").toInt(), 2);
    QCOMPARE(stored("autosave/intervalMin").toInt(), 0);
    w.findChild<QTabWidget*>()->setCurrentIndex(0);
    w.findChild<QTabWidget*>()->setCurrentIndex(1);
    QCOMPARE(static_cast<int>(w.currentView()->toolMode), static_cast<int>(PdfView::Select));

    // The next window starts with the stored tool checked.
    MainWindow next;
    next.openFile(onePage);
    QCOMPARE(static_cast<int>(next.currentView()->toolMode), static_cast<int>(PdfView::Ink));
  }

  void cancelChangesNothing() {
    QSettings().setValue(QStringLiteral("autosave/intervalMin"), 4);
    MainWindow w;
    WindowProbe p{w};
    w.openFile(onePage);
    const QString before = p.status();
    Shown shown;
    {
      ModalAnswerer answer({answerPreferences(&shown, [](QWidget* d) {
        d->findChild<QComboBox*>(QStringLiteral("defaultToolCombo"))->setCurrentIndex(1);
        d->findChild<QSpinBox*>(QStringLiteral("autosaveSpin"))->setValue(9);
      }, false)});
      w.preferencesDialog();
    }
    QVERIFY(!QSettings().contains(QStringLiteral("ui/theme")));
    QVERIFY(!QSettings().contains(QStringLiteral("ui/defaultMode")));
    QCOMPARE(stored("autosave/intervalMin").toInt(), 4);
    QCOMPARE(static_cast<int>(w.currentView()->toolMode), static_cast<int>(PdfView::Select));
    QCOMPARE(p.status(), before);
  }
};

QTEST_MAIN(MainWindowPreferencesTest)
#include "test_mainwindow_preferences.moc"
