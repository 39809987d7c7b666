// Comparing the open document with another version: a report in the AI dock, the side-by-side
// dialog and a stand-alone HTML file.
#include <QDockWidget>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QStatusBar>

#include <cstddef>
#include <span>

#include "core/diff.h"
#include "desktop/ai/AiPanel.h"
#include "desktop/panels/DiffViewDialog.h"
#include "desktop/tools/BackendTools.h"
#include "desktop/tools/CompareHtml.h"
#include "desktop/viewer/PdfView.h"
#include "desktop/window/MainWindow.h"
#include "desktop/window/lang.h"

namespace quorvel::desktop {

std::unique_ptr<IDocument> MainWindow::openOtherVersion(const QString& path, const QString& parseFailure) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) {
    statusBar()->showMessage(L("Не удалось открыть: %1", "Could not open: %1").arg(path), 0);
    return nullptr;
  }
  const QByteArray bytes = f.readAll();
  std::unique_ptr<IDocument> other = engine->open(
      std::span<const std::byte>(reinterpret_cast<const std::byte*>(bytes.constData()), static_cast<size_t>(bytes.size())),
      "");
  if (!other) statusBar()->showMessage(parseFailure, 0);
  return other;
}

bool MainWindow::compareWith(const QString& otherPath) {
  PdfView* view = currentView();
  if (!view || !view->doc || otherPath.isEmpty() || !engine || !aiPanel) return false;
  const std::unique_ptr<IDocument> other =
      openOtherVersion(otherPath, L("Не удалось разобрать PDF для сравнения (защищён?)",
                                    "Could not parse PDF for comparison (protected?)"));
  if (!other) return false;
  const CompareReport report = compareReport(diff::compare_documents(*view->doc, *other));
  lastDiffText = report.diffText;
  const QString summary = QStringLiteral("%1 изм. стр., +%2 / −%3 строк (%4)")
                              .arg(report.changedPages)
                              .arg(report.added)
                              .arg(report.removed)
                              .arg(QFileInfo(otherPath).fileName());
  if (aiDock) aiDock->raise();
  aiPanel->showDiff(summary, report.html);
  statusBar()->showMessage(L("Сравнение: %1", "Comparison: %1").arg(summary), 0);
  return true;
}

void MainWindow::compareWithDialog() {
  if (!currentView()) return;
  const QString path = QFileDialog::getOpenFileName(this, L("Сравнить с версией (PDF)", "Compare with version (PDF)"),
                                                    QString(), QStringLiteral("PDF (*.pdf)"));
  if (path.isEmpty()) return;
  // A failed compare leaves the previous diff in place; summing that up would describe
  // documents the user did not just compare.
  if (compareWith(path)) summarizeLastDiff();
}

void MainWindow::showVisualDiff(const QString& otherPath) {
  PdfView* view = currentView();
  if (!view || !view->doc || otherPath.isEmpty() || !engine) return;
  const std::unique_ptr<IDocument> other =
      openOtherVersion(otherPath, L("Не удалось разобрать PDF для сравнения (защищён?)",
                                    "Could not parse PDF for comparison (protected?)"));
  if (!other) return;
  const SideBySide s = sideBySide(diff::compare_documents(*view->doc, *other));
  DiffViewDialog dialog(L("Текущий документ", "Current document"), QFileInfo(otherPath).fileName(), s.left, s.right,
                        s.changedPages, this);
  dialog.exec();
}

void MainWindow::compareVisualDialog() {
  if (!currentView()) return;
  const QString path =
      QFileDialog::getOpenFileName(this, L("Сравнить визуально с версией (PDF)", "Compare visually with version (PDF)"),
                                   QString(), QStringLiteral("PDF (*.pdf)"));
  if (path.isEmpty()) return;
  showVisualDiff(path);
}

bool MainWindow::compareToHtml(const QString& otherPath, const QString& htmlOut) {
  PdfView* view = currentView();
  if (!view || !view->doc || otherPath.isEmpty() || !engine || htmlOut.isEmpty()) return false;
  const std::unique_ptr<IDocument> other =
      openOtherVersion(otherPath, L("Не удалось разобрать PDF для сравнения", "Could not parse PDF for comparison"));
  if (!other) return false;
  const std::string html = diff::to_html(diff::compare_documents(*view->doc, *other), "текущий",
                                         QFileInfo(otherPath).fileName().toStdString());
  if (!writeOutputFile(htmlOut, QByteArray::fromStdString(html)))
    statusBar()->showMessage(L("Не удалось записать: %1", "Could not write: %1").arg(htmlOut), 0);
  else
    statusBar()->showMessage(L("Отчёт сравнения сохранён: %1", "Comparison report saved: %1").arg(htmlOut), 0);
  return true;
}

}  // namespace quorvel::desktop
