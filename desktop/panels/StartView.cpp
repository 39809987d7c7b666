#include "desktop/panels/StartView.h"

#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace quorvel::desktop {

namespace {

QLabel* label(const QString& text, const char* objectName, QWidget* parent) {
  auto* l = new QLabel(text, parent);
  l->setObjectName(QLatin1String(objectName));
  return l;
}

}  // namespace

StartView::StartView(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("startView"));
  // A QWidget subclass paints no style-sheet background of its own unless asked to; without
  // this the dark theme's page colour would not show once the page sits inside the window.
  setAttribute(Qt::WA_StyledBackground, true);
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);

  auto* card = new QWidget(this);
  card->setObjectName(QStringLiteral("startCard"));
  card->setMaximumWidth(560);
  auto* box = new QVBoxLayout(card);
  box->setContentsMargins(36, 36, 36, 36);
  box->setSpacing(14);

  box->addWidget(label(QStringLiteral("PDF Dodiru Quorvel"), "startTitle", card));
  box->addWidget(label(QStringLiteral("Просмотр, поиск, аннотации, формы и безопасность."),
                       "startSubtitle", card));
  auto* open = new QPushButton(QStringLiteral("Открыть документ"), card);
  open->setObjectName(QStringLiteral("startOpen"));
  open->setCursor(Qt::PointingHandCursor);
  open->setDefault(true);
  connect(open, &QPushButton::clicked, this, &StartView::openRequested);
  box->addWidget(open);
  box->addWidget(label(QStringLiteral("\u2026или перетащите PDF в окно"), "startSubtitle", card));
  box->addWidget(label(QStringLiteral("Недавние"), "startSection", card));

  recents = new QListWidget(card);
  recents->setObjectName(QStringLiteral("startRecents"));
  recents->setCursor(Qt::PointingHandCursor);
  connect(recents, &QListWidget::itemClicked, this, &StartView::onItemClicked);
  box->addWidget(recents, 1);

  outer->addStretch(1);
  outer->addWidget(card, 0, Qt::AlignHCenter);
  outer->addStretch(2);
}

void StartView::setRecents(const std::vector<RecentEntry>& entries) {
  recents->clear();
  for (const RecentEntry& e : entries) {
    const QString name = e.title.isEmpty() ? QFileInfo(e.path).fileName() : e.title;
    // One multi-argument step: a '%' inside the name is not taken for a placeholder.
    auto* item = new QListWidgetItem(QStringLiteral("%1\n%2").arg(name, e.path), recents);
    item->setData(Qt::UserRole, e.path);
  }
  if (recents->count() == 0) {
    auto* empty = new QListWidgetItem(QStringLiteral("Пока пусто"), recents);
    empty->setFlags(Qt::NoItemFlags);
  }
}

void StartView::onItemClicked(QListWidgetItem* item) {
  // Qt reports clicks on disabled rows too; the placeholder row carries no path.
  const QVariant path = item ? item->data(Qt::UserRole) : QVariant();
  if (!path.isValid()) return;
  emit openPath(path.toString());
}

}  // namespace quorvel::desktop
