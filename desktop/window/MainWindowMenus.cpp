#include <QAction>
#include <QActionGroup>
#include <QComboBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSpinBox>
#include <QToolBar>
#include <QToolButton>

#include <array>
#include <memory>

#include "desktop/window/MainWindow.h"
#include "desktop/viewer/PdfView.h"
#include "desktop/window/lang.h"

namespace quorvel::desktop {

namespace {

using Command = void (*)(MainWindow&);
// Keys are spelled out: a platform's standard keys differ, and a plain X11 desktop has none for
// Save As.
constexpr int kNoKey = 0;
constexpr int kSaveAsKey = (Qt::CTRL | Qt::SHIFT | Qt::Key_S).toCombined();
constexpr int kPrintKey = (Qt::CTRL | Qt::Key_P).toCombined();

struct FileEntry {
  const char* ru;
  const char* en;
  int shortcut;  // a key combination, or kNoKey
  Command command;      // null: the command is not part of the program yet
  int editionRank;      // 1-based place among the entries the reduced edition hides; 0 none
  bool separatorBefore;
};

// The File menu after "Open", in menu order. An entry without a command stays in the menu,
// disabled, so the menu keeps its shape while the commands arrive.
constexpr FileEntry kFileEntries[] = {
    {"Сохранить как…", "Save as…", kSaveAsKey, [](MainWindow& w) { w.saveDocumentAs(); }, 1, false},
    {"Печать…", "Print…", kPrintKey, [](MainWindow& w) { w.printDocument(); }, 0, false},
    {"Распознать текст (OCR)", "Recognize text (OCR)", kNoKey, [](MainWindow& w) { w.ocrCurrentPage(); }, 0, true},
    {"Сделать PDF искабельным (OCR-слой)…", "Make PDF searchable (OCR layer)…", kNoKey, [](MainWindow& w) { w.ocrSearchable(); }, 0, false},
    {"Извлечь данные (реквизиты/контакты)", "Extract data (requisites/contacts)", kNoKey, [](MainWindow& w) { w.extractData(); }, 0, false},
    {"Извлечь таблицы (CSV)…", "Extract tables (CSV)…", kNoKey, [](MainWindow& w) { w.extractTablesCsv(); }, 0, false},
    {"Свойства документа…", "Document properties…", kNoKey, [](MainWindow& w) { w.documentPropertiesDialog(); }, 0, false},
    {"Закладки (оглавление)…", "Bookmarks (outline)…", kNoKey, [](MainWindow& w) { w.editBookmarksDialog(); }, 0, false},
    {"Обрезать страницы…", "Crop pages…", kNoKey, [](MainWindow& w) { w.cropPagesDialog(); }, 0, false},
    {"Изображения страницы…", "Images on page…", kNoKey, [](MainWindow& w) { w.pageImagesDialog(); }, 0, false},
    {"Оптимизировать (сжать)…", "Optimize (shrink)…", kNoKey, [](MainWindow& w) { w.optimizePdfDialog(); }, 0, false},
    {"Вставить страницу…", "Insert page…", kNoKey, [](MainWindow& w) { w.insertPageDialog(); }, 0, false},
    {"Конструктор форм…", "Form designer…", kNoKey, [](MainWindow& w) { w.formDesignerDialog(); }, 0, false},
    {"Перевести документ (ИИ)…", "Translate document (AI)…", kNoKey, [](MainWindow& w) { w.translateDialog(); }, 0, false},
    {"Вычеркнуть PII (email/телефон/ИНН)…", "Redact PII (email/phone/INN)…", kNoKey, [](MainWindow& w) { w.redactPii(); }, 2, false},
    {"Сравнить с версией…", "Compare with version…", kNoKey, [](MainWindow& w) { w.compareWithDialog(); }, 3, false},
    {"Сравнить визуально (бок о бок)…", "Compare visually (side by side)…", kNoKey, [](MainWindow& w) { w.compareVisualDialog(); }, 4, false},
    {"Отправить как заявку…", "Send as request…", kNoKey, [](MainWindow& w) { w.sendAsRequestDialog(); }, 0, false},
    {"Мои заявки…", "My requests…", kNoKey, [](MainWindow& w) { w.myRequestsDialog(QString()); }, 0, false},
    {"Экспорт в текст / HTML / Word…", "Export to text / HTML / Word…", kNoKey, [](MainWindow& w) { w.exportContentDialog(); }, 5, false},
    {"Экспорт аннотаций (XFDF)…", "Export annotations (XFDF)…", kNoKey, [](MainWindow& w) { w.exportAnnotationsXfdf(); }, 0, false},
    {"Импорт аннотаций (XFDF)…", "Import annotations (XFDF)…", kNoKey, [](MainWindow& w) { w.importAnnotationsXfdf(); }, 0, false},
    {"Защитить паролем (AES-256)…", "Protect with password (AES-256)…", kNoKey, [](MainWindow& w) { w.protectPdf(); }, 6, false},
    {"Подписать (вставить изображение)…", "Sign (insert image)…", kNoKey, [](MainWindow& w) { w.signWithImage(); }, 7, false},
    {"Подписать сертификатом (PKCS#12)…", "Sign with certificate (PKCS#12)…", kNoKey, [](MainWindow& w) { w.signWithCert(); }, 8, false},
    {"Заменить текст…", "Replace text…", kNoKey, [](MainWindow& w) { w.replaceTextDialog(); }, 9, false},
    {"Водяной знак…", "Watermark…", kNoKey, [](MainWindow& w) { w.watermarkDialog(); }, 11, false},
    {"Нумерация Бейтса…", "Bates numbering…", kNoKey, [](MainWindow& w) { w.batesDialog(); }, 12, false},
    {"Очистить (JS/метаданные/вложения)…", "Sanitize (JS/metadata/attachments)…", kNoKey, [](MainWindow& w) { w.sanitizePdf(); }, 10, false},
    {"Объединить с PDF…", "Merge with PDF…", kNoKey, [](MainWindow& w) { w.mergeWithDialog(); }, 13, true},
    {"Извлечь страницы в PDF…", "Extract pages to PDF…", kNoKey, [](MainWindow& w) { w.extractRangeDialog(); }, 14, false},
    {"Разбить по закладкам…", "Split by bookmarks…", kNoKey, [](MainWindow& w) { w.splitByBookmarksDialog(); }, 15, false},
    {"Объединить папку PDF…", "Merge PDF folder…", kNoKey, [](MainWindow& w) { w.mergeFolderDialog(); }, 16, false},
    {"N-up (страниц на лист)…", "N-up (pages per sheet)…", kNoKey, [](MainWindow& w) { w.nUpDialog(); }, 17, false},
    {"Экспорт страницы в PNG…", "Export page to PNG…", kNoKey, [](MainWindow& w) { w.exportCurrentPage(); }, 0, false},
    {"Экспорт всех страниц в PNG…", "Export all pages to PNG…", kNoKey, [](MainWindow& w) { w.exportAllPages(); }, 0, false},
};
constexpr int kMenuEditionEntries = 17;

// A symbol drawn as the button's text must be in DejaVu Sans, the one font every Debian
// desktop has; a tool whose symbol is not gets an icon.
struct ToolEntry {
  int mode;
  const char* icon;  // null: the symbol is the button's text
  const char* symbol;
  const char* ru;
  const char* en;
};

// Toolbar order; the eraser stands last although its mode number is 11.
constexpr ToolEntry kTools[] = {
    {0, ":/icons/cursor.svg", nullptr, "Выбор / удаление аннотаций", "Select / delete annotations"},
    {1, ":/icons/highlighter.svg", nullptr, "Маркер (выделение области)", "Highlighter (area)"},
    {2, ":/icons/pen.svg", nullptr, "Карандаш", "Pen"},
    {3, nullptr, "U", "Подчёркивание", "Underline"},
    {4, nullptr, "S", "Зачёркивание", "Strikeout"},
    {5, ":/icons/squiggly.svg", nullptr, "Волнистое подчёркивание", "Squiggly"},
    {6, nullptr, "▭", "Прямоугольник", "Rectangle"},
    {7, nullptr, "◯", "Эллипс", "Ellipse"},
    {8, ":/icons/line.svg", nullptr, "Линия", "Line"},
    {9, nullptr, "→", "Стрелка", "Arrow"},
    {10, nullptr, "T", "Текстовое поле", "Text box"},
    {12, ":/icons/note.svg", nullptr, "Заметка (стикер)", "Sticky note"},
    {13, nullptr, "✓", "Штамп (Утверждено/Черновик…)", "Stamp (Approved/Draft…)"},
    {14, nullptr, "T+", "Добавить текст в страницу", "Insert text into the page"},
    {11, nullptr, "⌫", "Ластик (удалить аннотацию)", "Eraser (delete annotation)"},
};

struct Swatch {
  int color;
  const char* tooltip;
};
constexpr Swatch kSwatches[] = {
    {0xFFEB3B, "Жёлтый"}, {0x8BE58B, "Зелёный"}, {0x6EC6FF, "Голубой"}, {0xFF8AC2, "Розовый"}};

constexpr int kStrokeWidths[] = {1, 2, 4, 6, 8};

}  // namespace

void MainWindow::buildToolbar() {
  QMenu* file = menuBar()->addMenu(L("&Файл", "&File"));

  auto* open = new QAction(QIcon(QStringLiteral(":/icons/open.svg")), L("Открыть", "Open"), this);
  open->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  open->setToolTip(L("Открыть PDF  (Ctrl+O)", "Open PDF  (Ctrl+O)"));
  connect(open, &QAction::triggered, this, &MainWindow::openFileDialog);
  file->addAction(open);

  std::array<QAction*, kMenuEditionEntries> menuEdition{};
  for (const FileEntry& e : kFileEntries) {
    if (e.separatorBefore) file->addSeparator();
    auto* a = new QAction(L(e.ru, e.en), this);
    if (e.shortcut != kNoKey) a->setShortcut(QKeySequence(e.shortcut));
    if (e.command) {
      const Command command = e.command;
      connect(a, &QAction::triggered, this, [this, command] { command(*this); });
    } else {
      a->setEnabled(false);
    }
    file->addAction(a);
    if (e.editionRank > 0) menuEdition[e.editionRank - 1] = a;
  }
  for (QAction* a : menuEdition) editionActions.append(a);

  QToolBar* bar = addToolBar(L("Основное", "Main"));
  bar->setIconSize(QSize(20, 20));
  bar->setToolButtonStyle(Qt::ToolButtonIconOnly);
  bar->setMovable(false);

  bar->addAction(open);
  bar->addSeparator();

  // A toolbar action that acts on the current tab's viewer, and does nothing without one.
  auto viewAction = [this, bar](const char* icon, const QString& text, auto onView) {
    auto* a = icon ? new QAction(QIcon(QString::fromLatin1(icon)), text, this) : new QAction(text, this);
    connect(a, &QAction::triggered, this, [this, onView] {
      if (PdfView* v = currentView()) onView(v);
    });
    bar->addAction(a);
    return a;
  };

  viewAction(":/icons/zoom-out.svg", L("Уменьшить", "Zoom out"), [](PdfView* v) { v->zoomOut(); });
  zoomLabel = new QLabel(QStringLiteral("100%"), this);
  zoomLabel->setObjectName(QStringLiteral("zoomLabel"));
  zoomLabel->setMinimumWidth(52);
  zoomLabel->setAlignment(Qt::AlignCenter);
  bar->addWidget(zoomLabel);
  viewAction(":/icons/zoom-in.svg", L("Увеличить", "Zoom in"), [](PdfView* v) { v->zoomIn(); });
  viewAction(":/icons/fit-width.svg", L("По ширине", "Fit width"), [](PdfView* v) { v->fitWidth(); });
  viewAction(nullptr, QStringLiteral("⊡"), [](PdfView* v) { v->fitPage(); })
      ->setToolTip(L("Страница целиком", "Fit page"));
  viewAction(nullptr, QStringLiteral("1:1"), [](PdfView* v) { v->actualSize(); })
      ->setToolTip(L("Реальный размер (100%)", "Actual size (100%)"));
  bar->addSeparator();

  auto* layouts = new QActionGroup(this);
  layouts->setObjectName(QStringLiteral("layoutGroup"));
  layouts->setExclusive(true);
  const struct {
    const char* icon;
    const char* ru;
    const char* en;
    PdfView::ViewMode mode;
  } kLayouts[] = {{":/icons/layout-single.svg", "Одна страница", "Single page", PdfView::Single},
                  {":/icons/layout-two.svg", "Две страницы", "Two pages", PdfView::TwoPage},
                  {":/icons/layout-book.svg", "Книга", "Book", PdfView::Book}};
  for (const auto& l : kLayouts) {
    const PdfView::ViewMode mode = l.mode;
    QAction* a = viewAction(l.icon, QString(), [mode](PdfView* v) { v->setViewMode(mode); });
    a->setCheckable(true);
    a->setProperty("viewMode", static_cast<int>(mode));
    a->setToolTip(L(l.ru, l.en));
    a->setChecked(mode == PdfView::Single);
    layouts->addAction(a);
  }
  bar->addSeparator();

  viewAction(":/icons/rotate-ccw.svg", QString(), [](PdfView* v) { v->rotateCounterClockwise(); })
      ->setToolTip(L("Повернуть влево", "Rotate left"));
  viewAction(":/icons/rotate-cw.svg", QString(), [](PdfView* v) { v->rotateClockwise(); })
      ->setToolTip(L("Повернуть вправо", "Rotate right"));
  bar->addSeparator();

  auto* pageLabel = new QLabel(L("Стр.", "Pg."), this);
  pageLabel->setObjectName(QStringLiteral("muted"));
  bar->addWidget(pageLabel);
  pageSpin = new QSpinBox(this);
  pageSpin->setRange(0, 0);
  pageSpin->setButtonSymbols(QAbstractSpinBox::NoButtons);
  connect(pageSpin, &QSpinBox::valueChanged, this, [this](int v) {
    if (PdfView* view = currentView(); view && v > 0) view->goToPage(v);
  });
  bar->addWidget(pageSpin);
  pageTotal = new QLabel(QStringLiteral("/ 0"), this);
  pageTotal->setObjectName(QStringLiteral("pageTotal"));
  bar->addWidget(pageTotal);
  bar->addSeparator();

  toolGroup = new QActionGroup(this);
  toolGroup->setExclusive(true);
  for (const ToolEntry& t : kTools) {
    auto* a = t.icon ? new QAction(QIcon(QString::fromLatin1(t.icon)), QString(), this)
                     : new QAction(QString::fromUtf8(t.symbol), this);
    a->setCheckable(true);
    a->setProperty("mode", t.mode);
    a->setToolTip(L(t.ru, t.en));
    a->setChecked(t.mode == 0);
    toolGroup->addAction(a);
    connect(a, &QAction::triggered, this, &MainWindow::applyModeToView);
    bar->addAction(a);
    if (t.mode != 0) editionActions.append(a);
  }

  editionActions.append(viewAction(":/icons/trash.svg", L("Удалить выбранную (Del)", "Delete selected (Del)"),
                                   [](PdfView* v) { v->deleteSelected(); }));
  bar->addSeparator();

  auto* swatches = new QWidget(this);
  auto* row = new QHBoxLayout(swatches);
  row->setContentsMargins(2, 0, 2, 0);
  row->setSpacing(4);
  // The four handlers share the list; exclusivity is their loop, not a button group.
  auto buttons = std::make_shared<QList<QToolButton*>>();
  for (const Swatch& s : kSwatches) {
    auto* b = new QToolButton(swatches);
    b->setCheckable(true);
    b->setFixedSize(22, 22);
    b->setToolTip(QString::fromUtf8(s.tooltip));
    b->setStyleSheet(QStringLiteral("QToolButton{background:#%1;border:2px solid transparent;"
                                    "border-radius:6px;}QToolButton:checked{border:2px solid #ffffff;}")
                         .arg(s.color, 6, 16, QLatin1Char('0')));
    b->setChecked(s.color == kSwatches[0].color);
    row->addWidget(b);
    buttons->append(b);
    const int color = s.color;
    connect(b, &QToolButton::clicked, this, [this, color, b, buttons] {
      annotationColor = color;
      if (PdfView* v = currentView()) {
        v->highlightColor = static_cast<uint32_t>(color);
        v->penColor = static_cast<uint32_t>(color);
      }
      for (QToolButton* other : *buttons) other->setChecked(other == b);
    });
  }
  editionActions.append(bar->addWidget(swatches));

  auto* width = new QComboBox(this);
  width->setObjectName(QStringLiteral("strokeWidth"));
  width->setToolTip(L("Толщина линии", "Stroke width"));
  for (int w : kStrokeWidths) width->addItem(QStringLiteral("%1 pt").arg(w), w);
  width->setCurrentIndex(1);
  connect(width, &QComboBox::currentIndexChanged, this, [this, width](int) {
    if (PdfView* v = currentView()) v->penWidth = width->currentData().toDouble();
  });
  editionActions.append(bar->addWidget(width));
}

}  // namespace quorvel::desktop
