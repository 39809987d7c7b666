// The page list beside the viewer: one small image per page with its number. Clicking turns
// the viewer to that page; the context menu offers rotate, move and delete. Only the rows in
// sight and a few dozen around them hold images, so a long document costs no more memory than
// a short one; rows scrolling back are rendered again.
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
  // Whether images near sight are still to be rendered.
  bool rendering() const { return renderTimer.isActive(); }

  // Rows kept with their images above the first and below the last row in sight.
  static constexpr int keptRows = 20;

  // The window's reduced edition switches the page menu off.
  bool pageMenuEnabled = true;

 public slots:
  void highlightPage(int oneBased);
  void showContextMenu(const QPoint& pos);

 private:
  void fill();
  void renderSome();
  bool renderRow(int row);
  void dropRow(int row);
  void resizeEvent(QResizeEvent* e) override;
  void showEvent(QShowEvent* e) override;
  void onCurrentRowChanged(int row);

  QPointer<PdfView> view;
  QPointer<ThumbnailCache> cache;
  QTimer renderTimer;
  bool filling = false;
};

}  // namespace quorvel::desktop
