// The page shown while no document is open: title, an open button, the drop hint and the
// recently opened files. It does no file or database work itself.
#pragma once

#include <QWidget>
#include <vector>

#include "desktop/stores/RecentsStore.h"

class QListWidget;
class QListWidgetItem;

namespace quorvel::desktop {

class StartView : public QWidget {
  Q_OBJECT

 public:
  explicit StartView(QWidget* parent = nullptr);

  // Replaces the list, keeping the given order (newest first as the store gives it).
  void setRecents(const std::vector<RecentEntry>& entries);

 signals:
  void openRequested();
  void openPath(const QString& path);

 private:
  void onItemClicked(QListWidgetItem* item);

  QListWidget* recents = nullptr;
};

}  // namespace quorvel::desktop
