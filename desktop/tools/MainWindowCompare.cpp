// Comparing the open document with another version: a report in the AI dock, the side-by-side
// dialog and a stand-alone HTML file. The other version is read and both are diffed as a job of
// the window, off its thread; every compare keeps the change text of the diff it made, and one
// that made none leaves nothing to sum up.
#include <QDockWidget>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QStatusBar>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <span>

#include "core/diff.h"
#include "desktop/ai/AiPanel.h"
#include "desktop/panels/DiffViewDialog.h"
#include "desktop/tools/BackendTools.h"
#include "desktop/tools/CompareHtml.h"
#include "desktop/tools/LocalTools.h"
#include "desktop/viewer/PdfView.h"
#include "desktop/window/JobRunner.h"
#include "desktop/window/MainWindow.h"
#include "desktop/window/lang.h"

namespace quorvel::desktop {

namespace {

struct Compared {
  enum Stage { Unreadable, Unparsable, Diffed } stage = Unreadable;
  std::vector<diff::PageDiff> diffs;
  QString changes;  // what lastDiffText keeps
};

QString longParseFailure() {
  return L("Не удалось разобрать PDF для сравнения (защищён?)", "Could not parse PDF for comparison (protected?)");
}

// Reads the other version and diffs the view's document against it as a job; `more` then runs
// off the window's thread too, on the diff made. Null after the status bar said why there is no
// diff: the file could not be read or parsed, or the user cancelled.
std::shared_ptr<Compared> compareAsJob(MainWindow& window, PdfView& view, const QString& otherPath,
                                       const QString& parseFailure,
                                       std::function<void(Compared&, JobControl&)> more = {}) {
  auto out = std::make_shared<Compared>();
  const IDocument* current = view.doc.get();
  JobRunner::Job job;
  job.title = L("Сравнение версий…", "Comparing versions…");
  job.views = {&view};
  job.work = [out, current, otherPath, more = std::move(more)](JobControl& c) {
    QFile f(otherPath);
    if (!f.open(QIODevice::ReadOnly)) return;
    const QByteArray bytes = f.readAll();
    // An engine of the job's own: the window's may be opening a file meanwhile.
    const std::unique_ptr<IDocument> other = make_engine(EngineKind::Pdfium)->open(
        std::span<const std::byte>(reinterpret_cast<const std::byte*>(bytes.constData()), static_cast<size_t>(bytes.size())),
        "");
    out->stage = Compared::Unparsable;
    if (!other) return;
    std::atomic<long long> read{0};
    const long long reads = 2LL * std::max(current->page_count(), other->page_count());
    const JobReading a(*current, c, reads, read), b(*other, c, reads, read);
    out->diffs = diff::compare_documents(a, b);
    if (c.cancelled()) return;
    out->stage = Compared::Diffed;
    out->changes = changeText(out->diffs);
    if (more) more(*out, c);
  };
  if (!window.jobs().run(std::move(job))) {
    window.statusBar()->showMessage(cancelledText(0), 0);
    return nullptr;
  }
  if (out->stage == Compared::Unreadable)
    window.statusBar()->showMessage(L("Не удалось открыть: %1", "Could not open: %1").arg(otherPath), 0);
  else if (out->stage == Compared::Unparsable)
    window.statusBar()->showMessage(parseFailure, 0);
  return out->stage == Compared::Diffed ? out : nullptr;
}

}  // namespace

bool MainWindow::compareWith(const QString& otherPath) {
  PdfView* view = currentView();
  if (!view || !view->doc || otherPath.isEmpty() || !engine || !aiPanel) return false;
  auto report = std::make_shared<CompareReport>();
  const auto compared = compareAsJob(*this, *view, otherPath, longParseFailure(),
                                     [report](Compared& c, JobControl&) { *report = compareReport(c.diffs); });
  lastDiffText = compared ? compared->changes : QString();
  if (!compared) return false;
  const QString summary = QStringLiteral("%1 изм. стр., +%2 / −%3 строк (%4)")
                              .arg(report->changedPages)
                              .arg(report->added)
                              .arg(report->removed)
                              .arg(QFileInfo(otherPath).fileName());
  if (aiDock) aiDock->raise();
  aiPanel->showDiff(summary, report->html);
  statusBar()->showMessage(L("Сравнение: %1", "Comparison: %1").arg(summary), 0);
  return true;
}

void MainWindow::compareWithDialog() {
  if (!currentView()) return;
  const QString path = QFileDialog::getOpenFileName(this, L("Сравнить с версией (PDF)", "Compare with version (PDF)"),
                                                    QString(), QStringLiteral("PDF (*.pdf)"));
  if (path.isEmpty()) return;
  // A compare that made no diff leaves nothing to sum up, and the summary says so.
  compareWith(path);
  summarizeLastDiff();
}

void MainWindow::showVisualDiff(const QString& otherPath) {
  PdfView* view = currentView();
  if (!view || !view->doc || otherPath.isEmpty() || !engine) return;
  auto columns = std::make_shared<SideBySide>();
  const auto compared = compareAsJob(*this, *view, otherPath, longParseFailure(),
                                     [columns](Compared& c, JobControl&) { *columns = sideBySide(c.diffs); });
  lastDiffText = compared ? compared->changes : QString();
  if (!compared) return;
  DiffViewDialog dialog(L("Текущий документ", "Current document"), QFileInfo(otherPath).fileName(), columns->left,
                        columns->right, columns->changedPages, this);
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
  auto written = std::make_shared<bool>(false);
  const std::string otherName = QFileInfo(otherPath).fileName().toStdString();
  const auto compared = compareAsJob(*this, *view, otherPath,
                                     L("Не удалось разобрать PDF для сравнения", "Could not parse PDF for comparison"),
                                     [written, otherName, htmlOut](Compared& c, JobControl& job) {
                                       const std::string html = diff::to_html(c.diffs, "текущий", otherName);
                                       if (job.commit()) *written = writeOutputFile(htmlOut, QByteArray::fromStdString(html));
                                     });
  lastDiffText = compared ? compared->changes : QString();
  if (!compared) return false;
  if (!*written)
    statusBar()->showMessage(L("Не удалось записать: %1", "Could not write: %1").arg(htmlOut), 0);
  else
    statusBar()->showMessage(L("Отчёт сравнения сохранён: %1", "Comparison report saved: %1").arg(htmlOut), 0);
  return true;
}

}  // namespace quorvel::desktop
