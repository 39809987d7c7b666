// The page list beside the viewer: one small image per page with its number. Clicking turns
// the viewer to that page; the context menu offers rotate, move and delete.
#pragma once

#include <QListWidget>
#include <QPointer>
#include <QTimer>

namespace quorvel::desktop {

class PdfView;
class ThumbnailCache;

class ThumbnailPanel : public QListWidget {
  Q_OBJECT

 public:
  explicit ThumbnailPanel(QWidget* parent = nullptr);
  ~ThumbnailPanel() override;

  // Binds the panel to a view (or to none); images the view already has are reused.
  void setView(PdfView* view);
  // Lists the bound view's pages again and renders every image afresh.
  void rebuild();

  // The window's reduced edition switches the page menu off.
  bool pageMenuEnabled = true;

 public slots:
  void highlightPage(int oneBased);
  void showContextMenu(const QPoint& pos);

 private:
  void fill();
  void renderSome();
  bool renderRow(int row);
  void onCurrentRowChanged(int row);

  QPointer<PdfView> view;
  QPointer<ThumbnailCache> cache;
  QTimer renderTimer;
  int nextRow = 0;
  bool filling = false;
};

}  // namespace quorvel::desktop
