// The window's commands that route into the AI dock.
#include <QDockWidget>

#include "desktop/ai/AiPanel.h"
#include "desktop/window/MainWindow.h"

namespace quorvel::desktop {

void MainWindow::askAi(const QString& question) {
  if (!aiPanel || !aiDock) return;
  // A dock the user has closed stays closed; raising only brings it to the front of its tabs.
  aiDock->raise();
  aiPanel->ask(question);
}

void MainWindow::summarizeLastDiff() {
  if (!aiPanel || !aiDock) return;
  aiDock->raise();
  aiPanel->summarizeDiff(lastDiffText);
}

}  // namespace quorvel::desktop
