#include "desktop/panels/CommentsPanel.h"

#include <QHash>
#include <QListWidget>
#include <QPainter>
#include <QPixmap>
#include <QVBoxLayout>

#include "desktop/viewer/PdfView.h"
#include "desktop/window/lang.h"

namespace quorvel::desktop {

namespace {

QString kindWord(annot::AnnotType type) {
  switch (type) {
    case annot::AnnotType::Highlight: return QStringLiteral("Выделение");
    case annot::AnnotType::Ink: return QStringLiteral("Рисунок");
    case annot::AnnotType::Note: return QStringLiteral("Заметка");
    default: return QString();
  }
}

// The annotation's own colour, fully opaque: a faint highlight would vanish at this size.
QIcon swatch(uint32_t rgb) {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF));
  p.drawRoundedRect(QRectF(1, 1, 14, 14), 4, 4, Qt::AbsoluteSize);
  p.end();
  return QIcon(pixmap);
}

}  // namespace

CommentsPanel::CommentsPanel(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("commentsPanel"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  list = new QListWidget(this);
  list->setObjectName(QStringLiteral("commentsList"));
  list->setIconSize(QSize(16, 16));
  list->setWordWrap(true);
  layout->addWidget(list, 0);
  connect(list, &QListWidget::itemClicked, this, &CommentsPanel::onItemClicked);
}

CommentsPanel::~CommentsPanel() = default;

void CommentsPanel::setView(PdfView* v) {
  if (view) disconnect(view, nullptr, this, nullptr);
  view = v;
  if (view) connect(view, &PdfView::annotationsChanged, this, &CommentsPanel::rebuild);
  rebuild();
}

void CommentsPanel::rebuild() {
  list->clear();
  if (!view) return;
  int n = 0;
  // One swatch per colour, and items made whole before they join the list.
  QHash<uint32_t, QIcon> swatches;
  for (const annot::Annotation& a : view->annotations) {
    ++n;
    const QString kind = kindWord(a.type);
    QString label = QString::fromStdString(a.text);
    if (label.isEmpty()) label = QStringLiteral("%1 %2").arg(kind, QString::number(n));
    auto found = swatches.constFind(a.color);
    if (found == swatches.constEnd()) found = swatches.insert(a.color, swatch(a.color));
    auto* item = new QListWidgetItem(*found, QStringLiteral("%1   ·   стр. %2").arg(label, QString::number(a.page + 1)));
    item->setData(Qt::UserRole, QString::fromStdString(a.id));
    item->setToolTip(kind);
    list->addItem(item);
  }
  if (list->count() == 0) {
    auto* none = new QListWidgetItem(L("Пока нет комментариев", "No comments yet"), list);
    none->setFlags(Qt::NoItemFlags);
  }
}

void CommentsPanel::onItemClicked(QListWidgetItem* item) {
  if (!view || !item) return;
  const QVariant id = item->data(Qt::UserRole);
  if (!id.isValid()) return;
  view->focusAnnotation(id.toString().toStdString());
}

}  // namespace quorvel::desktop
