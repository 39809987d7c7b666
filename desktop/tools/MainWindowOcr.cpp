// Recognising text: the current page to the clipboard (companion program or backend), and a
// searchable copy with an invisible text layer (companion program only), made as a job of the
// window.
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

#include <atomic>
#include <memory>
#include <optional>
#include <vector>

#include "desktop/window/MainWindow.h"
#include "desktop/viewer/PdfView.h"
#include "desktop/window/lang.h"
#include "desktop/tools/LocalTools.h"
#include "desktop/tools/Ocr.h"
#include "desktop/window/JobRunner.h"

namespace quorvel::desktop {

namespace {

// The page as the recogniser gets it: as shown, at the resolution it is read at, which the
// image carries so that the recogniser measures the text right. Needs no view: the searchable
// copy renders off the window's thread.
QImage ocrPageImage(IDocument& doc, int page) {
  const double dpi = ocrPageDpi(doc, page);
  // The recogniser reads grey levels; a quarter of the bytes is written and read faster.
  QImage image = pageImage(doc, page, doc.page_info(page), dpi / 72.0).convertToFormat(QImage::Format_Grayscale8);
  const int dotsPerMeter = qRound(dpi / 0.0254);
  image.setDotsPerMeterX(dotsPerMeter);
  image.setDotsPerMeterY(dotsPerMeter);
  return image;
}

QImage ocrPageImage(const PdfView& view, int page) { return ocrPageImage(*view.doc, page); }

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
  PdfView* view = currentView();
  if (!view || !view->doc || outPath.isEmpty()) return;
  // A second run would wait for the first and then recognise the layered pages again.
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

  struct Outcome {
    std::atomic<int> total{0};
    std::atomic<bool> saved{false};
    // The document changed while its pages were read: the layers would land on other pages.
    std::atomic<bool> changed{false};
  };
  auto outcome = std::make_shared<Outcome>();
  IDocument* doc = view->doc.get();
  // The progress dialog is modal: neither the list nor the document changes until the end.
  std::vector<annot::Annotation> annotations = view->annotations;
  QPointer<MainWindow> guard(this);
  JobRunner::Job job;
  job.title = L("Распознавание страниц (searchable PDF)…", "Recognising pages (searchable PDF)…");
  job.views = {view};
  job.work = [doc, outcome, program, guard, timeout = ocrPageTimeoutMs, path = outPath.toStdString(),
              annotations = std::move(annotations)](JobControl& c) {
    QTemporaryFile png(QDir(QDir::tempPath()).filePath(QStringLiteral("quorvel-ocrlayer-XXXXXX.png")));
    if (!png.open()) return;
    const uint64_t since = doc->revision();
    const int n = doc->page_count();
    // Every page is recognised first and the layers go into the document in one rewrite at the
    // end: a cancel until then leaves the document as it was.
    std::vector<std::pair<int, std::vector<TextSpan>>> layers;
    for (int p = 0; p < n && !c.cancelled(); ++p) {
      c.progress(p, n);
      const QImage image = ocrPageImage(*doc, p);
      if (image.isNull()) continue;
      if (!png.seek(0) || !png.resize(0) || !image.save(&png, "PNG") || !png.flush()) continue;
      const std::optional<QByteArray> out = runOcrProgram(program, {png.fileName(), QStringLiteral("--json")}, timeout,
                                                          [&c] { return c.cancelled(); });
      png.resize(0);
      if (!out) continue;
      std::optional<std::vector<TextSpan>> spans = ocrSpans(*out, doc->page_info(p));
      if (!spans) continue;
      layers.emplace_back(p, std::move(*spans));
      const QString shown = QStringLiteral("OCR-слой: страница %1/%2…").arg(p + 1).arg(n);
      QMetaObject::invokeMethod(
          QCoreApplication::instance(), [guard, shown] { if (guard) guard->statusBar()->showMessage(shown); },
          Qt::QueuedConnection);
    }
    if (!c.commit()) return;
    const std::vector<int> placed = layers.empty() ? std::vector<int>{} : doc->add_text_layers(layers, since);
    int total = 0;
    for (size_t k = 0; k < placed.size() && k < layers.size(); ++k) {
      if (placed[k] <= 0) continue;
      total += placed[k];
      c.pageEdited(layers[k].first);
    }
    outcome->total = total;
    outcome->changed = total == 0 && !layers.empty() && doc->revision() != since;
    if (total > 0) outcome->saved = doc->save_as(path, annotations);
  };
  job.done = [guard, outcome, outPath](bool finished) {
    if (!guard) return;
    QStatusBar* status = guard->statusBar();
    if (!finished) {
      status->showMessage(cancelledText(0));
    } else if (outcome->changed) {
      status->showMessage(L("OCR-слой не добавлен: документ изменился во время распознавания",
                            "OCR layer not added: the document changed while it was being recognised"));
    } else if (outcome->total == 0) {
      status->showMessage(L("OCR-слой: текст не распознан", "OCR layer: no text recognized"));
    } else if (outcome->saved) {
      status->showMessage(L("Searchable PDF: добавлено фрагментов %1 → %2", "Searchable PDF: %1 fragments added → %2")
                              .arg(QString::number(outcome->total), outPath));
    } else {
      status->showMessage(L("Не удалось сохранить searchable PDF", "Could not save the searchable PDF"));
    }
  };
  jobs().run(std::move(job));
}

}  // namespace quorvel::desktop
