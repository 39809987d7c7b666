// Requisites and contacts found by pattern in the document's text, read as a job of the window:
// a table in the AI dock or a CSV file.
#include <QDockWidget>
#include <QStatusBar>

#include <optional>
#include <utility>
#include <vector>

#include "core/extract.h"
#include "desktop/ai/AiPanel.h"
#include "desktop/tools/BackendTools.h"
#include "desktop/tools/DocumentReading.h"
#include "desktop/tools/EntityCsv.h"
#include "desktop/tools/LocalTools.h"
#include "desktop/viewer/PdfView.h"
#include "desktop/window/MainWindow.h"
#include "desktop/window/lang.h"

namespace quorvel::desktop {

namespace {

// Both commands look at the same head of the text, so the dock and the file agree.
constexpr int kExtractChars = 20000;

// The entities of the head of the text, read as a job of the window; nothing when the user
// cancelled, and none without a document.
std::optional<std::vector<extract::Entity>> entitiesOf(MainWindow& window, PdfView& view) {
  std::vector<extract::Entity> found;
  if (!view.doc) return found;
  if (!readDocument(&window, view, L("Извлечение данных…", "Extracting data…"), [&found](const IDocument& doc) {
        found = extract::extract_entities(documentText(doc, kExtractChars).toStdString());
      })) {
    window.statusBar()->showMessage(cancelledText(0), 0);
    return std::nullopt;
  }
  return found;
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
  const std::optional<std::vector<extract::Entity>> entities = entitiesOf(*this, *view);
  if (!entities) return;
  QList<std::pair<QString, QString>> items;
  for (const extract::Entity& e : *entities)
    items.append({QString::fromStdString(e.label), QString::fromStdString(e.value)});
  if (aiDock) aiDock->raise();
  aiPanel->showExtracted(items);
  statusBar()->showMessage(L("Извлечено сущностей: %1", "Entities extracted: %1").arg(items.size()), 0);
}

void MainWindow::extractToCsv(const QString& csvPath) {
  PdfView* view = currentView();
  if (!view || csvPath.isEmpty()) return;
  const std::optional<std::vector<extract::Entity>> entities = entitiesOf(*this, *view);
  if (!entities) return;
  if (!writeOutputFile(csvPath, entityCsv(*entities))) {
    statusBar()->showMessage(L("Не удалось записать: %1", "Could not write: %1").arg(csvPath), 0);
    return;
  }
  statusBar()->showMessage(
      L("Данные сохранены в CSV: %1 (%2)", "Data saved to CSV: %1 (%2)").arg(csvPath).arg(entities->size()), 0);
}

}  // namespace quorvel::desktop
