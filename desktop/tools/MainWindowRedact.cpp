// Blacking out personal data found by pattern, page by page, into a saved and opened copy, as a
// job of the window.
#include <QFileDialog>
#include <QPointer>
#include <QStatusBar>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/extract.h"
#include "desktop/tools/LocalTools.h"
#include "desktop/window/MainWindow.h"
#include "desktop/viewer/PdfView.h"
#include "desktop/window/JobRunner.h"
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
  struct Outcome {
    int count = 0;
    int unredacted = -1;  // a page whose values could not all be taken out
    bool saved = false;
  };
  auto outcome = std::make_shared<Outcome>();
  IDocument* doc = view->doc.get();
  // The progress dialog is modal: neither the list nor the document changes until the end.
  std::vector<annot::Annotation> annotations = view->annotations;
  QPointer<MainWindow> guard(this);
  JobRunner::Job job;
  job.title = L("Вычёркивание персональных данных…", "Redacting personal data…");
  job.views = {view};
  // Reading every page and finding its values can be cancelled; the redaction and the copy,
  // once begun, are finished. The work ends at the first page whose values would stay readable.
  job.work = [doc, outcome, path = outPath.toStdString(), annotations = std::move(annotations)](JobControl& c) {
    Outcome& o = *outcome;
    const int n = doc->page_count();
    std::set<std::string> found;
    // Every page's boxes first, then one redaction of them all: the document is rewritten once.
    std::vector<std::pair<int, std::vector<annot::Rect>>> work;
    std::vector<std::vector<std::string>> needlesOf;
    for (int i = 0; i < n && !c.cancelled(); ++i) {
      c.progress(i, 2LL * n);
      const TextPage page = doc->extract_text(i);
      const std::vector<extract::Entity> entities = extract::extract_entities(page_text(page));
      if (entities.empty()) continue;
      std::vector<std::string> needles;
      for (const extract::Entity& e : entities) {
        needles.push_back(e.value);
        found.insert(e.value);
      }
      std::vector<annot::Rect> rects = extract::pii_rects(page, needles);
      if (rects.empty()) {
        o.unredacted = i;
        return;
      }
      work.emplace_back(i, std::move(rects));
      needlesOf.push_back(std::move(needles));
    }
    if (!c.commit()) return;
    const std::vector<int> painted = work.empty() ? std::vector<int>{} : doc->redact_pages(work);
    for (size_t k = 0; k < work.size(); ++k)
      if (k < painted.size() && painted[k] > 0) c.pageEdited(work[k].first);
    for (size_t k = 0; k < work.size(); ++k) {
      const int i = work[k].first;
      // A copy is only written when every value found is gone from the page's text; the engine
      // may paint over text that it could not take out.
      if (k >= painted.size() || painted[k] <= 0 || stillReadable(doc->extract_text(i), needlesOf[k])) {
        o.unredacted = i;
        return;
      }
      o.count += painted[k];
    }
    if (o.count == 0) return;
    // A link elsewhere may still name a value in its target (a mailto address).
    for (int i = 0; i < n; ++i) {
      c.progress(n + i, 2LL * n);
      for (const Link& link : doc->links(i)) {
        for (const std::string& v : found) {
          if (link.uri.find(v) == std::string::npos) continue;
          o.unredacted = i;
          return;
        }
      }
    }
    // A note or a text box that repeats a value would carry it into the copy.
    std::vector<annot::Annotation> kept;
    for (const annot::Annotation& a : annotations) {
      bool holds = false;
      for (const std::string& v : found) holds = holds || a.text.find(v) != std::string::npos;
      if (!holds) kept.push_back(a);
    }
    o.saved = doc->save_as(path, kept);
  };
  job.done = [guard, outcome, outPath](bool finished) {
    if (!guard) return;
    if (!finished) {
      guard->statusBar()->showMessage(cancelledText(0), 0);
      return;
    }
    const Outcome& o = *outcome;
    const bool redacted = o.unredacted < 0 && o.count > 0;
    reportLocalTool(
        *guard, redacted, o.saved, outPath,
        {o.unredacted >= 0 ? L("Не удалось полностью вычеркнуть данные (стр. %1)", "Could not fully redact (page %1)")
                                 .arg(o.unredacted + 1)
                           : L("PII не найдены — нечего вычёркивать", "No PII found — nothing to redact"),
         L("Не удалось сохранить вычеркнутый PDF", "Could not save the redacted PDF"),
         L("Вычеркнуто фрагментов: %1 → %2", "Redacted fragments: %1 → %2").arg(o.count).arg(outPath)});
  };
  jobs().run(std::move(job));
}

}  // namespace quorvel::desktop
