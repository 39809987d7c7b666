// Recognising text: the current page to the clipboard (companion program or backend), and a
// searchable copy with an invisible text layer (companion program only).
#include <QBuffer>
#include <QClipboard>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QProcess>
#include <QStatusBar>
#include <QTemporaryFile>

#include "desktop/window/MainWindow.h"
#include "desktop/viewer/PdfView.h"
#include "desktop/window/lang.h"
#include "desktop/tools/Ocr.h"

namespace quorvel::desktop {

namespace {

// The page as the recogniser gets it: as shown, at the resolution it is read at, which the
// image carries so that the recogniser measures the text right.
QImage ocrPageImage(const PdfView& view, int page) {
  const double dpi = ocrPageDpi(*view.doc, page);
  // The recogniser reads grey levels; a quarter of the bytes is written and read faster.
  QImage image = view.renderPageImage(page, dpi / 72.0).convertToFormat(QImage::Format_Grayscale8);
  const int dotsPerMeter = qRound(dpi / 0.0254);
  image.setDotsPerMeterX(dotsPerMeter);
  image.setDotsPerMeterY(dotsPerMeter);
  return image;
}

std::unique_ptr<QTemporaryFile> pageImageFile(const QImage& image, const char* stem) {
  auto file = std::make_unique<QTemporaryFile>(
      QDir(QDir::tempPath()).filePath(QStringLiteral("quorvel-%1-XXXXXX.png").arg(QLatin1String(stem))));
  if (!file->open() || !image.save(file.get(), "PNG") || !file->flush()) return nullptr;
  return file;
}

}  // namespace

int MainWindow::ocrPageTimeoutMs = kOcrPageTimeoutMs;

void MainWindow::ocrCurrentPage() {
  PdfView* view = currentView();
  if (!view || !view->doc || view->pageCount() < 1) return;
  const QImage image = ocrPageImage(*view, view->currentPage() - 1);
  if (image.isNull()) return;
  const QString program = findOcrSidecar();
  if (program.isEmpty()) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    QNetworkRequest request(backendUrl(QStringLiteral("/ocr")));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/octet-stream"));
    postToBackend(request, png, QStringLiteral("Распознавание текста (OCR, backend)…"),
                  [this](QNetworkReply* reply, const QByteArray& body) {
                    if (reply->error() != QNetworkReply::NoError) {
                      statusBar()->showMessage(
                          QStringLiteral("OCR: нет локального движка и backend недоступен: %1").arg(reply->errorString()));
                      return;
                    }
                    const QJsonObject o = QJsonDocument::fromJson(body).object();
                    showOcrResult(o.value(QStringLiteral("text")).toString(), o.value(QStringLiteral("lines")).toInt(),
                                  o.value(QStringLiteral("engine")).toString());
                  });
    return;
  }
  std::unique_ptr<QTemporaryFile> png = pageImageFile(image, "ocr");
  if (!png) {
    statusBar()->showMessage(QStringLiteral("OCR: не удалось сохранить страницу"));
    return;
  }
  statusBar()->showMessage(QStringLiteral("Распознавание текста (OCR, локально)…"));
  auto* process = new QProcess(this);
  QTemporaryFile* file = png.release();
  file->setParent(process);
  process->setProgram(program);
  process->setArguments({file->fileName()});
  process->setStandardInputFile(QProcess::nullDevice());
  // Only a program that never started ends without `finished`; every other error is followed
  // by it.
  connect(process, &QProcess::errorOccurred, this, [this, process, file](QProcess::ProcessError e) {
    if (e != QProcess::FailedToStart) return;
    delete file;
    statusBar()->showMessage(QStringLiteral("OCR: не удалось запустить локальный движок"));
    process->deleteLater();
  });
  connect(process, &QProcess::finished, this, [this, process, file](int exitCode, QProcess::ExitStatus status) {
    delete file;
    process->deleteLater();
    // A crash leaves an exit code of its own choosing; it is no result.
    if (exitCode != 0 || status != QProcess::NormalExit) {
      statusBar()->showMessage(QStringLiteral("OCR: локальный движок завершился с ошибкой"));
      return;
    }
    const QString text = QString::fromUtf8(process->readAllStandardOutput()).trimmed();
    showOcrResult(text, ocrLineCount(text), QStringLiteral("offline"));
  });
  process->start();
}

void MainWindow::showOcrResult(const QString& text, int lines, const QString& engine) {
  if (text.isEmpty()) {
    statusBar()->showMessage(QStringLiteral("OCR: текст не распознан (%1)").arg(engine));
    return;
  }
  QGuiApplication::clipboard()->setText(text);
  statusBar()->showMessage(
      QStringLiteral("OCR: распознано строк: %1 (%2; текст в буфере обмена)").arg(lines).arg(engine));
}

void MainWindow::ocrSearchable() {
  PdfView* view = currentView();
  if (!view || !view->doc) return;
  const QString path = QFileDialog::getSaveFileName(this, L("Сохранить searchable PDF", "Save searchable PDF"),
                                                    QStringLiteral("searchable.pdf"), QStringLiteral("PDF (*.pdf)"));
  if (path.isEmpty()) return;
  ocrSearchableTo(path);
}

void MainWindow::ocrSearchableTo(const QString& outPath) {
  QPointer<PdfView> view = currentView();
  if (!view || !view->doc || outPath.isEmpty()) return;
  // The event loop runs between pages; a second run would edit the same pages under the first.
  if (ocrLayerRunning) {
    statusBar()->showMessage(L("OCR-слой уже выполняется", "The OCR layer is already running"));
    return;
  }
  const QString program = findOcrSidecar();
  if (program.isEmpty()) {
    statusBar()->showMessage(L("Searchable PDF требует локального OCR (taviocr)", "Searchable PDF requires the local OCR (taviocr)"));
    return;
  }
  ocrLayerRunning = true;
  struct Running {
    bool& flag;
    ~Running() { flag = false; }
  } running{ocrLayerRunning};

  QTemporaryFile png(QDir(QDir::tempPath()).filePath(QStringLiteral("quorvel-ocrlayer-XXXXXX.png")));
  if (!png.open()) return;
  const int n = view->doc->page_count();
  int total = 0;
  // The page count is read again at each step: an edit made meanwhile may have removed pages.
  for (int p = 0; p < n; ++p) {
    if (!view || !view->doc) return;  // the tab was closed meanwhile: nothing is saved
    if (p >= view->doc->page_count()) break;
    const QImage image = ocrPageImage(*view, p);
    if (image.isNull()) continue;
    if (!png.seek(0) || !png.resize(0) || !image.save(&png, "PNG") || !png.flush()) continue;
    const std::optional<QByteArray> out =
        runOcrProgram(program, {png.fileName(), QStringLiteral("--json")}, ocrPageTimeoutMs);
    png.resize(0);
    if (!out || !view || !view->doc || p >= view->doc->page_count()) continue;
    const std::optional<std::vector<TextSpan>> spans = ocrSpans(*out, view->doc->page_info(p));
    if (!spans) continue;
    const int placed = view->doc->add_text_layer(p, *spans);
    total += placed;
    if (placed > 0) view->pageContentEdited(p);
    statusBar()->showMessage(QStringLiteral("OCR-слой: страница %1/%2…").arg(p + 1).arg(n));
    QCoreApplication::processEvents();
  }
  if (!view || !view->doc) return;
  if (total == 0) {
    statusBar()->showMessage(L("OCR-слой: текст не распознан", "OCR layer: no text recognized"));
    return;
  }
  if (view->saveAs(outPath))
    statusBar()->showMessage(
        L("Searchable PDF: добавлено фрагментов %1 → %2", "Searchable PDF: %1 fragments added → %2").arg(QString::number(total), outPath));
  else
    statusBar()->showMessage(L("Не удалось сохранить searchable PDF", "Could not save the searchable PDF"));
}

}  // namespace quorvel::desktop
