// Blacking out personal data found by pattern, page by page, into a saved and opened copy, as a
// job of the window.
#include <QFileDialog>
#include <QPointer>
#include <QStatusBar>

#include <memory>
#include <string>
#include <vector>

#include "core/extract.h"
#include "core/pii_redaction.h"
#include "desktop/tools/LocalTools.h"
#include "desktop/window/MainWindow.h"
#include "desktop/viewer/PdfView.h"
#include "desktop/window/JobRunner.h"
#include "desktop/window/lang.h"

namespace quorvel::desktop {

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
    extract::RedactionOutcome redaction;
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
  // once begun, are finished.
  job.work = [doc, outcome, path = outPath.toStdString(), annotations = std::move(annotations)](JobControl& c) {
    extract::RedactionHooks hooks;
    hooks.progress = [&c](int64_t done, int64_t total) { c.progress(done, total); };
    hooks.cancelled = [&c] { return c.cancelled(); };
    hooks.commit = [&c] { return c.commit(); };
    hooks.edited = [&c](int page) { c.pageEdited(page); };
    Outcome& o = *outcome;
    o.redaction = extract::redact_personal_data(*doc, hooks);
    if (!o.redaction.done()) return;
    // A note or a text box that repeats a value would carry it into the copy.
    std::vector<annot::Annotation> kept;
    for (const annot::Annotation& a : annotations) {
      bool holds = false;
      for (const std::string& v : o.redaction.found) holds = holds || extract::holds_token(a.text, v);
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
    const extract::RedactionOutcome& r = o.redaction;
    const bool redacted = r.done();
    reportLocalTool(
        *guard, redacted, o.saved, outPath,
        {r.unredacted >= 0 ? L("Не удалось полностью вычеркнуть данные (стр. %1)", "Could not fully redact (page %1)")
                                 .arg(r.unredacted + 1)
                           : L("PII не найдены — нечего вычёркивать", "No PII found — nothing to redact"),
         L("Не удалось сохранить вычеркнутый PDF", "Could not save the redacted PDF"),
         L("Вычеркнуто фрагментов: %1 → %2", "Redacted fragments: %1 → %2").arg(r.count).arg(outPath)});
  };
  jobs().run(std::move(job));
}

}  // namespace quorvel::desktop
