// The annotations of the bound viewer, one line each with a colour swatch, text or kind and
// page; clicking a line selects the annotation in the viewer and scrolls to it.
#pragma once

#include <QPointer>
#include <QWidget>

class QListWidget;
class QListWidgetItem;

namespace quorvel::desktop {

class PdfView;

class CommentsPanel : public QWidget {
  Q_OBJECT

 public:
  explicit CommentsPanel(QWidget* parent = nullptr);
  ~CommentsPanel() override;

  void setView(PdfView* view);
  void rebuild();

 private:
  void onItemClicked(QListWidgetItem* item);

  QPointer<PdfView> view;
  QListWidget* list = nullptr;
};

}  // namespace quorvel::desktop
