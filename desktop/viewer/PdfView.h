// The page viewer: one per document tab. It owns its document and paints the visible part of
// each page on demand; its geometry, painting, text, page operations, annotation list and
// input handling live in one source each (PdfView*.cpp).
#pragma once

#include <QAbstractScrollArea>
#include <QByteArray>
#include <QImage>
#include <QPoint>
#include <QPointF>
#include <QRectF>
#include <QString>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/annot.h"
#include "core/engine.h"
#include "core/search.h"
#include "desktop/viewer/AnnotationGesture.h"
#include "desktop/viewer/OutlineRun.h"
#include "desktop/viewer/SearchRun.h"

class QMouseEvent;
class QKeyEvent;
class QPaintEvent;
class QResizeEvent;
class QWheelEvent;

namespace quorvel::desktop {

class AnnotationStore;

// A content position as a scroll-bar value: truncated, and held within 0 to INT_MAX, since
// absurd page sizes at high zoom run past what a scroll bar counts (PdfView.cpp).
int scrollPixels(double v);

// Moves an annotation's box and points by (dx, dy) page points (PdfViewPages.cpp).
void shiftAnnotation(annot::Annotation& a, double dx, double dy);

// The engine's rendering of page `index`, whose page_info is `info`, at `scale` pixels a point
// in its own orientation, as PdfView::renderPageImage gives it; needs no view, so that a job
// off the window's thread can render too (PdfViewPages.cpp).
QImage pageImage(IDocument& doc, int index, const PageInfo& info, double scale);

// PdfView::documentText of any document, so that a job off the window's thread can read it too
// (PdfViewText.cpp). With `total`, every page is read and the length of the whole text (what
// the result would be without the cut) goes there.
QString documentText(const IDocument& doc, int maxChars, qsizetype* total = nullptr);

class PdfView : public QAbstractScrollArea {
  Q_OBJECT

 public:
  enum ViewMode : int { Single = 0, TwoPage = 1, Book = 2 };
  using Mode = viewer::ToolMode;
  using enum viewer::ToolMode;
  struct PageLayout {
    double x = 0, y = 0, w = 0, h = 0;
  };
  struct SelChar {
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    QString text;
    // The first character of its run: copied text breaks the line before it.
    bool runStart = false;
  };

  explicit PdfView(QWidget* parent = nullptr);
  ~PdfView() override;

  // Layout, coordinates and zoom (PdfView.cpp).
  void setDocument(std::unique_ptr<IDocument> d);
  int pageTotalRot(int index) const;
  QPointF pdfToDeviceOffset(int index, double x, double y) const;
  void deviceOffsetToPdf(int index, double dx, double dy, double& x, double& y) const;
  QRectF pdfRectToContent(int index, double x0, double y0, double x1, double y1) const;
  QRectF rectPdfToContent(int index, const annot::Rect& r) const;
  QRectF matchRectContent(int index, const TextRun& run) const;
  QRectF matchRectContent(int index, const search::DocMatch& m) const;
  QPointF pagePointToContent(int index, const annot::Point& p) const;
  bool contentToPage(QPointF content, int& page, annot::Point& out) const;
  QPointF eventContentPos(const QMouseEvent* e) const;
  int contentWidth() const;
  double contentHeight() const;
  void updateScrollBars();
  void relayout();
  int currentPage() const;
  void emitCurrentPage();
  void rotateClockwise();
  void rotateCounterClockwise();
  void setViewMode(ViewMode m);

  // Painting and search hits (PdfViewPaint.cpp).
  void setHighlights(std::vector<search::DocMatch> matches);
  void clearHighlights();
  void setActiveMatch(int i);

  // Text, selection, links and navigation (PdfViewText.cpp).
  const std::vector<SelChar>& pageChars(int page);
  int nearestChar(int page, const annot::Point& p) const;
  // The one way the text selection changes: characters [start, end) of a page (either order);
  // and no selection at all.
  void setTextSelection(int page, int start, int end);
  void clearTextSelection();
  void selectWordAt(int page, int index);
  void selectLineAt(int page, int index);
  void selectDemo();
  void copySelection();
  const std::vector<Link>& pageLinks(int page);
  void navigateToPage(int oneBased);
  bool goBack();
  bool goForward();
  QString documentText(int maxChars) const;

  // Page operations, saving and page images (PdfViewPages.cpp).
  int pageCount() const;
  // Each gives whether the document changed; one that changed nothing says why through
  // pageEditRefused. The last page of a document is never deleted.
  bool deletePage(int index);
  bool rotatePage(int index, int quarterTurns);
  bool movePage(int from, int to);
  bool insertBlankPage(int at, double width, double height);
  bool cropPage(int index, double x0, double y0, double x1, double y1);
  bool mergePdf(const QByteArray& pdf);
  bool saveAs(const QString& path);
  bool saveRange(const QString& path, int first, int last);
  QImage renderThumbnail(int index, int width) const;
  QImage renderPageImage(int index, double scale) const;
  void fillFormDemo();
  void refreshStructure();
  // The one path of every edit of a page's content that keeps the page list as it is (text
  // typed into the page, form input, stamps, redaction, watermarks): the page's text and links
  // are read again, the view repaints and pageContentChanged tells the thumbnails.
  void pageContentEdited(int index);
  // Whether the document holds page or content edits that no save has written (annotations go
  // to the store at once and are not counted). Set by refreshStructure and pageContentEdited,
  // through which every such edit is announced; cleared by the window once a save succeeded.
  bool hasUnsavedChanges() const { return unsaved; }
  void setUnsavedChanges(bool on);

  // Annotation list (PdfViewAnnotations.cpp).
  void setStore(AnnotationStore* store, const QString& docHash);
  void reloadAnnotations();
  void addAnnotation(const annot::Annotation& a);
  // Many at once (an import): one whose id the list holds replaces that entry in place, the
  // rest are appended; the store writes them in one transaction, and annotationsChanged is
  // emitted once. Gives how many replaced an entry.
  int addAnnotations(const std::vector<annot::Annotation>& list);
  void updateAnnotation(const annot::Annotation& a);
  void removeAnnotation(const std::string& id);
  void clearAnnotations();
  void eraseAt(QPointF contentPos);
  void deleteSelected();
  void focusAnnotation(const std::string& id);
  viewer::ResizeHandle handleAt(const annot::Annotation& a, QPointF contentPos) const;

  // The store keeps annotations on the pages of the file its key names. After page edits the
  // view's pages differ: these map between the two (-1: the page has no counterpart, such as
  // an inserted page, whose annotations live in the view and saved copies only, or a deleted
  // one, whose stored annotations are not shown).
  int storePageOf(int viewPage) const;
  int viewPageOf(int storePage) const;
  // A crop moves a page's origin; the store keeps the file's page space, so a point of the
  // view's page lies at itself plus this offset in the store.
  annot::Point storeOffsetOf(int viewPage) const;

  // Members read or written by the window, panels and tools.
  std::unique_ptr<IDocument> doc;
  // The outline panel's read of `doc`; declared after it, so that the read ends before it goes.
  std::unique_ptr<OutlineRun> outlineRun;
  // The same for a tool that needs the tree (readOutlineAnswering).
  std::unique_ptr<OutlineRun> toolOutlineRun;
  std::vector<PageInfo> pages;
  std::vector<PageLayout> layouts;
  std::vector<search::DocMatch> highlights;
  int activeMatch = -1;
  double scale = 1.0;
  int lastEmittedPage = 0;
  int viewRotation = 0;
  ViewMode viewMode = Single;
  AnnotationStore* store = nullptr;
  QString docHash;
  std::vector<annot::Annotation> annotations;
  Mode toolMode = Select;
  bool dragging = false;
  int dragPage = -1;
  annot::Point dragStart;
  annot::Point dragCurrent;
  std::vector<annot::Point> inkPoints;
  std::string selectedId;
  bool movingAnnotation = false;
  viewer::ResizeHandle resizeHandle = viewer::ResizeHandle::None;
  annot::Point pressPoint;
  annot::Annotation pressCopy;
  uint32_t highlightColor = 0xFFEB3B;
  uint32_t penColor = 0xE53935;
  double penWidth = 2.0;
  std::map<int, std::vector<SelChar>> charCache;
  std::map<int, std::vector<Link>> linkCache;
  std::vector<int> backStack;
  std::vector<int> forwardStack;
  int selPage = -1;
  int selStart = -1;
  int selEnd = -1;
  qint64 lastClickMs = 0;
  QPoint lastClickPos;
  bool selecting = false;
  // Original (stored) page index of each current page; empty means identity.
  std::vector<int> storePages;
  // The page of the last click into the form layer, which form keys and characters edit.
  int formPage = -1;
  // Per current page, what its crops moved the origin by since the file was opened; empty
  // means none.
  std::vector<annot::Point> storeOffsets;

 private:
  bool unsaved = false;
  // A paint left a page white while the engine was busy; the view paints again shortly.
  bool paintAgainPending = false;

 signals:
  void annotationsChanged();
  void pageStructureChanged();
  // The content of the page at index (zero-based) changed; the page list did not.
  void pageContentChanged(int index);
  void navHistoryChanged();
  void pageChanged(int oneBased);
  void scaleChanged(double scale);
  // A store write failed: the annotation stays on screen and in saved copies.
  void annotationStoreFailed(const QString& message);
  // A page edit that left the document as it was, with the text that says so.
  void pageEditRefused(const QString& message);
  void unsavedChangesChanged(bool unsaved);

 public slots:
  void setScale(double s);
  void zoomIn();
  void zoomOut();
  void fitWidth();
  void fitPage();
  void actualSize();
  void goToPage(int oneBased);

 protected:
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void wheelEvent(QWheelEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void scrollContentsBy(int dx, int dy) override;

  // Search off the window's thread, and the page text it keeps for the next search
  // (PdfViewSearch.cpp). Declared last, so that a running search ends before the document goes.
 public:
  // Hits come by searchHitsFound in document order, a batch at a time, then searchFinished.
  void startSearch(const QString& query, const search::Options& options, size_t max);
  // Ends the search without a word: the caller has moved on.
  void stopSearch();
  bool searchRunning() const;
  // Adds hits to those painted; repaints only when one of them is in view.
  void appendHighlights(const std::vector<search::DocMatch>& more);
  const search::PageTextCache& searchTextCache() const { return *searchText; }
  // The document read through the page text that search keeps, filled in as pages are read:
  // run texts and boxes, without character boxes. For work off the window's thread on this
  // view's document; it may outlive the view while the document lives.
  std::unique_ptr<IDocument> keptTextReader();
  // What the kept page text of all views together may take.
  static std::shared_ptr<search::TextBudget> searchTextBudget();

 signals:
  void searchHitsFound(const std::vector<quorvel::search::DocMatch>& hits);
  // `partial`: the document holds hits beyond those found, since the cap was reached, or may
  // hold them, since an edit stopped the search.
  void searchFinished(bool partial);

 private:
  // A page whose content changed (-1: every page) is read again, and a running search ends.
  void searchTextChanged(int page);
  // From the first reading on, edits drop what they make stale.
  void followEdits();
  std::shared_ptr<search::PageTextCache> searchText = std::make_shared<search::PageTextCache>(searchTextBudget());
  bool searchFollowsEdits = false;
  std::unique_ptr<SearchRun> searchRun;
};

}  // namespace quorvel::desktop
