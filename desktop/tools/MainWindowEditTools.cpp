// A signature picture placed on a page, text replaced throughout (a job of the window), N-up
// sheets, and merging: another PDF into the open document, or a folder of PDFs into a new file.
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QInputDialog>
#include <QLineEdit>
#include <QPointer>
#include <QStatusBar>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "core/search.h"

#include "desktop/tools/ContentTools.h"
#include "desktop/tools/LocalTools.h"
#include "desktop/tools/UnreadablePages.h"
#include "desktop/window/MainWindow.h"
#include "desktop/viewer/PdfView.h"
#include "desktop/window/JobRunner.h"
#include "desktop/batch/batch.h"
#include "desktop/window/lang.h"

namespace quorvel::desktop {

void MainWindow::signWithImageTo(const QString& imagePath, const QString& outPath, int page0) {
  PdfView* view = currentView();
  if (!view || !view->doc || imagePath.isEmpty() || outPath.isEmpty()) return;
  IDocument& doc = *view->doc;
  if (page0 < 0 || page0 >= doc.page_count()) page0 = 0;
  const QImage image(imagePath);
  if (image.isNull()) {
    statusBar()->showMessage(L("Не удалось открыть изображение", "Could not open the image"), 0);
    return;
  }
  // Straight alpha keeps a PNG's soft edges as light as they are drawn.
  const std::vector<uint8_t> pixels = straightBgra(image);
  const double width = doc.page_info(page0).width;
  const double sigW = 0.3 * width;
  const double aspect = image.height() < 1 ? 0.3 : static_cast<double>(image.height()) / image.width();
  const bool placed = !pixels.empty() && doc.place_image(page0, pixels.data(), image.width(), image.height(),
                                                         width - 36 - sigW, 36, width - 36, 36 + aspect * sigW);
  if (placed) view->pageContentEdited(page0);
  finishLocalTool(*this, *view, placed, outPath,
                  {L("Не удалось разместить подпись", "Could not place the signature"),
                   L("Не удалось сохранить подписанный PDF", "Could not save the signed PDF"),
                   L("Подпись добавлена (стр. %1) → %2", "Signature added (page %1) → %2").arg(page0 + 1).arg(outPath)});
}

void MainWindow::signWithImage() {
  PdfView* view = currentView();
  if (!view || !view->doc) return;
  const QString image = QFileDialog::getOpenFileName(this, L("Выберите изображение подписи", "Choose signature image"),
                                                     QString(), QStringLiteral("Изображения (*.png *.jpg *.jpeg)"));
  if (image.isEmpty()) return;
  const QString out = QFileDialog::getSaveFileName(this, L("Сохранить подписанный PDF", "Save signed PDF"),
                                                   QStringLiteral("signed.pdf"), QStringLiteral("PDF (*.pdf)"));
  if (out.isEmpty()) return;
  signWithImageTo(image, out, view->currentPage() - 1);
}

void MainWindow::replaceTextTo(const QString& oldText, const QString& newText, const QString& outPath) {
  PdfView* view = currentView();
  if (!view || !view->doc || oldText.isEmpty() || outPath.isEmpty()) return;
  struct Outcome {
    std::map<int, TextReplacement> pages;  // what each page where the text occurred gave
    bool saved = false;
  };
  auto outcome = std::make_shared<Outcome>();
  IDocument* doc = view->doc.get();
  const std::shared_ptr<const IDocument> text = view->keptTextReader();
  // The progress dialog is modal: neither the list nor the document changes until the end.
  std::vector<annot::Annotation> annotations = view->annotations;
  QPointer<MainWindow> guard(this);
  JobRunner::Job job;
  job.title = L("Замена текста…", "Replacing text…");
  job.views = {view};
  job.work = [doc, text, outcome, find = oldText.toStdString(), replacement = newText.toStdString(),
              path = outPath.toStdString(), annotations = std::move(annotations)](JobControl& c) {
    // Finding the pages that hold the text can be cancelled; only those are then rewritten, all
    // in one rewrite of the document, which also looks into the annotations' appearances.
    search::Options exact;
    exact.case_sensitive = true;
    std::vector<int> pages;
    const int n = doc->page_count();
    for (int i = 0; i < n && !c.cancelled(); ++i) {
      c.progress(i, n);
      const TextPage page = text->extract_text(i);
      if (std::any_of(page.runs.begin(), page.runs.end(),
                      [&](const TextRun& run) { return !search::find_all(run.text, find, exact).empty(); }))
        pages.push_back(i);
    }
    if (!c.commit()) return;
    outcome->pages = doc->replace_text_everywhere(pages, find, replacement);
    bool any = false;
    for (const auto& [page, r] : outcome->pages) {
      if (r.replaced <= 0) continue;
      c.pageEdited(page);
      any = true;
    }
    // The replaced pages are right even when some occurrences were left: the copy is written and
    // the status says what was left.
    if (any) outcome->saved = doc->save_as(path, annotations);
  };
  job.done = [guard, outcome, oldText, outPath](bool finished) {
    if (!guard) return;
    if (!finished) {
      guard->statusBar()->showMessage(cancelledText(0), 0);
      return;
    }
    const Outcome& o = *outcome;
    const bool replaced = std::any_of(o.pages.begin(), o.pages.end(), [](const auto& p) { return p.second.replaced > 0; });
    const QString status = replacementStatus(oldText, o.pages, outPath);
    reportLocalTool(*guard, replaced, o.saved, outPath,
                    {o.pages.empty() ? L("Текст не найден: «%1»", "Text not found: «%1»").arg(oldText) : status,
                     L("Не удалось сохранить результат", "Could not save the result"), status});
  };
  jobs().run(std::move(job));
}

void MainWindow::replaceTextDialog() {
  PdfView* view = currentView();
  if (!view || !view->doc) return;
  const QString title = L("Заменить текст", "Replace text");
  bool ok = false;
  const QString find = QInputDialog::getText(this, title, L("Найти:", "Find:"), QLineEdit::Normal, QString(), &ok);
  if (!ok || find.isEmpty()) return;
  const QString with =
      QInputDialog::getText(this, title, L("Заменить на:", "Replace with:"), QLineEdit::Normal, QString(), &ok);
  if (!ok) return;
  const QString out = QFileDialog::getSaveFileName(this, L("Сохранить изменённый PDF", "Save edited PDF"),
                                                   QStringLiteral("edited.pdf"), QStringLiteral("PDF (*.pdf)"));
  if (out.isEmpty()) return;
  replaceTextTo(find, with, out);
}

void MainWindow::nUpTo(int cols, int rows, const QString& outPath) {
  PdfView* view = currentView();
  if (!view || !view->doc || outPath.isEmpty() || cols < 1 || rows < 1) return;
  if (!view->doc->save_nup(outPath.toStdString(), cols, rows)) {
    statusBar()->showMessage(L("Не удалось сделать N-up", "N-up failed") + unreadablePagesNote(view->doc.get()), 0);
    return;
  }
  statusBar()->showMessage(QStringLiteral("N-up %1×%2 → %3").arg(cols).arg(rows).arg(outPath), 0);
  openFile(outPath);
}

void MainWindow::nUpDialog() {
  PdfView* view = currentView();
  if (!view || !view->doc) return;
  const QString title = L("N-up печать", "N-up");
  bool ok = false;
  const int cols = QInputDialog::getInt(this, title, L("Столбцов на лист:", "Columns per sheet:"), 2, 1, 6, 1, &ok);
  if (!ok) return;
  const int rows = QInputDialog::getInt(this, title, L("Строк на лист:", "Rows per sheet:"), 2, 1, 6, 1, &ok);
  if (!ok) return;
  const QString out = QFileDialog::getSaveFileName(this, L("Сохранить N-up PDF", "Save N-up PDF"),
                                                   QStringLiteral("nup.pdf"), QStringLiteral("PDF (*.pdf)"));
  if (out.isEmpty()) return;
  nUpTo(cols, rows, out);
}

void MainWindow::mergeWith(const QString& pdfPath) {
  PdfView* view = currentView();
  if (!view || pdfPath.isEmpty()) return;
  QFile file(pdfPath);
  const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  // The view announces the new pages itself; the file on disk stays as it is until a save.
  if (view->mergePdf(bytes))
    statusBar()->showMessage(QStringLiteral("Объединено с: %1").arg(pdfPath), 0);
  else
    statusBar()->showMessage(L("Не удалось объединить: %1", "Could not merge: %1").arg(pdfPath), 0);
}

void MainWindow::mergeWithDialog() {
  if (!currentView()) return;
  const QString path = QFileDialog::getOpenFileName(this, L("Объединить с PDF", "Merge with PDF"), QString(),
                                                    QStringLiteral("PDF (*.pdf)"));
  if (path.isEmpty()) return;
  mergeWith(path);
}

void MainWindow::mergeFolderDialog() {
  const QString dir = QFileDialog::getExistingDirectory(this, L("Папка с PDF для объединения", "Folder of PDFs to merge"),
                                                        QString(), QFileDialog::ShowDirsOnly);
  if (dir.isEmpty()) return;
  const QString out = QFileDialog::getSaveFileName(this, L("Сохранить объединённый PDF", "Save merged PDF"),
                                                   QStringLiteral("merged.pdf"), QStringLiteral("PDF (*.pdf)"));
  if (out.isEmpty()) return;
  // The batch merge without its console lines: the window writes nothing to the console.
  const FolderMerge merged = merge_pdf_folder(dir.toStdString(), out.toStdString());
  if (!merged.written) {
    statusBar()->showMessage(L("Не удалось объединить папку", "Could not merge the folder"), 0);
    return;
  }
  QString done = L("Папка объединена → %1", "Folder merged → %1").arg(out);
  if (merged.skipped > 0)
    done += L(" (пропущено файлов: %1)", " (files skipped: %1)").arg(merged.skipped);
  statusBar()->showMessage(done, 0);
  openFile(out);
}

}  // namespace quorvel::desktop
