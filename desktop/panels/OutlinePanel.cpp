#include "desktop/panels/OutlinePanel.h"

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
  view = v;
  hasBookmarks = false;
  clear();
  if (!view) return;
  const std::vector<OutlineItem> outline =
      view->doc ? view->doc->outline() : std::vector<OutlineItem>{};
  QList<QTreeWidgetItem*> top;
  addItems(nullptr, &top, outline);
  addTopLevelItems(top);
  expandAll();
  hasBookmarks = topLevelItemCount() > 0;
  if (!hasBookmarks) {
    auto* none = new QTreeWidgetItem(this);
    none->setText(0, QStringLiteral("Нет оглавления"));
    none->setFlags(Qt::NoItemFlags);
  }
}

bool OutlinePanel::showsOutlineOf(const PdfView* v) const { return v && v == view && hasBookmarks; }

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
