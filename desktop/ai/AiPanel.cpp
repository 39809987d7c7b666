#include "desktop/ai/AiPanel.h"

namespace quorvel::desktop {

AiPanel::AiPanel(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("aiPanel"));
  // The dark theme colours the panel by its object name.
  setAttribute(Qt::WA_StyledBackground, true);
}

AiPanel::~AiPanel() = default;

void AiPanel::setView(PdfView* v) { view = v; }

}  // namespace quorvel::desktop
