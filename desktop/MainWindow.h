// The application's one top-level window: it owns the engine, the stores, the backend process
// it may start, the document tabs, the start page and the docks. Its sources are split by area:
// MainWindow.cpp (construction, frame, edition, full screen), MainWindowMenus.cpp (File menu
// and toolbar), MainWindowOpen.cpp (opening files), MainWindowBackend.cpp (local backend),
// MainWindowSearch.cpp (search bar), MainWindowSave.cpp (saving, printing, page images),
// MainWindowPreferences.cpp (preferences), MainWindowCommandLine.cpp (the command-line
// actions), MainWindowStampTools.cpp (watermark, page and Bates numbers) and
// MainWindowEditTools.cpp (image signature, text replacement, N-up, merging).
#pragma once

#include <QList>
#include <QMainWindow>
#include <QString>
#include <QUrl>

#include <memory>
#include <vector>

#include "core/engine.h"
#include "core/search.h"
#include "scanner/security.h"

class QAction;
class QActionGroup;
class QDockWidget;
class QDragEnterEvent;
class QDropEvent;
class QLabel;
class QLineEdit;
class QNetworkAccessManager;
class QProcess;
class QShortcut;
class QSpinBox;
class QStackedWidget;
class QTabWidget;
class QTimer;

namespace quorvel::desktop {

class AiPanel;
class AnnotationStore;
class CommentsPanel;
class OutlinePanel;
class PdfView;
class RecentsStore;
class StartView;
class ThumbnailPanel;

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit MainWindow(QWidget* parent = nullptr);
  ~MainWindow() override;

  PdfView* currentView() const;

  // The backend address rule: QUORVEL_BACKEND when set (even empty), else the loopback
  // default, with the endpoint path appended as it stands.
  static QUrl backendUrl(const QString& endpoint);
  // The reduced edition: `envValue` (QUORVEL_EDITION) when non-empty, else "edition.txt" in
  // `dir`, trimmed; either must read "mvp" in any case.
  static bool editionIsReduced(const QString& envValue, const QString& dir);
  // Asks about a file that the threat check did not pass; true when it may be opened.
  // `verdictWord` receives the word the status line uses afterwards.
  static bool confirmThreats(QWidget* parent, const QString& displayName,
                             const security::ThreatReport& report, QString* verdictWord);

 public slots:
  void openFileDialog();
  void openFile(const QString& path);
  void setOpenPassword(const QString& pw);
  void findText(const QString& query);
  void preferencesDialog();
  void toggleFullScreen();
  void setMvpMode(bool on);
  void exportCurrentPage();
  void exportAllPages();
  void exportPageTo(const QString& pngPath);
  void saveDocumentAs();
  void saveDocumentTo(const QString& path);
  void printDocument();
  void printToFile(const QString& pdfPath);
  // Stamping tools (MainWindowStampTools.cpp).
  void watermarkTo(const QString& text, const QString& outPath);
  void watermarkDialog();
  void pageNumbersTo(const QString& outPath);
  void batesStampTo(const QString& prefix, int start, int digits, const QString& outPath);
  void batesDialog();
  // Signature image, replacement, N-up and merging (MainWindowEditTools.cpp).
  void signWithImageTo(const QString& imagePath, const QString& outPath, int page0);
  void signWithImage();
  void replaceTextTo(const QString& oldText, const QString& newText, const QString& outPath);
  void replaceTextDialog();
  void nUpTo(int cols, int rows, const QString& outPath);
  void nUpDialog();
  void mergeWith(const QString& pdfPath);
  void mergeWithDialog();
  void mergeFolderDialog();

 protected:
  void dragEnterEvent(QDragEnterEvent* e) override;
  void dropEvent(QDropEvent* e) override;

 private:
  void startLocalBackend();
  void buildToolbar();
  void buildSearchBar();
  void runSearch();
  void nextMatch();
  void prevMatch();
  void updateSearchLabel();
  // Drops the hits and empties the field; a tab change starts the search bar afresh.
  void resetSearch();
  void buildViewMenu();
  void updateStack();
  void applyEdition();
  void syncControlsToCurrent();
  void applyModeToView();
  void onTabChanged(int index);
  void onTabCloseRequested(int index);
  void chooseLanguage(const char* code);
  // Rebinds the panels to the given view (or none) before anything it refers to goes away.
  void bindPanels(PdfView* view);

  QStackedWidget* stack = nullptr;
  StartView* startView = nullptr;
  QTabWidget* tabs = nullptr;
  ThumbnailPanel* thumbnailPanel = nullptr;
  OutlinePanel* outlinePanel = nullptr;
  CommentsPanel* commentsPanel = nullptr;
  AiPanel* aiPanel = nullptr;
  QDockWidget* aiDock = nullptr;
  QDockWidget* thumbDock = nullptr;
  QDockWidget* outlineDock = nullptr;
  QDockWidget* commentsDock = nullptr;
  int annotationColor = 0xFFEB3B;
  QString openPassword;
  QTimer* autosaveTimer = nullptr;
  QSpinBox* pageSpin = nullptr;
  QLabel* pageTotal = nullptr;
  QLabel* zoomLabel = nullptr;
  QLineEdit* searchEdit = nullptr;
  QAction* caseToggle = nullptr;
  QAction* wordToggle = nullptr;
  QAction* regexToggle = nullptr;
  QLabel* searchLabel = nullptr;
  std::vector<search::DocMatch> matches;
  int activeMatch = -1;
  QActionGroup* toolGroup = nullptr;
  QNetworkAccessManager* network = nullptr;
  QProcess* backendProcess = nullptr;
  bool mvp = false;
  QList<QAction*> editionActions;
  QShortcut* leaveFullScreen = nullptr;
  std::unique_ptr<IPdfEngine> engine;
  std::unique_ptr<AnnotationStore> annotationStore;
  std::unique_ptr<RecentsStore> recentsStore;
};

}  // namespace quorvel::desktop
