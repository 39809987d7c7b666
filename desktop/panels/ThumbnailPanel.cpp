#include "desktop/panels/ThumbnailPanel.h"

#include <QElapsedTimer>
#include <QMenu>
#include <QScrollBar>
#include <QSignalBlocker>

#include <cmath>
#include <vector>

#include "desktop/viewer/PdfView.h"

namespace quorvel::desktop {

namespace {

constexpr int kThumbWidth = 132;
constexpr int kItemWidth = 156;
constexpr int kFailedHeight = 162;
// Time one timer tick may spend rendering, so scrolling and typing stay smooth meanwhile.
constexpr qint64 kBatchMs = 12;

QSize hintFor(const QImage& image) {
  return image.isNull() ? QSize(kItemWidth, kFailedHeight) : QSize(kItemWidth, image.height() + 30);
}

// The size the page's image will have, so the list has its final length before rendering.
QSize expectedHint(const PageInfo& p) {
  const bool turned = ((p.rotation / 90) & 1) != 0;
  const double w = turned ? p.height : p.width;
  const double ph = turned ? p.width : p.height;
  if (!(w > 0) || !(ph > 0)) return QSize(kItemWidth, kFailedHeight);
  const double h = std::round(ph * (kThumbWidth / w));
  if (!(h < 1e6)) return QSize(kItemWidth, kFailedHeight);
  return QSize(kItemWidth, std::max(1, int(h)) + 30);
}

}  // namespace

// The images of one view, kept as its child so they live exactly as long as the view does and
// a tab switch back to it renders nothing. A change of page structure empties it; it is
// connected before any panel is, so it is empty by the time a panel rebuilds. A change of one
// page's content marks that image stale: it stays on show until its new one is rendered.
class ThumbnailCache : public QObject {
 public:
  enum State : char { Pending, Done, Stale, Failed };

  explicit ThumbnailCache(PdfView* view) : QObject(view) {
    setObjectName(QStringLiteral("thumbnailCache"));
    connect(view, &PdfView::pageStructureChanged, this, &ThumbnailCache::reset);
    connect(view, &PdfView::pageContentChanged, this, &ThumbnailCache::markStale);
  }

  static ThumbnailCache* of(PdfView* view) {
    auto* c = view->findChild<ThumbnailCache*>(QStringLiteral("thumbnailCache"),
                                               Qt::FindDirectChildrenOnly);
    return c ? c : new ThumbnailCache(view);
  }

  void reset() {
    doc = nullptr;
    icons.clear();
    heights.clear();
    states.clear();
  }

  // Another document or page count means the images are stale.
  void fit(const IDocument* d, int count) {
    if (d == doc && int(states.size()) == count) return;
    reset();
    doc = d;
    icons.resize(count);
    heights.resize(count, 0);
    states.resize(count, Pending);
  }

  void markStale(int row) {
    if (row < 0 || row >= int(states.size())) return;
    states[row] = states[row] == Done ? Stale : Pending;
  }

  bool wanted(int row) const { return states[row] == Pending || states[row] == Stale; }

  const IDocument* doc = nullptr;
  std::vector<QIcon> icons;
  std::vector<int> heights;  // of the last image rendered, kept when the image goes
  std::vector<State> states;
};

ThumbnailPanel::ThumbnailPanel(QWidget* parent) : QListWidget(parent) {
  setObjectName(QStringLiteral("thumbPanel"));
  setViewMode(QListView::IconMode);
  setMovement(QListView::Static);
  setResizeMode(QListView::Adjust);
  setFlow(QListView::TopToBottom);
  setWrapping(false);
  setSpacing(10);
  setUniformItemSizes(false);
  setIconSize(QSize(132, 264));
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setContextMenuPolicy(Qt::CustomContextMenu);
  connect(this, &QListWidget::currentRowChanged, this, &ThumbnailPanel::onCurrentRowChanged);
  connect(this, &QWidget::customContextMenuRequested, this, &ThumbnailPanel::showContextMenu);

  renderTimer.setInterval(0);
  connect(&renderTimer, &QTimer::timeout, this, &ThumbnailPanel::renderSome);
  // Rows that scroll into sight are rendered, those far from it give their images up.
  connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this] {
    if (view) renderTimer.start();
  });
}

ThumbnailPanel::~ThumbnailPanel() = default;

void ThumbnailPanel::setView(PdfView* v) {
  if (view) disconnect(view, nullptr, this, nullptr);
  view = v;
  cache = nullptr;
  if (view) {
    // The cache's own connections to the view must come first.
    cache = ThumbnailCache::of(view);
    connect(view, &PdfView::pageStructureChanged, this, &ThumbnailPanel::fill);
    connect(view, &PdfView::pageContentChanged, this, [this] { renderTimer.start(); });
  }
  fill();
  if (view) highlightPage(view->currentPage());
}

void ThumbnailPanel::rebuild() {
  if (cache) cache->reset();
  fill();
}

void ThumbnailPanel::fill() {
  renderTimer.stop();
  filling = true;
  clear();
  if (view && !cache) cache = ThumbnailCache::of(view);
  if (!view || !cache) {
    filling = false;
    return;
  }
  const int n = view->pageCount();
  cache->fit(view->doc.get(), n);
  // Items are made whole before they join the list: one insertion each, no change signals.
  for (int i = 0; i < n; ++i) {
    auto* item = new QListWidgetItem(QString::number(i + 1));
    item->setTextAlignment(Qt::AlignHCenter);
    switch (cache->states[i]) {
      case ThumbnailCache::Done:
      case ThumbnailCache::Stale:
        item->setIcon(cache->icons[i]);
        item->setSizeHint(QSize(kItemWidth, cache->heights[i] + 30));
        break;
      case ThumbnailCache::Failed:
        item->setSizeHint(QSize(kItemWidth, kFailedHeight));
        break;
      case ThumbnailCache::Pending:
        if (cache->heights[i] > 0)
          item->setSizeHint(QSize(kItemWidth, cache->heights[i] + 30));
        else
          item->setSizeHint(i < int(view->pages.size()) ? expectedHint(view->pages[i])
                                                        : QSize(kItemWidth, kFailedHeight));
        break;
    }
    addItem(item);
  }
  filling = false;
  // With nothing current, keyboard focus would make row 0 current and turn the viewer to page 1.
  highlightPage(view->currentPage());
  // A hidden panel (its dock behind another, or not yet shown as a file opens) has nothing in
  // sight to wait for: its images come between events, after the page itself is painted.
  if (isVisible())
    renderSome();
  else
    renderTimer.start();
}

// Renders the rows in sight, drops the images of rows far from it, then renders the rows near
// sight, nearest first, for one time slice; the zero-interval timer brings the next slice once
// pending events are handled.
void ThumbnailPanel::renderSome() {
  if (!view || !cache || int(cache->states.size()) != count()) {
    renderTimer.stop();
    return;
  }
  const int n = count();
  if (n == 0) {
    renderTimer.stop();
    return;
  }
  executeDelayedItemsLayout();
  const QRect sight = viewport()->rect();
  // Rows run top to bottom: find the first one reaching into sight.
  int lo = 0;
  int hi = n;
  while (lo < hi) {
    const int mid = (lo + hi) / 2;
    if (visualItemRect(item(mid)).bottom() < sight.top())
      lo = mid + 1;
    else
      hi = mid;
  }
  const int first = std::min(lo, n - 1);
  int last = first;
  while (last + 1 < n && visualItemRect(item(last + 1)).top() <= sight.bottom()) ++last;
  // The rows in sight are few (bounded by the viewport's height), so they never wait.
  const bool shown = isVisible();
  if (shown)
    for (int row = first; row <= last; ++row) renderRow(row);

  const int keepFrom = std::max(0, first - keptRows);
  const int keepTo = std::min(n - 1, last + keptRows);
  for (int row = 0; row < n; ++row) {
    if (row == keepFrom) row = keepTo + 1;
    if (row < n && cache->states[row] != ThumbnailCache::Pending && !cache->icons[row].isNull()) dropRow(row);
  }

  // The slice ends before a row that has to wait, never after the last one: whoever sees the
  // last image also sees the rendering finished.
  QElapsedTimer clock;
  clock.start();
  const auto renderInSlice = [&](int row) {
    if (!cache->wanted(row)) return true;
    if (clock.elapsed() >= kBatchMs) return false;
    renderRow(row);
    return true;
  };
  if (!shown)
    for (int row = first; row <= last; ++row)
      if (!renderInSlice(row)) {
        renderTimer.start();
        return;
      }
  for (int d = 1; d <= keptRows; ++d) {
    for (const int row : {last + d, first - d}) {
      if (row < keepFrom || row > keepTo) continue;
      if (!renderInSlice(row)) {
        renderTimer.start();
        return;
      }
    }
  }
  renderTimer.stop();
}

// Renders one row whose image is missing or stale into the cache and its item; false when
// there was nothing to do.
bool ThumbnailPanel::renderRow(int row) {
  if (!cache->wanted(row)) return false;
  const QImage image = view->renderThumbnail(row, kThumbWidth);
  QListWidgetItem* it = item(row);
  if (image.isNull()) {
    cache->states[row] = ThumbnailCache::Failed;
    cache->icons[row] = QIcon();
    cache->heights[row] = 0;
    it->setIcon(QIcon());
  } else {
    cache->states[row] = ThumbnailCache::Done;
    // The selected row is shown by its frame; Qt's default selected icon would tint the page.
    const QPixmap pixmap = QPixmap::fromImage(image);
    QIcon icon(pixmap);
    icon.addPixmap(pixmap, QIcon::Selected);
    cache->icons[row] = icon;
    cache->heights[row] = image.height();
    it->setIcon(cache->icons[row]);
  }
  const QSize hint = hintFor(image);
  if (it->sizeHint() != hint) it->setSizeHint(hint);
  return true;
}

// A row far from sight gives its image up; its size stays, so the list does not move.
void ThumbnailPanel::dropRow(int row) {
  cache->icons[row] = QIcon();
  if (cache->states[row] != ThumbnailCache::Failed) cache->states[row] = ThumbnailCache::Pending;
  item(row)->setIcon(QIcon());
}

void ThumbnailPanel::resizeEvent(QResizeEvent* e) {
  QListWidget::resizeEvent(e);
  if (view) renderTimer.start();
}

void ThumbnailPanel::showEvent(QShowEvent* e) {
  QListWidget::showEvent(e);
  if (view) renderTimer.start();
}

void ThumbnailPanel::onCurrentRowChanged(int row) {
  if (filling || !view || row < 0) return;
  view->goToPage(row + 1);
}

void ThumbnailPanel::highlightPage(int oneBased) {
  const int row = oneBased - 1;
  if (row < 0 || row >= count()) return;
  const QSignalBlocker blocker(this);
  setCurrentRow(row);
}

void ThumbnailPanel::showContextMenu(const QPoint& pos) {
  if (!view || !pageMenuEnabled) return;
  QListWidgetItem* under = itemAt(pos);
  if (!under) return;
  // The chosen action rebuilds the list and deletes every item: keep the row, not the item.
  const int r = row(under);
  const int n = count();

  QMenu menu(this);
  QAction* rotate = menu.addAction(QStringLiteral("Повернуть страницу вправо"));
  QAction* up = menu.addAction(QStringLiteral("Переместить вверх"));
  QAction* down = menu.addAction(QStringLiteral("Переместить вниз"));
  menu.addSeparator();
  QAction* remove = menu.addAction(QStringLiteral("Удалить страницу"));
  up->setEnabled(r > 0);
  down->setEnabled(r < n - 1);

  const QPointer<PdfView> target = view;
  QAction* chosen = menu.exec(viewport()->mapToGlobal(pos));
  // The menu's event loop may have closed the tab, or bound the panel to another tab's view,
  // whose page at that row is not the one the user chose.
  if (!chosen || !target || view != target) return;
  if (chosen == rotate)
    target->rotatePage(r, 1);
  else if (chosen == up)
    target->movePage(r, r - 1);
  else if (chosen == down)
    target->movePage(r, r + 1);
  else if (chosen == remove)
    target->deletePage(r);
}

}  // namespace quorvel::desktop
