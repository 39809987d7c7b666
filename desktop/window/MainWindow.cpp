#include "desktop/window/MainWindow.h"

#include <QAction>
#include <QActionGroup>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QDockWidget>
#include <QEvent>
#include <QFile>
#include <QLabel>
#include <QLockFile>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QSettings>
#include <QShortcut>
#include <QSpinBox>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QWindow>

#include <cmath>

#include "desktop/ai/AiPanel.h"
#include "desktop/stores/AnnotationStore.h"
#include "desktop/window/BackendLink.h"
#include "desktop/panels/CommentsPanel.h"
#include "desktop/window/JobRunner.h"
#include "desktop/window/MainWindowCommandLine.h"
#include "desktop/panels/OutlinePanel.h"
#include "desktop/viewer/PdfView.h"
#include "desktop/stores/RecentsStore.h"
#include "desktop/panels/StartView.h"
#include "desktop/panels/ThumbnailPanel.h"
#include "desktop/window/lang.h"

namespace quorvel::desktop {

namespace {

QDockWidget* makeDock(QMainWindow* window, QWidget* panel, const QString& title,
                      const char* objectName, int minWidth) {
  auto* dock = new QDockWidget(title, window);
  dock->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable);
  dock->setWidget(panel);
  dock->setObjectName(QString::fromLatin1(objectName));
  dock->setMinimumWidth(minWidth);
  return dock;
}

// Hands its work to the event loop once the window has had its first paint. The work runs from
// a zero timer, after the paint has been flushed to the screen.
class FirstPaintWait : public QObject {
 public:
  FirstPaintWait(QWidget* window, std::function<void()> work) : QObject(window), window(window), work(std::move(work)) {
    window->installEventFilter(this);
    // A window mapped behind others or minimised at start is never painted; the work must
    // not wait for it. One that is exposed paints soon, however loaded the machine is.
    QTimer::singleShot(1000, this, [this] {
      if (!this->window->windowHandle() || !this->window->windowHandle()->isExposed()) release();
    });
  }

  bool eventFilter(QObject* watched, QEvent* e) override {
    if (watched == window && e->type() == QEvent::Paint) release();
    return false;
  }

  void release() {
    if (released) return;
    released = true;
    window->removeEventFilter(this);
    QTimer::singleShot(0, window, std::move(work));
    deleteLater();
  }

 private:
  QWidget* window;
  std::function<void()> work;
  bool released = false;
};

}  // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
  loadCompiledResources();
  setWindowTitle(QStringLiteral("PDF Dodiru Quorvel"));
  setAcceptDrops(true);
  resize(1100, 780);

  engine = make_engine(EngineKind::Pdfium);
  startLocalBackend();  // makes `network` too: requests for the backend need to know it
  startAutosave();

  mvp = editionIsReduced(qEnvironmentVariable("QUORVEL_EDITION"),
                         QCoreApplication::applicationDirPath());

  const QString dataDir = QDir::homePath() + QStringLiteral("/.quorvel");
  QDir().mkpath(dataDir);
  const QString dbPath = dataDir + QStringLiteral("/quorvel.db");
  annotationStore = std::make_unique<AnnotationStore>(dbPath);
  recentsStore = std::make_unique<RecentsStore>(dbPath);

  tabs = new QTabWidget(this);
  tabs->setTabsClosable(true);
  tabs->setDocumentMode(true);
  connect(tabs, &QTabWidget::tabCloseRequested, this, &MainWindow::onTabCloseRequested);
  connect(tabs, &QTabWidget::currentChanged, this, &MainWindow::onTabChanged);

  startView = new StartView(this);
  connect(startView, &StartView::openRequested, this, &MainWindow::openFileDialog);
  connect(startView, &StartView::openPath, this, &MainWindow::openFile);

  stack = new QStackedWidget(this);
  stack->addWidget(startView);
  stack->addWidget(tabs);
  setCentralWidget(stack);

  thumbnailPanel = new ThumbnailPanel(this);
  thumbDock = makeDock(this, thumbnailPanel, L("Страницы", "Pages"), "thumbDock", 170);
  addDockWidget(Qt::LeftDockWidgetArea, thumbDock);
  outlinePanel = new OutlinePanel(this);
  outlineDock = makeDock(this, outlinePanel, L("Оглавление", "Outline"), "outlineDock", 170);
  addDockWidget(Qt::LeftDockWidgetArea, outlineDock);
  tabifyDockWidget(thumbDock, outlineDock);
  thumbDock->raise();
  commentsPanel = new CommentsPanel(this);
  commentsDock = makeDock(this, commentsPanel, L("Комментарии", "Comments"), "commentsDock", 220);
  addDockWidget(Qt::RightDockWidgetArea, commentsDock);
  aiPanel = new AiPanel(this);
  aiDock = makeDock(this, aiPanel, QStringLiteral("Tavi AI"), "aiDock", 260);
  addDockWidget(Qt::RightDockWidgetArea, aiDock);
  tabifyDockWidget(commentsDock, aiDock);
  commentsDock->raise();

  buildToolbar();
  buildSearchBar();

  const int defaultMode = QSettings().value(QStringLiteral("ui/defaultMode"), 0).toInt();
  if (toolGroup) {
    for (QAction* a : toolGroup->actions()) {
      if (a->property("mode").toInt() == defaultMode) {
        a->setChecked(true);
        break;
      }
    }
  }

  buildViewMenu();

  statusBar()->showMessage(L("Готово. Перетащите PDF сюда или Файл → Открыть.",
                             "Ready. Drop a PDF here or use File → Open."));
  // A damaged database was moved aside by the stores; the user should know why the recent
  // files and the annotations of earlier sessions are gone.
  const QString damaged = annotationStore->damagedCopy().isEmpty()
                              ? recentsStore->damagedCopy()
                              : annotationStore->damagedCopy();
  if (!damaged.isEmpty())
    statusBar()->showMessage(L("Файл базы данных повреждён и отложен: %1",
                               "The database file was damaged and moved aside: %1")
                                 .arg(damaged));

  applyEdition();
  updateStack();
}

MainWindow::~MainWindow() {
  if (backendLink) backendLink->stop();

  // The views go first, while the stores and the engine they use still exist, and no signal
  // of the tab widget may reach this half-destroyed window while Qt tears the children down.
  if (jobRunner) jobRunner->stopAll(false);
  disconnect(tabs, nullptr, this, nullptr);
  disconnect(startView, nullptr, this, nullptr);
  bindPanels(nullptr);
  while (tabs->count() > 0) {
    QWidget* page = tabs->widget(0);
    tabs->removeTab(0);
    delete page;
  }

  recentsStore.reset();
  annotationStore.reset();
  engine.reset();
}

void MainWindow::runWhenShown(std::function<void()> work) {
  if (!isVisible() || isMinimized())
    QTimer::singleShot(0, this, std::move(work));
  else
    new FirstPaintWait(this, std::move(work));
}

PdfView* MainWindow::currentView() const {
  return tabs ? qobject_cast<PdfView*>(tabs->currentWidget()) : nullptr;
}

bool MainWindow::editionIsReduced(const QString& envValue, const QString& dir) {
  QString edition = envValue;
  if (edition.isEmpty()) {
    QFile f(QDir(dir).filePath(QStringLiteral("edition.txt")));
    if (f.open(QIODevice::ReadOnly)) edition = QString::fromUtf8(f.readAll()).trimmed();
  }
  return edition.compare(QLatin1String("mvp"), Qt::CaseInsensitive) == 0;
}

void MainWindow::buildViewMenu() {
  QMenu* view = menuBar()->addMenu(L("&Вид", "&View"));
  view->addAction(thumbDock->toggleViewAction());
  view->addAction(outlineDock->toggleViewAction());
  view->addAction(commentsDock->toggleViewAction());
  view->addAction(aiDock->toggleViewAction());
  view->addSeparator();

  QAction* full = view->addAction(L("Полноэкранный режим", "Full screen"));
  full->setShortcut(QKeySequence(Qt::Key_F11));
  connect(full, &QAction::triggered, this, &MainWindow::toggleFullScreen);
  // Enabled only in full screen, so Esc stays free for the viewer and dialogs otherwise.
  leaveFullScreen = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  leaveFullScreen->setContext(Qt::WindowShortcut);
  leaveFullScreen->setEnabled(false);
  connect(leaveFullScreen, &QShortcut::activated, this, [this] {
    if (isFullScreen()) toggleFullScreen();
  });

  QMenu* language = view->addMenu(L("Язык", "Language"));
  connect(language->addAction(QStringLiteral("Русский")), &QAction::triggered, this,
          [this] { chooseLanguage("ru"); });
  connect(language->addAction(QStringLiteral("English")), &QAction::triggered, this,
          [this] { chooseLanguage("en"); });
  view->addSeparator();
  connect(view->addAction(L("Настройки…", "Preferences…")), &QAction::triggered, this,
          &MainWindow::preferencesDialog);
}

void MainWindow::chooseLanguage(const char* code) {
  QSettings().setValue(QStringLiteral("ui/lang"), QString::fromLatin1(code));
  QMessageBox::information(this, L("Язык", "Language"),
                           L("Язык изменён. Перезапустите приложение.",
                             "Language changed. Please restart the application."));
}

void MainWindow::onTabCloseRequested(int index) {
  QWidget* page = tabs->widget(index);
  if (auto* view = qobject_cast<PdfView*>(page); view && isVisible()) {
    if (view->hasUnsavedChanges() && !settleUnsaved({view})) return;
    // Saved, dropped or never changed: its copies hold nothing left to recover.
    dropSnapshotsOf(view);
    // Saving may have asked for a path while other tabs moved.
    index = tabs->indexOf(page);
    if (index < 0) return;
  }
  // Removing the tab moves the current tab first, which rebinds the panels to the view that
  // remains; a closed view no panel refers to can go with its document at once.
  tabs->removeTab(index);
  // The panels are bound together, so the AI panel tells whether any still holds the page.
  if (page && aiPanel && aiPanel->currentView() == page) bindPanels(currentView());
  if (jobRunner) jobRunner->viewClosing(qobject_cast<PdfView*>(page));
  delete page;
  updateStack();
}

namespace {

// Leads the name of a tab whose document has unsaved edits.
const QString kUnsavedMark = QStringLiteral("• ");

}  // namespace

void MainWindow::followUnsaved(PdfView* view) {
  connect(view, &PdfView::unsavedChangesChanged, this, [this, view](bool unsaved) {
    const int i = tabs->indexOf(view);
    if (i < 0) return;
    QString title = tabs->tabText(i);
    if (title.startsWith(kUnsavedMark)) title.remove(0, kUnsavedMark.size());
    tabs->setTabText(i, unsaved ? kUnsavedMark + title : title);
  });
}

std::vector<PdfView*> MainWindow::unsavedViews() const {
  std::vector<PdfView*> out;
  for (int i = 0; tabs && i < tabs->count(); ++i) {
    auto* view = qobject_cast<PdfView*>(tabs->widget(i));
    if (view && view->hasUnsavedChanges()) out.push_back(view);
  }
  return out;
}

bool MainWindow::settleUnsaved(const std::vector<PdfView*>& views) {
  if (views.empty() || !isVisible()) return true;
  QStringList names;
  for (PdfView* v : views) {
    QString name = tabs->tabText(tabs->indexOf(v)).replace(QStringLiteral("&&"), QStringLiteral("&"));
    if (name.startsWith(kUnsavedMark)) name.remove(0, kUnsavedMark.size());
    names << name;
  }
  const QString text =
      views.size() == 1
          ? L("В документе «%1» есть несохранённые изменения.\nСохранить их?",
              "The document “%1” has unsaved changes.\nSave them?")
                .arg(names.front())
          : L("В документах (%1) есть несохранённые изменения: %2.\nСохранить их?",
              "%1 documents have unsaved changes: %2.\nSave them?")
                .arg(views.size())
                .arg(names.join(QStringLiteral(", ")));
  QMessageBox box(QMessageBox::Warning, L("Несохранённые изменения", "Unsaved changes"), text,
                  QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
  box.button(QMessageBox::Save)->setText(L("Сохранить…", "Save…"));
  box.button(QMessageBox::Discard)->setText(L("Не сохранять", "Don't save"));
  box.button(QMessageBox::Cancel)->setText(L("Отмена", "Cancel"));
  box.setDefaultButton(QMessageBox::Save);
  box.setEscapeButton(QMessageBox::Cancel);
  const int answer = box.exec();
  if (answer == QMessageBox::Discard) return true;
  if (answer != QMessageBox::Save) return false;
  for (PdfView* v : views) {
    // Each document is saved from its own tab, so that the dialog is about the one shown.
    tabs->setCurrentWidget(v);
    const QString path = askSavePath();
    if (path.isEmpty()) return false;
    saveDocumentTo(path);
    if (v->hasUnsavedChanges()) return false;  // the status bar says why
  }
  return true;
}

void MainWindow::bindPanels(PdfView* view) {
  if (thumbnailPanel) thumbnailPanel->setView(view);
  if (outlinePanel) outlinePanel->setView(view);
  if (commentsPanel) commentsPanel->setView(view);
  if (aiPanel) aiPanel->setView(view);
}

void MainWindow::onTabChanged(int /*index*/) {
  resetSearch();
  syncControlsToCurrent();
  applyModeToView();
  PdfView* view = currentView();
  bindPanels(view);
  if (view) view->highlightColor = static_cast<uint32_t>(annotationColor);
}

void MainWindow::updateStack() {
  const bool hasTab = tabs->count() > 0;
  if (!hasTab) {
    if (startView && recentsStore) startView->setRecents(recentsStore->list(12));
    stack->setCurrentIndex(0);
  } else {
    stack->setCurrentIndex(1);
  }
  thumbDock->setVisible(hasTab);
  outlineDock->setVisible(hasTab);
  commentsDock->setVisible(hasTab && !mvp);
  aiDock->setVisible(hasTab);
  if (hasTab && mvp) aiDock->raise();
}

void MainWindow::applyEdition() {
  for (QAction* a : editionActions)
    if (a) a->setVisible(!mvp);
  if (thumbnailPanel) thumbnailPanel->pageMenuEnabled = !mvp;
  setWindowTitle(mvp ? QStringLiteral("Tavi PDF AI Dodiru") : QStringLiteral("PDF Dodiru Quorvel"));
}

void MainWindow::setMvpMode(bool on) {
  mvp = on;
  applyEdition();
  updateStack();
}

void MainWindow::toggleFullScreen() {
  const QList<QToolBar*> bars = findChildren<QToolBar*>();
  if (isFullScreen()) {
    showNormal();
    menuBar()->show();
    statusBar()->show();
    tabs->tabBar()->show();
    for (QToolBar* b : bars) b->show();
    leaveFullScreen->setEnabled(false);
    updateStack();
  } else {
    menuBar()->hide();
    statusBar()->hide();
    for (QToolBar* b : bars) b->hide();
    tabs->tabBar()->hide();
    for (QDockWidget* d : {thumbDock, outlineDock, commentsDock, aiDock}) d->hide();
    leaveFullScreen->setEnabled(true);
    showFullScreen();
  }
}

void MainWindow::syncControlsToCurrent() {
  PdfView* view = currentView();
  if (!pageSpin || !pageTotal || !zoomLabel) return;
  if (view) {
    const int count = view->pageCount();
    // Lowering the maximum clamps the old tab's page number; that clamped value must not
    // reach the new tab as a page change, so the field is silent from here on.
    const bool blocked = pageSpin->blockSignals(true);
    pageSpin->setMaximum(count);
    pageTotal->setText(QStringLiteral(" / %1").arg(count));
    pageSpin->setValue(view->currentPage());
    zoomLabel->setText(QStringLiteral("%1%").arg(std::lround(view->scale * 100.0)));
    pageSpin->blockSignals(blocked);
    // The layout and the stroke width belong to each view; the controls show this one's.
    if (auto* layouts = findChild<QActionGroup*>(QStringLiteral("layoutGroup"))) {
      for (QAction* a : layouts->actions())
        if (a->property("viewMode").toInt() == static_cast<int>(view->viewMode)) a->setChecked(true);
    }
    if (auto* width = findChild<QComboBox*>(QStringLiteral("strokeWidth"))) {
      for (int i = 0; i < width->count(); ++i) {
        if (width->itemData(i).toDouble() != view->penWidth) continue;
        const bool silent = width->blockSignals(true);
        width->setCurrentIndex(i);
        width->blockSignals(silent);
        break;
      }
    }
  } else {
    pageSpin->setMaximum(0);
    pageSpin->setValue(0);
    pageTotal->setText(QStringLiteral(" / 0"));
    zoomLabel->setText(QStringLiteral("—"));
  }
}

void MainWindow::applyModeToView() {
  PdfView* view = currentView();
  if (!view) return;
  int mode = 0;
  if (toolGroup && toolGroup->checkedAction()) mode = toolGroup->checkedAction()->property("mode").toInt();
  view->toolMode = static_cast<PdfView::Mode>(mode);
}

void MainWindow::setOpenPassword(const QString& pw) { openPassword = pw; }

}  // namespace quorvel::desktop
