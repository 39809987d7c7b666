// Blacking out personal data found by pattern, page by page, into a saved and opened copy.
#include <QFileDialog>
#include <QStatusBar>

#include <set>
#include <string>
#include <vector>

#include "core/extract.h"
#include "desktop/window/MainWindow.h"
#include "desktop/viewer/PdfView.h"
#include "desktop/window/lang.h"

namespace quorvel::desktop {

namespace {

// Whether any of the values can still be read on the page: found again by the finder (which
// trims what it matches, so a value may be found in a slightly different text), or standing
// as a token of its own where the boxes are looked for.
bool stillReadable(const TextPage& page, const std::vector<std::string>& values) {
  std::set<std::string> again;
  for (const extract::Entity& e : extract::extract_entities(page_text(page))) again.insert(e.value);
  for (const std::string& v : values)
    if (again.count(v) || !extract::pii_rects(page, {v}).empty()) return true;
  return false;
}

}  // namespace

void MainWindow::redactPii() {
  PdfView* view = currentView();
  if (!view || !view->doc) return;
  const QString path = QFileDialog::getSaveFileName(this, L("Сохранить вычеркнутый PDF", "Save redacted PDF"),
                                                    QStringLiteral("redacted.pdf"), QStringLiteral("PDF (*.pdf)"));
  if (path.isEmpty()) return;
  redactPiiTo(path);
}

void MainWindow::redactPiiTo(const QString& outPath) {
  PdfView* view = currentView();
  if (!view || !view->doc || outPath.isEmpty()) return;
  IDocument& doc = *view->doc;
  const int n = doc.page_count();
  int count = 0;
  std::set<std::string> found;
  // Every page's boxes first, then one redaction of them all: the document is rewritten once.
  std::vector<std::pair<int, std::vector<annot::Rect>>> work;
  std::vector<std::vector<std::string>> needlesOf;
  auto failed = [this](int page) {
    statusBar()->showMessage(
        L("Не удалось полностью вычеркнуть данные (стр. %1)", "Could not fully redact (page %1)").arg(page + 1), 0);
  };
  for (int i = 0; i < n; ++i) {
    const TextPage page = doc.extract_text(i);
    const std::vector<extract::Entity> entities = extract::extract_entities(page_text(page));
    if (entities.empty()) continue;
    std::vector<std::string> needles;
    for (const extract::Entity& e : entities) {
      needles.push_back(e.value);
      found.insert(e.value);
    }
    std::vector<annot::Rect> rects = extract::pii_rects(page, needles);
    if (rects.empty()) {
      failed(i);
      return;
    }
    work.emplace_back(i, std::move(rects));
    needlesOf.push_back(std::move(needles));
  }
  const std::vector<int> painted = work.empty() ? std::vector<int>{} : doc.redact_pages(work);
  for (size_t k = 0; k < work.size(); ++k)
    if (k < painted.size() && painted[k] > 0) view->pageContentEdited(work[k].first);
  for (size_t k = 0; k < work.size(); ++k) {
    const int i = work[k].first;
    // A copy is only written when every value found is gone from the page's text; the engine
    // may paint over text that it could not take out.
    if (k >= painted.size() || painted[k] <= 0 || stillReadable(doc.extract_text(i), needlesOf[k])) {
      failed(i);
      return;
    }
    count += painted[k];
  }
  if (count == 0) {
    statusBar()->showMessage(L("PII не найдены — нечего вычёркивать", "No PII found — nothing to redact"), 0);
    return;
  }
  // A link elsewhere may still name a value in its target (a mailto address).
  for (int i = 0; i < n; ++i) {
    for (const Link& link : doc.links(i)) {
      for (const std::string& v : found) {
        if (link.uri.find(v) == std::string::npos) continue;
        failed(i);
        return;
      }
    }
  }
  // A note or a text box that repeats a value would carry it into the copy.
  std::vector<annot::Annotation> kept;
  for (const annot::Annotation& a : view->annotations) {
    bool holds = false;
    for (const std::string& v : found) holds = holds || a.text.find(v) != std::string::npos;
    if (!holds) kept.push_back(a);
  }
  if (!doc.save_as(outPath.toStdString(), kept)) {
    statusBar()->showMessage(L("Не удалось сохранить вычеркнутый PDF", "Could not save the redacted PDF"), 0);
    return;
  }
  statusBar()->showMessage(L("Вычеркнуто фрагментов: %1 → %2", "Redacted fragments: %1 → %2").arg(count).arg(outPath),
                           0);
  openFile(outPath);
}

}  // namespace quorvel::desktop
