#include "desktop/ThumbnailPanel.h"

#include <QElapsedTimer>
#include <QMenu>
#include <QScrollBar>
#include <QSignalBlocker>

#include <cmath>
#include <vector>

#include "desktop/PdfView.h"

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
// connected before any panel is, so it is empty by the time a panel rebuilds.
class ThumbnailCache : public QObject {
 public:
  enum State : char { Pending, Done, Failed };

  explicit ThumbnailCache(PdfView* view) : QObject(view) {
    setObjectName(QStringLiteral("thumbnailCache"));
    connect(view, &PdfView::pageStructureChanged, this, &ThumbnailCache::reset);
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

  const IDocument* doc = nullptr;
  std::vector<QIcon> icons;
  std::vector<int> heights;
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
  // Rows that scroll into sight are rendered before the rest.
  connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this] {
    if (view && nextRow < count()) renderTimer.start();
  });
}

ThumbnailPanel::~ThumbnailPanel() = default;

void ThumbnailPanel::setView(PdfView* v) {
  if (view) disconnect(view, nullptr, this, nullptr);
  view = v;
  cache = nullptr;
  if (view) {
    // The cache's own connection to the view must come first.
    cache = ThumbnailCache::of(view);
    connect(view, &PdfView::pageStructureChanged, this, &ThumbnailPanel::fill);
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
  nextRow = 0;
  if (view && !cache) cache = ThumbnailCache::of(view);
  if (!view || !cache) {
    filling = false;
    return;
  }
  const int n = view->pageCount();
  cache->fit(view->doc.get(), n);
  for (int i = 0; i < n; ++i) {
    auto* item = new QListWidgetItem(QString::number(i + 1), this);
    item->setTextAlignment(Qt::AlignHCenter);
    switch (cache->states[i]) {
      case ThumbnailCache::Done:
        item->setIcon(cache->icons[i]);
        item->setSizeHint(QSize(kItemWidth, cache->heights[i] + 30));
        break;
      case ThumbnailCache::Failed:
        item->setSizeHint(QSize(kItemWidth, kFailedHeight));
        break;
      case ThumbnailCache::Pending:
        item->setSizeHint(
            i < int(view->pages.size()) ? expectedHint(view->pages[i]) : QSize(kItemWidth, kFailedHeight));
        break;
    }
  }
  filling = false;
  // With nothing current, keyboard focus would make row 0 current and turn the viewer to page 1.
  highlightPage(view->currentPage());
  renderSome();
}

// Renders the rows in sight first, then the others in page order, for one time slice; the
// zero-interval timer brings the next slice once pending events are handled.
void ThumbnailPanel::renderSome() {
  if (!view || !cache || int(cache->states.size()) != count()) {
    renderTimer.stop();
    return;
  }
  const int n = count();
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
  // The rows in sight are few (bounded by the viewport's height), so they never wait.
  for (int row = lo; row < n; ++row) {
    const QRect r = visualItemRect(item(row));
    if (r.top() > sight.bottom()) break;
    renderRow(row);
  }

  QElapsedTimer clock;
  clock.start();
  bool spent = false;
  while (!spent && nextRow < n) {
    if (renderRow(nextRow)) spent = clock.elapsed() >= kBatchMs;
    ++nextRow;
  }
  while (nextRow < n && cache->states[nextRow] != ThumbnailCache::Pending) ++nextRow;
  if (nextRow < n)
    renderTimer.start();
  else
    renderTimer.stop();
}

// Renders one pending row into the cache and its item; false when there was nothing to do.
bool ThumbnailPanel::renderRow(int row) {
  if (cache->states[row] != ThumbnailCache::Pending) return false;
  const QImage image = view->renderThumbnail(row, kThumbWidth);
  QListWidgetItem* it = item(row);
  if (image.isNull()) {
    cache->states[row] = ThumbnailCache::Failed;
  } else {
    cache->states[row] = ThumbnailCache::Done;
    cache->icons[row] = QIcon(QPixmap::fromImage(image));
    cache->heights[row] = image.height();
    it->setIcon(cache->icons[row]);
  }
  const QSize hint = hintFor(image);
  if (it->sizeHint() != hint) it->setSizeHint(hint);
  return true;
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
