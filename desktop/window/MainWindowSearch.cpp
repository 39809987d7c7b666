#include <QAction>
#include <QIcon>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QShortcut>
#include <QToolBar>

#include "desktop/window/MainWindow.h"
#include "desktop/viewer/PdfView.h"
#include "desktop/window/lang.h"

namespace quorvel::desktop {

namespace {

// More hits than anyone steps through; the cap also bounds the time a one-letter query takes.
constexpr size_t kMaxHits = 5000;

}  // namespace

void MainWindow::buildSearchBar() {
  // A row of its own: beside the main toolbar, at the window's starting width, the whole bar
  // would sit behind the main toolbar's overflow arrow.
  addToolBarBreak(Qt::TopToolBarArea);
  QToolBar* bar = addToolBar(QStringLiteral("Поиск"));
  bar->setMovable(false);
  bar->setIconSize(QSize(18, 18));

  searchEdit = new QLineEdit(this);
  searchEdit->setObjectName(QStringLiteral("searchEdit"));
  searchEdit->setPlaceholderText(L("Поиск в документе…", "Search in document…"));
  searchEdit->setClearButtonEnabled(true);
  searchEdit->setMinimumWidth(340);
  searchEdit->setMaximumWidth(460);
  searchEdit->addAction(QIcon(QStringLiteral(":/icons/search.svg")), QLineEdit::LeadingPosition);
  connect(searchEdit, &QLineEdit::returnPressed, this, &MainWindow::nextMatch);
  // Typing never searches; only emptying the field drops the hits at once.
  connect(searchEdit, &QLineEdit::textChanged, this, [this](const QString& text) {
    if (!text.isEmpty()) return;
    dropSearch();
    if (PdfView* v = currentView()) v->clearHighlights();
    updateSearchLabel();
  });
  bar->addWidget(searchEdit);

  const struct {
    const char* text;
    const char* tooltip;
    QAction** member;
  } kToggles[] = {{"Aa", "Учитывать регистр", &caseToggle},
                  {"W", "Слово целиком", &wordToggle},
                  {".*", "Регулярное выражение", &regexToggle}};
  for (const auto& t : kToggles) {
    auto* a = new QAction(QString::fromLatin1(t.text), this);
    a->setCheckable(true);
    a->setToolTip(QString::fromUtf8(t.tooltip));
    bar->addAction(a);
    if (QWidget* button = bar->widgetForAction(a)) button->setObjectName(QStringLiteral("searchToggle"));
    connect(a, &QAction::toggled, this, [this](bool) { runSearch(); });
    *t.member = a;
  }
  bar->addSeparator();

  auto* prev = new QAction(QIcon(QStringLiteral(":/icons/chevron-up.svg")), QString(), this);
  prev->setToolTip(QStringLiteral("Предыдущее (Shift+Enter)"));
  connect(prev, &QAction::triggered, this, &MainWindow::prevMatch);
  bar->addAction(prev);
  auto* next = new QAction(QIcon(QStringLiteral(":/icons/chevron-down.svg")), QString(), this);
  next->setToolTip(QStringLiteral("Следующее (Enter)"));
  connect(next, &QAction::triggered, this, &MainWindow::nextMatch);
  bar->addAction(next);

  searchLabel = new QLabel(this);
  searchLabel->setObjectName(QStringLiteral("searchLabel"));
  searchLabel->setMinimumWidth(80);
  bar->addWidget(searchLabel);
  updateSearchLabel();
  bar->addSeparator();

  // The field's text as it stands: the search itself decides what a blank query means.
  auto* semantic = new QAction(QStringLiteral("✨ По смыслу"), this);
  semantic->setToolTip(QStringLiteral("Найти релевантные страницы (AI-поиск)"));
  connect(semantic, &QAction::triggered, this, [this] { semanticSearch(searchEdit->text()); });
  bar->addAction(semantic);

  auto* find = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_F), this);
  find->setContext(Qt::WindowShortcut);
  connect(find, &QShortcut::activated, this, [this] {
    searchEdit->setFocus(Qt::ShortcutFocusReason);
    searchEdit->selectAll();
  });
  auto* back = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_Return), searchEdit);
  back->setContext(Qt::WindowShortcut);
  connect(back, &QShortcut::activated, this, &MainWindow::prevMatch);
}

void MainWindow::dropSearch() {
  if (searchedView) {
    searchedView->stopSearch();
    disconnect(searchedView, &PdfView::searchHitsFound, this, &MainWindow::takeSearchHits);
    disconnect(searchedView, &PdfView::searchFinished, this, &MainWindow::endSearch);
  }
  searchedView = nullptr;
  searchedText.clear();
  searchPartial = false;
  matches.clear();
  activeMatch = -1;
}

void MainWindow::runSearch() {
  PdfView* view = currentView();
  dropSearch();
  const QString text = searchEdit ? searchEdit->text() : QString();
  searchedText = text;
  if (view && view->doc && !text.isEmpty()) {
    search::Options options;
    options.case_sensitive = caseToggle && caseToggle->isChecked();
    options.whole_word = wordToggle && wordToggle->isChecked();
    options.regex = regexToggle && regexToggle->isChecked();
    view->clearHighlights();
    searchedView = view;
    connect(view, &PdfView::searchHitsFound, this, &MainWindow::takeSearchHits);
    connect(view, &PdfView::searchFinished, this, &MainWindow::endSearch);
    view->startSearch(text, options, kMaxHits);
  } else if (view) {
    view->clearHighlights();
  }
  updateSearchLabel();
}

void MainWindow::takeSearchHits(const std::vector<search::DocMatch>& hits) {
  PdfView* view = searchedView;
  if (!view || sender() != view) return;
  const bool first = matches.empty();
  matches.insert(matches.end(), hits.begin(), hits.end());
  view->appendHighlights(hits);
  if (first && !matches.empty()) {
    activeMatch = 0;
    view->setActiveMatch(0);
  }
  updateSearchLabel();
}

void MainWindow::endSearch(bool partial) {
  if (!searchedView || sender() != searchedView) return;
  searchPartial = partial;
  updateSearchLabel();
}

namespace {

// Steps go through the hits of the text the field holds, also while more are on their way;
// another text, or one that found nothing, is searched afresh.
bool stepsThroughHits(const QLineEdit* field, const QString& searched, bool haveHits, const PdfView* searching) {
  const QString text = field ? field->text() : QString();
  return text == searched && (haveHits || (searching && searching->searchRunning()));
}

}  // namespace

void MainWindow::nextMatch() {
  if (!stepsThroughHits(searchEdit, searchedText, !matches.empty(), searchedView)) {
    runSearch();
    return;
  }
  if (matches.empty()) return;
  const int n = static_cast<int>(matches.size());
  activeMatch = (activeMatch + 1) % n;
  if (PdfView* v = currentView()) v->setActiveMatch(activeMatch);
  updateSearchLabel();
}

void MainWindow::prevMatch() {
  if (!stepsThroughHits(searchEdit, searchedText, !matches.empty(), searchedView)) {
    runSearch();
    return;
  }
  if (matches.empty()) return;
  const int n = static_cast<int>(matches.size());
  activeMatch = (activeMatch + n - 1) % n;
  if (PdfView* v = currentView()) v->setActiveMatch(activeMatch);
  updateSearchLabel();
}

void MainWindow::updateSearchLabel() {
  if (!searchLabel) return;
  if (!matches.empty()) {
    // A count with "+" is the least there is: the cap was reached, or an edit ended the search.
    searchLabel->setText(QStringLiteral("%1 / %2%3")
                             .arg(activeMatch + 1)
                             .arg(matches.size())
                             .arg(searchPartial ? QStringLiteral("+") : QString()));
  } else if (searchedView && searchedView->searchRunning()) {
    searchLabel->setText(QStringLiteral("поиск…"));
  } else if (searchEdit && !searchEdit->text().isEmpty() && !searchPartial) {
    searchLabel->setText(QStringLiteral("нет совпадений"));
  } else {
    searchLabel->clear();
  }
}

void MainWindow::resetSearch() {
  dropSearch();
  if (searchEdit) searchEdit->clear();
  updateSearchLabel();
}

void MainWindow::findText(const QString& query) {
  if (!searchEdit) return;
  searchEdit->setText(query);
  runSearch();
}

}  // namespace quorvel::desktop
