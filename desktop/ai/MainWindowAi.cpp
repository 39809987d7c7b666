// The window's commands that route into the AI dock.
#include <QDockWidget>
#include <QInputDialog>
#include <QLineEdit>

#include "desktop/ai/AiPanel.h"
#include "desktop/viewer/PdfView.h"
#include "desktop/window/MainWindow.h"
#include "desktop/window/lang.h"

namespace quorvel::desktop {

void MainWindow::askAi(const QString& question) {
  if (!aiPanel || !aiDock) return;
  // A dock the user has closed stays closed; raising only brings it to the front of its tabs.
  aiDock->raise();
  aiPanel->ask(question);
}

void MainWindow::agentReportTo(const QString& outPath) {
  if (!aiPanel || !aiDock) return;
  aiDock->raise();
  aiPanel->generateReport(outPath);
}

void MainWindow::translateDocument(const QString& lang, const QString& savePath) {
  if (!aiPanel || !aiDock || lang.isEmpty()) return;
  aiDock->raise();
  aiPanel->translateDocument(lang, savePath);
}

void MainWindow::translateDialog() {
  PdfView* view = currentView();
  if (!view || !view->doc) return;
  bool ok = false;
  const QString lang = QInputDialog::getText(
      this, L("Перевод документа", "Document translation"),
      L("Язык перевода (напр. английский, немецкий, китайский):", "Target language (e.g. English, German, Chinese):"),
      QLineEdit::Normal, QStringLiteral("английский"), &ok);
  if (!ok || lang.isEmpty()) return;
  translateDocument(lang, QString());
}

void MainWindow::summarizeLastDiff() {
  if (!aiPanel || !aiDock) return;
  aiDock->raise();
  aiPanel->summarizeDiff(lastDiffText);
}

}  // namespace quorvel::desktop
