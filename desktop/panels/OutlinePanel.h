// The bookmark tree of the bound viewer's document; clicking a bookmark turns the viewer to
// its page. The tree is read once per setView.
#pragma once

#include <QPointer>
#include <QTreeWidget>

namespace quorvel::desktop {

class PdfView;

class OutlinePanel : public QTreeWidget {
  Q_OBJECT

 public:
  explicit OutlinePanel(QWidget* parent = nullptr);
  ~OutlinePanel() override;

  // Shows the outline of the view's document; null empties the panel.
  void setView(PdfView* view);
  // Whether the panel shows bookmarks of `view`'s document, read when it was bound.
  bool showsOutlineOf(const PdfView* view) const;

 private:
  void onItemClicked(QTreeWidgetItem* item);

  QPointer<PdfView> view;
  bool hasBookmarks = false;
};

}  // namespace quorvel::desktop
