// The current tab's annotations to and from XFDF files; the PDF itself is not touched.
#include <QFile>
#include <QFileDialog>
#include <QPointer>
#include <QStatusBar>
#include <QUuid>

#include <memory>
#include <string>
#include <vector>

#include "core/xfdf.h"
#include "desktop/tools/BackendTools.h"
#include "desktop/tools/LocalTools.h"
#include "desktop/viewer/PdfView.h"
#include "desktop/window/JobRunner.h"
#include "desktop/window/MainWindow.h"
#include "desktop/window/lang.h"

namespace quorvel::desktop {

namespace {

// XFDF speaks the file's user space; the view keeps page space, whose origin is the crop box's
// corner. Pages the document does not have get no shift (their annotations are dropped anyway).
annot::PageOrigins originsOf(const PdfView& view) {
  const IDocument* doc = view.doc.get();
  if (!doc) return {};
  return [doc](int page) {
    if (page < 0 || page >= doc->page_count()) return annot::Point{};
    return doc->crop_origin(page);
  };
}

}  // namespace

void MainWindow::exportAnnotationsXfdf() {
  PdfView* view = currentView();
  if (!view) return;
  const QString path = QFileDialog::getSaveFileName(this, L("Экспорт аннотаций", "Export annotations"),
                                                    QStringLiteral("annotations.xfdf"), QStringLiteral("XFDF (*.xfdf)"));
  if (path.isEmpty()) return;
  const std::string xml = annot::to_xfdf(view->annotations, "", originsOf(*view));
  if (!writeOutputFile(path, QByteArray::fromStdString(xml))) {
    statusBar()->showMessage(L("Не удалось записать: %1", "Could not write: %1").arg(path), 0);
    return;
  }
  statusBar()->showMessage(L("Аннотации экспортированы: %1 (%2)", "Annotations exported: %1 (%2)")
                               .arg(path)
                               .arg(view->annotations.size()),
                           0);
}

void MainWindow::importAnnotationsXfdf() {
  if (!currentView()) return;
  const QString path = QFileDialog::getOpenFileName(this, L("Импорт аннотаций", "Import annotations"), QString(),
                                                    QStringLiteral("XFDF (*.xfdf *.xml)"));
  if (!path.isEmpty()) importAnnotationsXfdfFrom(path);
}

void MainWindow::importAnnotationsXfdfFrom(const QString& path) {
  QPointer<PdfView> view = currentView();
  if (!view) return;
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return;
  const QByteArray bytes = f.readAll();
  // A large file takes a while to read; the window answers meanwhile.
  auto read = std::make_shared<annot::XfdfRead>();
  JobRunner::Job job;
  job.title = L("Импорт аннотаций…", "Importing annotations…");
  job.views = {view};
  job.work = [bytes, origins = originsOf(*view), read](JobControl& c) {
    annot::XfdfRead r = annot::read_xfdf(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())),
                                         origins, [&c](size_t done, size_t total) {
                                           c.progress(static_cast<long long>(done), static_cast<long long>(total));
                                           return !c.cancelled();
                                         });
    if (c.commit()) *read = std::move(r);
  };
  if (!jobs().run(std::move(job)) || !view) {
    statusBar()->showMessage(cancelledText(0));
    return;
  }
  const int pages = view->doc ? view->doc->page_count() : 0;
  std::vector<annot::Annotation> kept;
  kept.reserve(read->annotations.size());
  int missingPage = 0;
  for (annot::Annotation& a : read->annotations) {
    // An annotation on a page the document lacks could never be shown or reached.
    if (a.page < 0 || a.page >= pages) {
      ++missingPage;
      continue;
    }
    // The id names the annotation: the one already here is replaced, so that importing an
    // export again changes nothing.
    if (a.id.empty()) a.id = QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString();
    kept.push_back(std::move(a));
  }
  const int replaced = view->addAnnotations(kept);
  QString message = L("Импортировано аннотаций: %1", "Annotations imported: %1").arg(kept.size());
  if (replaced > 0) message += L(", из них заменено: %1", ", %1 of them replacing existing ones").arg(replaced);
  if (missingPage > 0)
    message += L("; пропущено (нет такой страницы): %1", "; left out (no such page): %1").arg(missingPage);
  if (read->unknown > 0)
    message += L("; пропущено (вид не поддерживается): %1", "; left out (kind not supported): %1").arg(read->unknown);
  statusBar()->showMessage(message, 0);
}

}  // namespace quorvel::desktop
