// Requisites and contacts found by pattern in the document's text: a table in the AI dock or a
// CSV file.
#include <QDockWidget>
#include <QStatusBar>

#include <utility>
#include <vector>

#include "core/extract.h"
#include "desktop/ai/AiPanel.h"
#include "desktop/tools/BackendTools.h"
#include "desktop/tools/EntityCsv.h"
#include "desktop/viewer/PdfView.h"
#include "desktop/window/MainWindow.h"
#include "desktop/window/lang.h"

namespace quorvel::desktop {

namespace {

// Both commands look at the same head of the text, so the dock and the file agree.
constexpr int kExtractChars = 20000;

std::vector<extract::Entity> entitiesOf(const PdfView& view) {
  return extract::extract_entities(view.documentText(kExtractChars).toStdString());
}

}  // namespace

QByteArray entityCsv(const std::vector<extract::Entity>& entities) {
  QByteArray csv = "kind,value\n";
  for (const extract::Entity& e : entities) {
    std::string value = e.value;
    for (size_t at = value.find('"'); at != std::string::npos; at = value.find('"', at + 2)) value.insert(at, 1, '"');
    csv += QByteArray::fromStdString(e.label + ",\"" + value + "\"\n");
  }
  return csv;
}

void MainWindow::extractData() {
  PdfView* view = currentView();
  if (!view || !aiPanel) return;
  QList<std::pair<QString, QString>> items;
  for (const extract::Entity& e : entitiesOf(*view))
    items.append({QString::fromStdString(e.label), QString::fromStdString(e.value)});
  if (aiDock) aiDock->raise();
  aiPanel->showExtracted(items);
  statusBar()->showMessage(L("Извлечено сущностей: %1", "Entities extracted: %1").arg(items.size()), 0);
}

void MainWindow::extractToCsv(const QString& csvPath) {
  PdfView* view = currentView();
  if (!view || csvPath.isEmpty()) return;
  const std::vector<extract::Entity> entities = entitiesOf(*view);
  if (!writeOutputFile(csvPath, entityCsv(entities))) {
    statusBar()->showMessage(L("Не удалось записать: %1", "Could not write: %1").arg(csvPath), 0);
    return;
  }
  statusBar()->showMessage(
      L("Данные сохранены в CSV: %1 (%2)", "Data saved to CSV: %1 (%2)").arg(csvPath).arg(entities.size()), 0);
}

}  // namespace quorvel::desktop
