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
#include <QPointer>
#include <QString>
#include <QStringList>
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
class QLockFile;
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
class BackendLink;
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

  // Runs `work` once the window's first paint is on screen, so that a long first action (a
  // large document named on the command line) never keeps the user looking at nothing. A
  // window that is not shown, or that the platform never exposes, does not wait.
  void runWhenShown(std::function<void()> work);

  // The address of a backend endpoint: QUORVEL_BACKEND when set and not empty, with the
  // endpoint appended as it stands; else a placeholder that the window's network manager
  // sends to the backend it started, or nowhere (BackendLink.h).
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
  // The import once the file is chosen; runs as a job of the window.
  void importAnnotationsXfdfFrom(const QString& path);
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

  // The recovery folder's path; nothing is created. Each running window keeps its snapshots in
  // a folder of its own inside it (or inside the fallback, recoveryRoots()).
  QString recoveryDir() const;
  // Where recovery folders may be, in the order they are tried: recoveryDir(), then one in the
  // user's cache folder for when that one is another user's or no folder at all.
  QStringList recoveryRoots() const;
  // Writes one snapshot pair: `stem`.pdf through `savePdf` (given a temporary path beside it,
  // renamed over the snapshot only when it succeeded), then `stem`.txt holding `origin`, the
  // path the document stands for. Touches no window state, so it may run on any thread.
  static bool writeSnapshot(const QString& stem, const std::function<bool(const QString&)>& savePdf,
                            const QByteArray& origin);

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
  // Unsaved edits (MainWindow.cpp): the tab of a view with edits no save has written shows a
  // mark before its name. Before a tab or the window closes over such edits the user is asked
  // once whether to save them (a copy through the save dialog, one per document), drop them or
  // keep the window as it is; true when the close may go on. A window that is not shown has
  // nobody to ask (tests, scripted runs): its edits are dropped without a word.
  void followUnsaved(PdfView* view);
  bool settleUnsaved(const std::vector<PdfView*>& views);
  std::vector<PdfView*> unsavedViews() const;
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
  // The search in progress or done (MainWindowSearch.cpp): the view it runs in, the text its
  // hits are of, and whether the document holds more than were found.
  void takeSearchHits(const std::vector<search::DocMatch>& hits);
  void endSearch(bool partial);
  // Stops the search and forgets its hits.
  void dropSearch();
  QPointer<PdfView> searchedView;
  QString searchedText;
  bool searchPartial = false;
  QActionGroup* toolGroup = nullptr;
  QNetworkAccessManager* network = nullptr;
  QProcess* backendProcess = nullptr;
  bool mvp = false;
  QList<QAction*> editionActions;
  QShortcut* leaveFullScreen = nullptr;
  // Autosave and crash recovery (MainWindowRecovery.cpp). `openFileAs` is openFile for a file
  // that stands for another (`shownPath`: the tab's name and path), kept out of the recent list
  // unless `remember`; null when nothing opened.
  PdfView* openFileAs(const QString& path, const QString& shownPath, bool remember);
  // This window's snapshot folder, made with its lock at the first need; false (after saying
  // so once) when no recovery root can be used.
  bool ensureSnapshotFolder();
  // Where the snapshot of the tab at `index` goes: a recovered document's own pair until it is
  // saved, else this window's "rec-<index>"; empty when there is nowhere to write.
  QString snapshotStem(int index, const PdfView* view);
  // The path the view's document stands for (a property openFileAs gives the view), written
  // beside its snapshot.
  static constexpr char documentPathProperty[] = "quorvelDocumentPath";
  // The page edits a view refused since its document was last saved (a QStringList): the
  // save's status names them, since the copy lacks them.
  static constexpr char refusedEditsProperty[] = "quorvelRefusedEdits";
  static QString documentPathOf(const PdfView* view);
  // The recovered work of `view` now exists in a file the user saved: its snapshot may go.
  void recoveredWorkSaved(PdfView* view);
  // The user saved or dropped the edits of `view`, whose tab is closing: its snapshots go, the
  // recovered pair it came from included.
  void dropSnapshotsOf(PdfView* view);
  // Asks for the path of a copy to save, as Save as does; empty when the user cancelled.
  QString askSavePath();
  // At a normal close: removes this window's own snapshots and lets go of the folders it
  // holds; the only copies of recovered work stay there for the next start.
  void releaseRecovery();
  // Set once the user has answered about the work of earlier runs (or there was none).
  bool recoverySettled = false;
  bool autosaveOffTold = false;
  QString snapshotFolder;
  std::unique_ptr<QLockFile> snapshotLock;
  // Folders of windows that ended without closing, held while their work is offered or open
  // here, so no other window offers it too.
  struct ClaimedFolder {
    QString path;
    std::unique_ptr<QLockFile> lock;
  };
  std::vector<ClaimedFolder> claimedFolders;
  bool ocrLayerRunning = false;
  // The user has answered for the unsaved edits of a window close that then waited for a job.
  bool closeSettled = false;
  std::unique_ptr<IPdfEngine> engine;
  std::unique_ptr<AnnotationStore> annotationStore;
  std::unique_ptr<RecentsStore> recentsStore;

  // The backend this window started, or none, and how requests reach the backend
  // (window/MainWindowBackend.cpp); `network` goes through it.
  BackendLink* backendLink = nullptr;
};

}  // namespace quorvel::desktop
