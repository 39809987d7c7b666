// Construction, layout, coordinate transforms and zoom of the page viewer.
#include "desktop/viewer/PdfView.h"

#include <QFrame>
#include <QMouseEvent>
#include <QResizeEvent>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

#include "desktop/stores/AnnotationStore.h"

namespace quorvel::desktop {

namespace {

// Margin around the content and gap between pages, both ways.
constexpr double kGap = 12.0;
constexpr double kMinScale = 0.1;
constexpr double kMaxScale = 64.0;
constexpr double kZoomStep = 1.25;

// Rows of the layout as [first, last) ranges of page indexes: one page a row, pairs from the
// first page on, or the first page alone and pairs after it.
size_t rowEnd(PdfView::ViewMode mode, size_t pageCount, size_t first) {
  const size_t len = mode == PdfView::Single ? 1 : mode == PdfView::TwoPage ? 2 : first == 0 ? 1 : 2;
  return std::min(pageCount, first + len);
}

size_t rowStart(PdfView::ViewMode mode, size_t index) {
  if (mode == PdfView::Single) return index;
  if (mode == PdfView::TwoPage) return index - index % 2;
  return index == 0 ? 0 : index - (index - 1) % 2;
}

}  // namespace

int scrollPixels(double v) {
  if (!(v > 0.0)) return 0;
  return v >= 2147483647.0 ? 2147483647 : static_cast<int>(v);
}

PdfView::PdfView(QWidget* parent) : QAbstractScrollArea(parent) {
  setFrameStyle(QFrame::NoFrame);
  viewport()->setAutoFillBackground(true);
  viewport()->setMouseTracking(false);
  setFocusPolicy(Qt::StrongFocus);
  horizontalScrollBar()->setSingleStep(40);
  verticalScrollBar()->setSingleStep(40);
}

// The members go in reverse order of declaration, so the document outlives the caches.
PdfView::~PdfView() = default;

void PdfView::setDocument(std::unique_ptr<IDocument> d) {
  // A search or the outline's read may be reading the document that goes.
  searchTextChanged(-1);
  outlineRun.reset();
  toolOutlineRun.reset();
  std::unique_ptr<IDocument> previous = std::move(doc);
  doc = std::move(d);
  previous.reset();

  highlights.clear();
  activeMatch = -1;
  charCache.clear();
  linkCache.clear();
  clearTextSelection();
  selecting = false;
  storePages.clear();
  formPage = -1;
  storeOffsets.clear();

  pages.clear();
  if (doc) {
    const int n = std::max(0, doc->page_count());
    pages.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) pages.push_back(doc->page_info(i));
  }

  relayout();
  verticalScrollBar()->setValue(0);
  horizontalScrollBar()->setValue(0);
  lastEmittedPage = 0;
  emitCurrentPage();

  reloadAnnotations();
  viewport()->update();
}

int PdfView::pageTotalRot(int index) const {
  if (index < 0 || index >= static_cast<int>(pages.size())) return 0;
  return (pages[static_cast<size_t>(index)].rotation / 90 + viewRotation) & 3;
}

QPointF PdfView::pdfToDeviceOffset(int index, double x, double y) const {
  if (index < 0 || index >= static_cast<int>(pages.size())) return {};
  const PageInfo& p = pages[static_cast<size_t>(index)];
  const double s = scale;
  switch (pageTotalRot(index)) {
    case 1:
      return {y * s, x * s};
    case 2:
      return {(p.width - x) * s, y * s};
    case 3:
      return {(p.height - y) * s, (p.width - x) * s};
    default:
      return {x * s, (p.height - y) * s};
  }
}

void PdfView::deviceOffsetToPdf(int index, double dx, double dy, double& x, double& y) const {
  if (index < 0 || index >= static_cast<int>(pages.size())) {
    x = y = 0.0;
    return;
  }
  const PageInfo& p = pages[static_cast<size_t>(index)];
  const double a = dx / scale;
  const double b = dy / scale;
  switch (pageTotalRot(index)) {
    case 1:
      x = b;
      y = a;
      break;
    case 2:
      x = p.width - a;
      y = b;
      break;
    case 3:
      x = p.width - b;
      y = p.height - a;
      break;
    default:
      x = a;
      y = p.height - b;
      break;
  }
}

QRectF PdfView::pdfRectToContent(int index, double x0, double y0, double x1, double y1) const {
  if (index < 0 || index >= static_cast<int>(layouts.size()) ||
      index >= static_cast<int>(pages.size()))
    return QRectF(0, 0, 0, 0);
  const QPointF c[4] = {pdfToDeviceOffset(index, x0, y0), pdfToDeviceOffset(index, x1, y0),
                        pdfToDeviceOffset(index, x0, y1), pdfToDeviceOffset(index, x1, y1)};
  double left = c[0].x(), right = c[0].x(), top = c[0].y(), bottom = c[0].y();
  for (const QPointF& q : c) {
    left = std::min(left, q.x());
    right = std::max(right, q.x());
    top = std::min(top, q.y());
    bottom = std::max(bottom, q.y());
  }
  const PageLayout& l = layouts[static_cast<size_t>(index)];
  return QRectF(l.x + left, l.y + top, std::max(1.0, right - left), std::max(1.0, bottom - top));
}

QRectF PdfView::rectPdfToContent(int index, const annot::Rect& r) const {
  return pdfRectToContent(index, r.x0, r.y0, r.x1, r.y1);
}

QRectF PdfView::matchRectContent(int index, const TextRun& run) const {
  return pdfRectToContent(index, run.left, run.top, run.right, run.bottom);
}

QRectF PdfView::matchRectContent(int index, const search::DocMatch& m) const {
  return pdfRectToContent(index, m.left, m.top, m.right, m.bottom);
}

QPointF PdfView::pagePointToContent(int index, const annot::Point& p) const {
  if (index < 0 || index >= static_cast<int>(layouts.size()) ||
      index >= static_cast<int>(pages.size()))
    return {0, 0};
  const PageLayout& l = layouts[static_cast<size_t>(index)];
  return QPointF(l.x, l.y) + pdfToDeviceOffset(index, p.x, p.y);
}

bool PdfView::contentToPage(QPointF content, int& page, annot::Point& out) const {
  const double cx = content.x(), cy = content.y();
  for (size_t i = 0; i < layouts.size(); ++i) {
    const PageLayout& l = layouts[i];
    if (cx >= l.x && cx <= l.x + l.w && cy >= l.y && cy <= l.y + l.h) {
      page = static_cast<int>(i);
      deviceOffsetToPdf(page, cx - l.x, cy - l.y, out.x, out.y);
      return true;
    }
  }
  return false;
}

QPointF PdfView::eventContentPos(const QMouseEvent* e) const {
  return e->position() + QPointF(horizontalScrollBar()->value(), verticalScrollBar()->value());
}

int PdfView::contentWidth() const {
  if (layouts.empty()) return static_cast<int>(kGap);
  double right = 0.0;
  for (const PageLayout& l : layouts) right = std::max(right, l.x + l.w);
  return scrollPixels(std::ceil(right) + kGap);
}

double PdfView::contentHeight() const {
  if (layouts.empty()) return 0.0;
  double bottom = 0.0;
  for (const PageLayout& l : layouts) bottom = std::max(bottom, l.y + l.h);
  return bottom + kGap;
}

void PdfView::updateScrollBars() {
  const int vw = viewport()->width();
  const int vh = viewport()->height();
  horizontalScrollBar()->setRange(0, std::max(0, contentWidth() - vw));
  horizontalScrollBar()->setPageStep(vw);
  const int contentH = scrollPixels(std::ceil(contentHeight()));
  verticalScrollBar()->setRange(0, std::max(0, contentH - vh));
  verticalScrollBar()->setPageStep(vh);
}

void PdfView::relayout() {
  const size_t n = pages.size();
  layouts.assign(n, PageLayout{});
  for (size_t i = 0; i < n; ++i) {
    double w = pages[i].width * scale;
    double h = pages[i].height * scale;
    if (pageTotalRot(static_cast<int>(i)) & 1) std::swap(w, h);
    layouts[i].w = w;
    layouts[i].h = h;
  }

  auto rowWidth = [&](size_t first, size_t last) {
    double w = kGap * static_cast<double>(last - first - 1);
    for (size_t i = first; i < last; ++i) w += layouts[i].w;
    return w;
  };

  double widest = 0.0;
  for (size_t first = 0; first < n;) {
    const size_t last = rowEnd(viewMode, n, first);
    widest = std::max(widest, rowWidth(first, last));
    first = last;
  }

  double y = kGap;
  for (size_t first = 0; first < n;) {
    const size_t last = rowEnd(viewMode, n, first);
    double x = (widest - rowWidth(first, last)) / 2.0 + kGap;
    double tallest = 0.0;
    for (size_t i = first; i < last; ++i) {
      layouts[i].x = x;
      layouts[i].y = y;
      x += layouts[i].w + kGap;
      tallest = std::max(tallest, layouts[i].h);
    }
    y += tallest + kGap;
    first = last;
  }

  updateScrollBars();
}

int PdfView::currentPage() const {
  if (layouts.empty()) return 0;
  const double probe = verticalScrollBar()->value() + viewport()->height() / 2;
  for (size_t i = 0; i < layouts.size(); ++i) {
    const PageLayout& l = layouts[i];
    if (probe >= l.y - kGap && probe < l.y + l.h + kGap) return static_cast<int>(i) + 1;
  }
  if (probe < layouts.front().y) return 1;
  return pageCount();
}

void PdfView::emitCurrentPage() {
  const int c = currentPage();
  if (c == lastEmittedPage) return;
  lastEmittedPage = c;
  emit pageChanged(c);
}

void PdfView::rotateClockwise() {
  const int c = currentPage();
  viewRotation = (viewRotation + 1) % 4;
  relayout();
  if (c > 0) goToPage(c);
  viewport()->update();
}

void PdfView::rotateCounterClockwise() {
  const int c = currentPage();
  viewRotation = (viewRotation + 3) % 4;
  relayout();
  if (c > 0) goToPage(c);
  viewport()->update();
}

void PdfView::setViewMode(ViewMode m) {
  if (m == viewMode) return;
  const int c = currentPage();
  viewMode = m;
  relayout();
  if (c > 0) goToPage(c);
  viewport()->update();
}

void PdfView::setScale(double s) {
  // NaN would pass every comparison below and poison the layout.
  if (std::isnan(s)) return;
  s = std::clamp(s, kMinScale, kMaxScale);
  if (std::abs(s - scale) < 1e-9) return;
  const int c = currentPage();
  scale = s;
  relayout();
  if (c > 0) goToPage(c);
  emit scaleChanged(scale);
  viewport()->update();
}

void PdfView::zoomIn() { setScale(scale * kZoomStep); }

void PdfView::zoomOut() { setScale(scale / kZoomStep); }

void PdfView::actualSize() { setScale(1.0); }

void PdfView::fitWidth() {
  if (pages.empty()) return;
  double widest = 0.0;
  for (const PageInfo& p : pages) widest = std::max(widest, p.width);
  if (!(widest > 0.0)) return;
  setScale((viewport()->width() - 2 * kGap) / widest);
}

// The whole row of the current page, a spread in the two-page and book layouts, fits the
// viewport as it will be once laid out: a scroll bar that the new scale needs takes its room.
void PdfView::fitPage() {
  if (pages.empty()) return;
  const int c = currentPage();
  const size_t n = pages.size();
  const size_t index = c < 1 ? 0 : std::min(static_cast<size_t>(c - 1), n - 1);
  const size_t rowFirst = rowStart(viewMode, index), rowLast = rowEnd(viewMode, n, rowFirst);
  // Every row as its pages' widths and tallest height in points, and its gaps in pixels.
  struct Row {
    double width = 0, height = 0, gaps = 0;
    bool flat = false;  // a page of no size
  };
  std::vector<Row> rows;
  size_t fittedRow = 0;
  for (size_t first = 0; first < n;) {
    const size_t last = rowEnd(viewMode, n, first);
    if (first == rowFirst) fittedRow = rows.size();
    Row r;
    r.gaps = kGap * static_cast<double>(last - first - 1);
    for (size_t i = first; i < last; ++i) {
      double w = pages[i].width, h = pages[i].height;
      if (pageTotalRot(static_cast<int>(i)) & 1) std::swap(w, h);
      r.width += w;
      r.height = std::max(r.height, h);
      r.flat = r.flat || !(w > 0.0) || !(h > 0.0);
    }
    rows.push_back(r);
    first = last;
  }
  const Row fitted = rows[fittedRow];
  if (fitted.flat) return;
  auto contentAt = [&rows](double s) {
    double widest = 0, tall = kGap;
    for (const Row& r : rows) {
      widest = std::max(widest, r.width * s + r.gaps);
      tall += r.height * s + kGap;
    }
    return QSizeF(widest + 2 * kGap, tall);
  };
  const QSize full = maximumViewportSize();
  // Bars always on are outside the maximum already; bars always off never take room.
  const int barWidth = verticalScrollBarPolicy() == Qt::ScrollBarAsNeeded ? verticalScrollBar()->sizeHint().width() : 0;
  const int barHeight =
      horizontalScrollBarPolicy() == Qt::ScrollBarAsNeeded ? horizontalScrollBar()->sizeHint().height() : 0;
  bool vbar = false, hbar = false;
  double s = scale;
  for (int pass = 0; pass < 3; ++pass) {
    const double vw = full.width() - (vbar ? barWidth : 0), vh = full.height() - (hbar ? barHeight : 0);
    s = std::clamp(std::min((vw - 2 * kGap - fitted.gaps) / fitted.width, (vh - 2 * kGap) / fitted.height),
                   kMinScale, kMaxScale);
    const QSizeF content = contentAt(s);
    const bool needV = std::ceil(content.height()) > vh, needH = std::ceil(content.width()) > vw;
    if (needV == vbar && needH == hbar) break;
    vbar = needV;
    hbar = needH;
  }
  setScale(s);
  if (c > 0) goToPage(c);
  // A row narrower than the widest one is centred in the content: show its middle.
  const PageLayout& left = layouts[rowFirst];
  const PageLayout& right = layouts[rowLast - 1];
  const double middle = (left.x + right.x + right.w) / 2;
  const int vw = full.width() - (vbar ? barWidth : 0);
  horizontalScrollBar()->setValue(scrollPixels(middle - vw / 2.0));
}

void PdfView::goToPage(int oneBased) {
  if (oneBased <= 0 || oneBased > pageCount() || oneBased > static_cast<int>(layouts.size())) return;
  const double top = layouts[static_cast<size_t>(oneBased - 1)].y - kGap;
  verticalScrollBar()->setValue(scrollPixels(std::floor(top)));
}

void PdfView::wheelEvent(QWheelEvent* e) {
  if (e->modifiers() & Qt::ControlModifier) {
    if (e->angleDelta().y() > 0)
      zoomIn();
    else
      zoomOut();
    e->accept();
    return;
  }
  QAbstractScrollArea::wheelEvent(e);
}

void PdfView::resizeEvent(QResizeEvent* e) {
  QAbstractScrollArea::resizeEvent(e);
  updateScrollBars();
}

void PdfView::scrollContentsBy(int, int) {
  viewport()->update();
  emitCurrentPage();
}

}  // namespace quorvel::desktop
