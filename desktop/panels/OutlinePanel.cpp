#include "desktop/panels/OutlinePanel.h"

#include <QDockWidget>
#include <QEvent>
#include <QTimer>

#include "desktop/viewer/PdfView.h"

namespace quorvel::desktop {

namespace {

constexpr int kPageRole = Qt::UserRole + 1;

// Builds the items outside the tree: a manual's thousands of bookmarks then enter it in one
// insertion instead of one model change and relayout each.
void addItems(QTreeWidgetItem* parent, QList<QTreeWidgetItem*>* top, const std::vector<OutlineItem>& items) {
  for (const OutlineItem& o : items) {
    auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem();
    item->setText(0, QString::fromStdString(o.title));
    item->setData(0, kPageRole, o.page);
    if (top) top->append(item);
    addItems(item, nullptr, o.children);
  }
}

}  // namespace

OutlinePanel::OutlinePanel(QWidget* parent) : QTreeWidget(parent) {
  setObjectName(QStringLiteral("outlinePanel"));
  setHeaderHidden(true);
  setIndentation(14);
  setExpandsOnDoubleClick(false);
  // Titles are single lines: rows of one height spare measuring every row for the layout.
  setUniformRowHeights(true);
  connect(this, &QTreeWidget::itemClicked, this,
          [this](QTreeWidgetItem* item, int) { onItemClicked(item); });
}

OutlinePanel::~OutlinePanel() = default;

void OutlinePanel::setView(PdfView* v) {
  stopWaiting();
  if (view) view->outlineRun.reset();
  view = v;
  readPending = false;
  clear();
  if (!view) return;
  // A manual's tree takes longer to read than its first page to show. Behind another dock it
  // waits until it is raised; a panel of no shown window (made on its own) reads at once.
  if (!window()->isVisible() || inSight()) {
    fill();
    return;
  }
  readPending = true;
  // A dock tabbed behind another is moved out of sight, not hidden: its raise shows no widget.
  for (QWidget* w = parentWidget(); w; w = w->parentWidget()) {
    if (auto* dock = qobject_cast<QDockWidget*>(w)) {
      connect(dock, &QDockWidget::visibilityChanged, this, &OutlinePanel::onDockVisibility, Qt::UniqueConnection);
      break;
    }
  }
}

bool OutlinePanel::inSight() const { return isVisible() && !visibleRegion().isEmpty(); }

void OutlinePanel::onDockVisibility(bool visible) {
  if (visible && readPending) fillWhenPainted();
}

void OutlinePanel::showEvent(QShowEvent* e) {
  QTreeWidget::showEvent(e);
  if (readPending && inSight()) fillWhenPainted();
}

// The dock is raised as a file opens, before its page is painted: the page goes first.
void OutlinePanel::fillWhenPainted() {
  QWidget* viewport = view ? view->viewport() : nullptr;
  if (!viewport || !viewport->isVisible()) {
    fill();
    return;
  }
  if (waitingFor == viewport) return;
  stopWaiting();
  waitingFor = viewport;
  viewport->installEventFilter(this);
  // Raised long after the page was painted, nothing else would bring the paint.
  viewport->update();
}

bool OutlinePanel::eventFilter(QObject* watched, QEvent* e) {
  if (watched == waitingFor && e->type() == QEvent::Paint) {
    stopWaiting();
    // After the paint has reached the screen, not inside it.
    QTimer::singleShot(0, this, [this] {
      if (readPending) fill();
    });
  }
  return QTreeWidget::eventFilter(watched, e);
}

void OutlinePanel::stopWaiting() {
  if (waitingFor) waitingFor->removeEventFilter(this);
  waitingFor = nullptr;
}

void OutlinePanel::fill() {
  readPending = false;
  stopWaiting();
  clear();
  if (!view) return;
  if (!view->doc) {
    showTree({});
    return;
  }
  // A panel of no shown window reads at once; in a window, a manual's tree would freeze it.
  if (!window()->isVisible()) {
    showTree(view->doc->outline());
    return;
  }
  view->outlineRun = std::make_unique<OutlineRun>(*view->doc);
  connect(view->outlineRun.get(), &OutlineRun::finished, this, &OutlinePanel::showTree);
}

void OutlinePanel::showTree(const std::vector<OutlineItem>& outline) {
  clear();
  QList<QTreeWidgetItem*> top;
  addItems(nullptr, &top, outline);
  addTopLevelItems(top);
  expandAll();
  if (topLevelItemCount() == 0) {
    auto* none = new QTreeWidgetItem(this);
    none->setText(0, QStringLiteral("Нет оглавления"));
    none->setFlags(Qt::NoItemFlags);
  }
}

void OutlinePanel::onItemClicked(QTreeWidgetItem* item) {
  if (!view || !item) return;
  // The placeholder stores no page at all; read as 0 it would turn the viewer to page 1.
  const QVariant stored = item->data(0, kPageRole);
  bool ok = false;
  const int page = stored.toInt(&ok);
  if (!stored.isValid() || !ok || page < 0) return;
  view->goToPage(page + 1);
}

}  // namespace quorvel::desktop
