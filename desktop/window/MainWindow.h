// The application's one top-level window: it owns the engine, the stores, the backend process
// it may start, the document tabs, the start page and the docks. Its sources are split by area;
// in window/: MainWindow.cpp (construction, frame, edition, full screen), MainWindowMenus.cpp
// (File menu and toolbar), MainWindowOpen.cpp (opening files), MainWindowBackend.cpp (local
// backend), MainWindowSearch.cpp (search bar), MainWindowSave.cpp (saving, printing, page
// images), MainWindowPreferences.cpp (preferences), MainWindowCommandLine.cpp (the command-line
// actions), MainWindowRecovery.cpp (autosave and crash recovery), MainWindowPageCommands.cpp
// (page edits and demonstrations); in tools/: MainWindowRedact.cpp (redaction),
// MainWindowSplit.cpp (page ranges and splitting), MainWindowPageTools.cpp (page insertion,
// cropping, page images), MainWindowStampTools.cpp (watermark, page and Bates numbers),
// MainWindowEditTools.cpp (image signature, text replacement, N-up, merging) and
// MainWindowBackendTools.cpp (tools done by the backend), MainWindowRequests.cpp (purchase
// requests, their journal and the suppliers' offers).
#pragma once

#include <QList>
#include <QMainWindow>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <vector>

#include "core/engine.h"
#include "core/search.h"
#include "scanner/security.h"

class QAction;
class QActionGroup;
class QCloseEvent;
class QDockWidget;
class QDragEnterEvent;
class QDropEvent;
class QLabel;
class QLineEdit;
class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;
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
class JobRunner;
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

  // Tools done by the backend (MainWindowBackendTools.cpp).
  void protectPdf();
  void protectPdfTo(const QString& outPath, const QString& password);
  void signWithCert();
  void signWithCertTo(const QString& pfxPath, const QString& passphrase, const QString& outPath);
  void sanitizePdf();
  void sanitizePdfTo(const QString& outPath);
  void optimizePdfDialog();
  void extractTablesCsv();
  void documentPropertiesDialog();
  // Bookmark editor, form designer and content export (desktop/tools/).
  void editBookmarksDialog();
  void formDesignerDialog();
  void exportContentDialog();
  void exportTextTo(const QString& path);
  void exportHtmlTo(const QString& path, bool wordCompatible);
  void exportDocxTo(const QString& outPath);

  // Text recognition (tools/MainWindowOcr.cpp).
  void ocrCurrentPage();
  void ocrSearchable();
  void ocrSearchableTo(const QString& outPath);

  // Page edits and demonstrations (MainWindowPageCommands.cpp).
  void demoAnnotate();
  void clearCurrentAnnotations();
  void setLayoutMode(int mode);
  void rotateView(int steps);
  void selectDemo();
  void rotatePageAt(int oneBased);
  void deletePageAt(int oneBased);
  bool insertBlankPageAt(int oneBased);
  bool cropAllPages(double x0, double y0, double x1, double y1);
  bool deleteImageAt(int page1, int imgIdx1);
  bool insertTextAt(double x, double y, const QString& text);
  void fillFormDemo();
  // The AI dock: a question about the document, a summary of the last compare, the report
  // and the translation (ai/MainWindowAi.cpp).
  void askAi(const QString& question);
  void agentReportTo(const QString& outPath);
  void translateDocument(const QString& lang, const QString& savePath);
  void translateDialog();
  void summarizeLastDiff();
  // Pages ranked by meaning, or by keywords when embeddings are not to be had
  // (ai/MainWindowSemantic.cpp).
  void semanticSearch(const QString& query);
  // Autosave and crash recovery.
  void autosaveSnapshot();
  void checkRecovery();
  // Personal-data redaction (MainWindowRedact.cpp).
  void redactPii();
  void redactPiiTo(const QString& outPath);
  // Data extraction to the AI dock and to a CSV file (tools/MainWindowExtract.cpp).
  void extractData();
  void extractToCsv(const QString& csvPath);
  // Version compare (tools/MainWindowCompare.cpp). The two workers tell whether the compare got
  // as far as the diff; each compare keeps the change text of its diff in lastDiffText, and one
  // that made none empties it.
  bool compareWith(const QString& otherPath);
  void compareWithDialog();
  void showVisualDiff(const QString& otherPath);
  void compareVisualDialog();
  bool compareToHtml(const QString& otherPath, const QString& htmlOut);
  // Annotations to and from XFDF (tools/MainWindowXfdf.cpp); menu only.
  void exportAnnotationsXfdf();
  void importAnnotationsXfdf();
  // Page ranges and parts by bookmarks (MainWindowSplit.cpp).
  void saveRangeTo(const QString& path, int first0, int last0);
  void extractRangeDialog();
  void splitByBookmarksTo(const QString& outDir);
  void splitByBookmarksDialog();
  // Page insertion, cropping and page images (MainWindowPageTools.cpp); each dialog asks for
  // its values and calls the worker after it.
  void insertPageDialog();
  bool insertPageWith(int kind, int where, const QString& imagePath);
  void cropPagesDialog();
  bool cropPageMargins(double left, double right, double top, double bottom, bool allPages);
  void pageImagesDialog();
  // Purchase requests, their journal and the suppliers' offers (tools/MainWindowRequests.cpp).
  // The two journal dialogs return when the My requests dialog is closed; the offers dialog
  // stays open by itself.
  void sendAsRequestDialog();
  void saveMyRequest(const QString& id, const QString& category, const QString& region, const QString& status);
  void myRequestsDialog(const QString& focusId);
  void openMyRequestsForId(const QString& id);
  void showOffersDialog(const QString& id);

 public:
  void showOcrResult(const QString& text, int lines, const QString& engine);
  // How long a page of the text layer waits for the program; tests shorten it.
  static int ocrPageTimeoutMs;

  // The recovery folder's path; nothing is created.
  QString recoveryDir() const;

 protected:
  void dragEnterEvent(QDragEnterEvent* e) override;
  void dropEvent(QDropEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

 private:
  void startLocalBackend();
  // Shows `waiting`, posts, and hands the finished reply and its body to `done`, which runs
  // only while this window lives.
  void postToBackend(const QNetworkRequest& request, const QByteArray& body, const QString& waiting,
                     std::function<void(QNetworkReply*, const QByteArray&)> done);
  // Hands a backend address from a reply to the desktop when it is http or https.
  void openRequestAddress(const QString& address);
  void startAutosave();
  void semanticSearchEmbeddings(const QString& query, const QString& mode, const QString& baseUrl,
                                const QString& apiKey);
  void finishEmbeddingRank(const QString& query, std::vector<float> queryVector,
                           std::vector<std::vector<float>> pageVectors);
  void semanticSearchLexical(const QString& query);
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

  // Long jobs (window/JobRunner.*): the runner is made on first use. A closing tab and the
  // window's end go through it first, since a job's work may still be reading a document.
 public:
  JobRunner& jobs();
  // What exportAllPages does with the folder it asked for (MainWindowSave.cpp).
  void exportAllPagesTo(const QString& dir);

 private:
  JobRunner* jobRunner = nullptr;

  QStackedWidget* stack = nullptr;
  StartView* startView = nullptr;
  QTabWidget* tabs = nullptr;
  ThumbnailPanel* thumbnailPanel = nullptr;
  OutlinePanel* outlinePanel = nullptr;
  CommentsPanel* commentsPanel = nullptr;
  AiPanel* aiPanel = nullptr;
  QDockWidget* aiDock = nullptr;
  // The plain-text line diff of the last compare; empty until one has run.
  QString lastDiffText;
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
  // Snapshots wait until the user has answered about those of an earlier run, which they
  // would otherwise overwrite.
  bool recoverySettled = false;
  bool ocrLayerRunning = false;
  std::unique_ptr<IPdfEngine> engine;
  std::unique_ptr<AnnotationStore> annotationStore;
  std::unique_ptr<RecentsStore> recentsStore;
};

}  // namespace quorvel::desktop
