#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QSaveFile>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "desktop/tools/UnreadablePages.h"
#include "desktop/window/MainWindow.h"
#include "desktop/tools/LocalTools.h"
#include "desktop/viewer/PdfView.h"
#include "desktop/window/JobRunner.h"
#include "desktop/window/lang.h"

namespace quorvel::desktop {

namespace {

// 150 pixels per inch over the 72 points of an inch.
constexpr double kPageImageScale = 150.0 / 72.0;
// Higher printer resolutions only make the raster pages larger, not sharper on paper.
constexpr int kMaxPrintDpi = 200;

bool savePng(const QImage& image, const QString& path) {
  if (image.isNull()) return false;
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  if (!image.save(&file, "PNG", -1)) {
    file.cancelWriting();
    return false;
  }
  return file.commit();
}

struct Printout {
  bool written = false;     // the painter ran through every sheet and finished the output
  QList<int> failedPages;   // 1-based: pages that could not be drawn; their sheets stay empty
};

// Every page as an image, centred and scaled to the printable area. A page that cannot be
// rendered leaves its sheet empty and the rest still prints.
Printout paintPages(PdfView* view, QPrinter& printer) {
  Printout out;
  QPainter painter;
  if (!painter.begin(&printer)) return out;
  const double scale = std::min(printer.resolution(), kMaxPrintDpi) / 72.0;
  bool sheets = true;
  const int count = view->pageCount();
  for (int i = 0; i < count; ++i) {
    if (i > 0 && !printer.newPage()) {
      sheets = false;
      break;
    }
    const QImage image = view->renderPageImage(i, scale);
    if (image.isNull()) {
      out.failedPages.append(i + 1);
      continue;
    }
    const QRect vp = painter.viewport();
    const QSize target = image.size().scaled(vp.size(), Qt::KeepAspectRatio);
    const int x = (vp.width() - target.width()) / 2;
    const int y = (vp.height() - target.height()) / 2;
    painter.drawImage(QRectF(x, y, target.width(), target.height()), image,
                      QRectF(0, 0, image.width(), image.height()));
  }
  out.written = painter.end() && sheets;
  return out;
}

// The status after a printout: the pages that could not be drawn are named.
QString printedStatus(const QString& done, const QList<int>& failed) {
  if (failed.isEmpty()) return done;
  constexpr qsizetype kNamed = 10;
  QStringList numbers;
  for (qsizetype i = 0; i < std::min(failed.size(), kNamed); ++i) numbers << QString::number(failed[i]);
  if (failed.size() > kNamed) numbers << QStringLiteral("… (всего %1)").arg(failed.size());
  return failed.size() == 1
             ? QStringLiteral("%1; страница %2 не нарисована, её лист пуст").arg(done, numbers.first())
             : QStringLiteral("%1; страницы %2 не нарисованы, их листы пусты").arg(done, numbers.join(QStringLiteral(", ")));
}

// The printer writes straight into the file it is given, so it gets a temporary one beside the
// target, which replaces the target only once the whole printout is in it.
bool printIntoFile(PdfView* view, const QString& path, QList<int>& failedPages) {
  QFileInfo info(path);
  // A link is written through to what it names; a dangling one is replaced like a missing file.
  if (info.isSymLink() && QFileInfo::exists(info.symLinkTarget())) info = QFileInfo(info.symLinkTarget());
  if (info.exists() && !info.isFile()) return false;
  const QString target = info.absoluteFilePath();
  QTemporaryFile tmp(info.absolutePath() + QStringLiteral("/.") + info.fileName().left(128) +
                     QStringLiteral(".XXXXXX"));
  if (!tmp.open()) return false;
  tmp.close();

  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(tmp.fileName());
  const Printout printout = paintPages(view, printer);
  if (!printout.written) return false;
  failedPages = printout.failedPages;

  // The temporary file is owner-only; the result gets what the old file had, or what a new
  // file would get under the user's umask.
  mode_t mode = 0;
  struct stat old {};
  if (::stat(QFile::encodeName(target).constData(), &old) == 0) {
    mode = old.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  if (::chmod(QFile::encodeName(tmp.fileName()).constData(), mode) != 0) return false;
  return std::rename(QFile::encodeName(tmp.fileName()).constData(), QFile::encodeName(target).constData()) == 0;
}

}  // namespace

void MainWindow::saveDocumentTo(const QString& path) {
  PdfView* view = currentView();
  if (!view || path.isEmpty()) return;
  if (view->saveAs(path)) {
    recoveredWorkSaved(view);
    view->setUnsavedChanges(false);
    const QStringList refused = view->property(refusedEditsProperty).toStringList();
    view->setProperty(refusedEditsProperty, QVariant());
    if (refused.isEmpty())
      statusBar()->showMessage(QStringLiteral("Сохранено: %1").arg(path), 0);
    else
      statusBar()->showMessage(
          QStringLiteral("Сохранено: %1 — не выполнено: %2").arg(path, refused.join(QStringLiteral("; "))), 0);
  } else {
    statusBar()->showMessage(QStringLiteral("Не удалось сохранить документ") + unreadablePagesNote(view->doc.get()), 0);
  }
}

QString MainWindow::askSavePath() {
  return QFileDialog::getSaveFileName(this, L("Сохранить как", "Save as"), QStringLiteral("copy.pdf"),
                                      QStringLiteral("PDF (*.pdf)"));
}

void MainWindow::saveDocumentAs() {
  if (!currentView()) return;
  const QString path = askSavePath();
  if (path.isEmpty()) return;
  saveDocumentTo(path);
}

void MainWindow::exportPageTo(const QString& pngPath) {
  PdfView* view = currentView();
  if (!view || view->pageCount() < 1 || pngPath.isEmpty()) return;
  const QImage image = view->renderPageImage(view->currentPage() - 1, kPageImageScale);
  if (savePng(image, pngPath))
    statusBar()->showMessage(QStringLiteral("Сохранено: %1").arg(pngPath), 0);
  else
    statusBar()->showMessage(QStringLiteral("Не удалось сохранить изображение"), 0);
}

void MainWindow::exportCurrentPage() {
  PdfView* view = currentView();
  if (!view || view->pageCount() < 1) return;
  const QString path = QFileDialog::getSaveFileName(
      this, L("Экспорт страницы в PNG", "Export page to PNG"),
      QStringLiteral("page-%1.png").arg(view->currentPage()), QStringLiteral("PNG (*.png)"));
  if (path.isEmpty()) return;
  exportPageTo(path);
}

void MainWindow::exportAllPages() {
  PdfView* view = currentView();
  if (!view || view->pageCount() < 1) return;
  const QString dir = QFileDialog::getExistingDirectory(
      this, L("Папка для экспорта страниц", "Folder to export pages"), QString(), QFileDialog::ShowDirsOnly);
  if (dir.isEmpty()) return;
  exportAllPagesTo(dir);
}

void MainWindow::exportAllPagesTo(const QString& dir) {
  PdfView* view = currentView();
  if (!view || view->pageCount() < 1 || dir.isEmpty()) return;
  IDocument* doc = view->doc.get();
  auto written = std::make_shared<int>(0);
  JobRunner::Job job;
  job.title = L("Экспорт страниц…", "Exporting pages…");
  job.views = {view};
  job.work = [doc, dir, written](JobControl& c) {
    // The images wait under names of this run's own and take theirs only once every page is
    // done, so that a cancel leaves nothing written and replaces no file.
    QTemporaryDir staging(dir + QStringLiteral("/.quorvel-pages-XXXXXX"));
    if (!staging.isValid()) return;
    QStringList names;
    for (int i = 0; i < doc->page_count(); ++i) {
      if (c.cancelled()) return;
      const QImage image = pageImage(*doc, i, doc->page_info(i), kPageImageScale);
      const QString name = QStringLiteral("page-%1.png").arg(i + 1, 3, 10, QLatin1Char('0'));
      if (!image.isNull() && savePng(image, staging.filePath(name))) names << name;
      c.progress(i + 1, doc->page_count());
    }
    if (!c.commit()) return;
    for (const QString& name : names) {
      if (std::rename(QFile::encodeName(staging.filePath(name)).constData(),
                      QFile::encodeName(dir + QLatin1Char('/') + name).constData()) == 0)
        ++*written;
    }
  };
  if (!jobs().run(std::move(job))) {
    statusBar()->showMessage(cancelledText(0), 0);
    return;
  }
  statusBar()->showMessage(QStringLiteral("Экспортировано страниц: %1 → %2").arg(*written).arg(dir), 0);
}

void MainWindow::printDocument() {
  PdfView* view = currentView();
  if (!view || view->pageCount() < 1) return;
  QPrinter printer(QPrinter::HighResolution);
  QPrintDialog dialog(&printer, this);
  dialog.setWindowTitle(QStringLiteral("Печать"));
  if (dialog.exec() != QDialog::Accepted) return;
  const Printout printout = paintPages(view, printer);
  if (printout.written)
    statusBar()->showMessage(printedStatus(QStringLiteral("Отправлено на печать"), printout.failedPages), 0);
  else
    statusBar()->showMessage(L("Не удалось напечатать", "Printing failed"), 0);
}

void MainWindow::printToFile(const QString& pdfPath) {
  PdfView* view = currentView();
  if (!view || view->pageCount() < 1 || pdfPath.isEmpty()) return;
  QList<int> failedPages;
  if (printIntoFile(view, pdfPath, failedPages))
    statusBar()->showMessage(printedStatus(QStringLiteral("Напечатано в файл: %1").arg(pdfPath), failedPages), 0);
  else
    statusBar()->showMessage(L("Не удалось напечатать", "Printing failed"), 0);
}

}  // namespace quorvel::desktop
