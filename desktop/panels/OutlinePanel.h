// The bookmark tree of the bound viewer's document; clicking a bookmark turns the viewer to
// its page. The tree is read once per setView; in a shown window whose outline dock sits behind
// another, only when the panel comes into sight, after the viewer's page is on the screen. In
// a shown window it is read off the window's thread, the panel empty until it arrives.
#pragma once

#include <QPointer>
#include <QTreeWidget>

#include <vector>

#include "core/engine.h"

namespace quorvel::desktop {

class PdfView;

class OutlinePanel : public QTreeWidget {
  Q_OBJECT

 public:
  explicit OutlinePanel(QWidget* parent = nullptr);
  ~OutlinePanel() override;

  // Shows the outline of the view's document; null empties the panel.
  void setView(PdfView* view);

 protected:
  void showEvent(QShowEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  bool inSight() const;
  void onDockVisibility(bool visible);
  void fill();
  void showTree(const std::vector<OutlineItem>& outline);
  void fillWhenPainted();
  void stopWaiting();
  void onItemClicked(QTreeWidgetItem* item);

  QPointer<PdfView> view;
  QPointer<QObject> waitingFor;  // the viewport whose paint the reading waits for
  bool readPending = false;
};

}  // namespace quorvel::desktop
