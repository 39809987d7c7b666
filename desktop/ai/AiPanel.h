// The AI assistant's panel in the window's right-hand dock. It follows the current tab's
// viewer; the conversation itself is not built yet.
#pragma once

#include <QWidget>

namespace quorvel::desktop {

class PdfView;

class AiPanel : public QWidget {
  Q_OBJECT

 public:
  explicit AiPanel(QWidget* parent = nullptr);
  ~AiPanel() override;

  // The viewer of the current tab, or null when none is current; not owned.
  void setView(PdfView* view);
  PdfView* currentView() const { return view; }

 private:
  PdfView* view = nullptr;
};

}  // namespace quorvel::desktop
