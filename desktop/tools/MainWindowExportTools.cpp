// The document's text as plain text, HTML, Word-compatible HTML (made here) or a Word
// document (made by the backend from the page texts; no PDF leaves the program). The page
// texts are read as a job of the window, off its thread.
#include <QFileDialog>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStatusBar>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/exportdoc.h"
#include "desktop/tools/BackendTools.h"
#include "desktop/tools/UnreadablePages.h"
#include "desktop/window/MainWindow.h"
#include "desktop/viewer/PdfView.h"
#include "desktop/window/lang.h"
#include "desktop/tools/ContentTools.h"
#include "desktop/tools/LocalTools.h"
#include "desktop/window/JobRunner.h"

namespace quorvel::desktop {

void MainWindow::exportContentDialog() {
  if (!currentView()) return;
  const QString path = QFileDialog::getSaveFileName(
      this, L("Экспорт документа", "Export document"), QStringLiteral("export.txt"),
      QStringLiteral("Текст (*.txt);;HTML (*.html *.htm);;Word OOXML (*.docx);;Word совместимый (*.doc)"));
  if (path.isEmpty()) return;
  switch (exportFormFor(path)) {
    case ExportForm::Docx: exportDocxTo(path); break;
    case ExportForm::WordHtml: exportHtmlTo(path, true); break;
    case ExportForm::Html: exportHtmlTo(path, false); break;
    case ExportForm::Text: exportTextTo(path); break;
  }
}

namespace {

// Makes the export from the view's document as a job of the window and writes it to `path`;
// gives whether it was written, and nothing when the user cancelled.
std::optional<bool> exportAsJob(MainWindow& window, PdfView& view, const QString& path,
                                std::function<std::string(const IDocument&)> make) {
  auto written = std::make_shared<bool>(false);
  const IDocument* doc = view.doc.get();
  JobRunner::Job job;
  job.title = L("Экспорт документа…", "Exporting the document…");
  job.views = {&view};
  job.work = [doc, path, written, make = std::move(make)](JobControl& c) {
    std::atomic<long long> read{0};
    const std::string content = make(JobReading(*doc, c, doc->page_count(), read));
    if (c.commit()) *written = writeOutputFile(path, QByteArray::fromStdString(content));
  };
  if (!window.jobs().run(std::move(job))) {
    window.statusBar()->showMessage(cancelledText(0));
    return std::nullopt;
  }
  if (!*written) window.statusBar()->showMessage(L("Не удалось записать: %1", "Could not write: %1").arg(path));
  return *written;
}

}  // namespace

void MainWindow::exportTextTo(const QString& path) {
  PdfView* view = currentView();
  if (!view || !view->doc || path.isEmpty()) return;
  if (const QString bad = unreadablePagesNote(view->doc.get()); !bad.isEmpty())
    return statusBar()->showMessage(L("Не удалось экспортировать", "Could not export") + bad);
  if (exportAsJob(*this, *view, path, [](const IDocument& doc) { return exportdoc::to_text(doc); }).value_or(false))
    statusBar()->showMessage(L("Экспортировано в текст: %1", "Exported to text: %1").arg(path));
}

void MainWindow::exportHtmlTo(const QString& path, bool wordCompatible) {
  PdfView* view = currentView();
  if (!view || !view->doc || path.isEmpty()) return;
  if (const QString bad = unreadablePagesNote(view->doc.get()); !bad.isEmpty())
    return statusBar()->showMessage(L("Не удалось экспортировать", "Could not export") + bad);
  if (exportAsJob(*this, *view, path, [wordCompatible](const IDocument& doc) {
        return exportdoc::to_html(doc, wordCompatible);
      }).value_or(false))
    statusBar()->showMessage(L("Экспортировано в %1: %2", "Exported to %1: %2")
                                 .arg(wordCompatible ? QStringLiteral("Word (.doc)") : QStringLiteral("HTML"), path));
}

void MainWindow::exportDocxTo(const QString& outPath) {
  PdfView* view = currentView();
  if (!view || !view->doc || outPath.isEmpty()) return;
  // The page texts are read as a job; the request goes out from the window's thread.
  auto body = std::make_shared<QByteArray>();
  const IDocument* doc = view->doc.get();
  JobRunner::Job job;
  job.title = L("Экспорт в Word (.docx)…", "Exporting to Word (.docx)…");
  job.views = {view};
  job.work = [doc, body, title = docxTitle(outPath)](JobControl& c) {
    std::atomic<long long> read{0};
    const QJsonArray pages = docxPages(JobReading(*doc, c, doc->page_count(), read));
    if (!c.cancelled()) *body = docxRequestBody(title, pages);
  };
  if (!jobs().run(std::move(job))) {
    statusBar()->showMessage(cancelledText(0));
    return;
  }
  QNetworkRequest request(backendUrl(QStringLiteral("/pdf/to-docx")));
  request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
  postToBackend(request, *body,
                L("Экспорт в Word (.docx)…", "Exporting to Word (.docx)…"),
                [this, outPath](QNetworkReply* reply, const QByteArray& body) {
                  if (reply->error() != QNetworkReply::NoError || !isDocxBody(body)) {
                    statusBar()->showMessage(
                        L("Экспорт .docx не удался (backend): %1", ".docx export failed (backend): %1")
                            .arg(failureDetail(reply, body)));
                  } else if (!writeOutputFile(outPath, body)) {
                    statusBar()->showMessage(L("Не удалось записать: %1", "Could not write: %1").arg(outPath));
                  } else {
                    statusBar()->showMessage(
                        L("Экспортировано в Word (.docx): %1", "Exported to Word (.docx): %1").arg(outPath));
                  }
                });
}

}  // namespace quorvel::desktop
