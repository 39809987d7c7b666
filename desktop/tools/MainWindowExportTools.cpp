// The document's text as plain text, HTML, Word-compatible HTML (made here) or a Word
// document (made by the backend from the page texts; no PDF leaves the program).
#include <QFileDialog>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStatusBar>

#include "core/exportdoc.h"
#include "desktop/tools/BackendTools.h"
#include "desktop/window/MainWindow.h"
#include "desktop/viewer/PdfView.h"
#include "desktop/window/lang.h"
#include "desktop/tools/ContentTools.h"

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

void MainWindow::exportTextTo(const QString& path) {
  PdfView* view = currentView();
  if (!view || !view->doc || path.isEmpty()) return;
  const std::string text = exportdoc::to_text(*view->doc);
  if (!writeOutputFile(path, QByteArray::fromStdString(text))) {
    statusBar()->showMessage(L("Не удалось записать: %1", "Could not write: %1").arg(path));
    return;
  }
  statusBar()->showMessage(L("Экспортировано в текст: %1", "Exported to text: %1").arg(path));
}

void MainWindow::exportHtmlTo(const QString& path, bool wordCompatible) {
  PdfView* view = currentView();
  if (!view || !view->doc || path.isEmpty()) return;
  const std::string html = exportdoc::to_html(*view->doc, wordCompatible);
  if (!writeOutputFile(path, QByteArray::fromStdString(html))) {
    statusBar()->showMessage(L("Не удалось записать: %1", "Could not write: %1").arg(path));
    return;
  }
  statusBar()->showMessage(L("Экспортировано в %1: %2", "Exported to %1: %2")
                               .arg(wordCompatible ? QStringLiteral("Word (.doc)") : QStringLiteral("HTML"), path));
}

void MainWindow::exportDocxTo(const QString& outPath) {
  PdfView* view = currentView();
  if (!view || !view->doc || outPath.isEmpty()) return;
  QNetworkRequest request(backendUrl(QStringLiteral("/pdf/to-docx")));
  request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
  postToBackend(request, docxRequestBody(docxTitle(outPath), docxPages(*view->doc)),
                L("Экспорт в Word (.docx)…", "Exporting to Word (.docx)…"),
                [this, outPath](QNetworkReply* reply, const QByteArray& body) {
                  if (reply->error() != QNetworkReply::NoError || !isDocxBody(body)) {
                    statusBar()->showMessage(
                        L("Экспорт .docx не удался (backend): %1", ".docx export failed (backend): %1")
                            .arg(replyExcerpt(body)));
                  } else if (!writeOutputFile(outPath, body)) {
                    statusBar()->showMessage(L("Не удалось записать: %1", "Could not write: %1").arg(outPath));
                  } else {
                    statusBar()->showMessage(
                        L("Экспортировано в Word (.docx): %1", "Exported to Word (.docx): %1").arg(outPath));
                  }
                });
}

}  // namespace quorvel::desktop
