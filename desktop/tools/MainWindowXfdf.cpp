// The current tab's annotations to and from XFDF files; the PDF itself is not touched.
#include <QFile>
#include <QFileDialog>
#include <QStatusBar>
#include <QUuid>

#include <set>
#include <string>
#include <vector>

#include "core/xfdf.h"
#include "desktop/tools/BackendTools.h"
#include "desktop/viewer/PdfView.h"
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
  PdfView* view = currentView();
  if (!view) return;
  const QString path = QFileDialog::getOpenFileName(this, L("Импорт аннотаций", "Import annotations"), QString(),
                                                    QStringLiteral("XFDF (*.xfdf *.xml)"));
  if (path.isEmpty()) return;
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return;
  const QByteArray bytes = f.readAll();
  const int pages = view->doc ? view->doc->page_count() : 0;
  std::set<std::string> ids;
  for (const annot::Annotation& a : view->annotations) ids.insert(a.id);
  int imported = 0, replaced = 0, leftOut = 0;
  for (annot::Annotation a : annot::from_xfdf(std::string_view(bytes.constData(), bytes.size()), originsOf(*view))) {
    // An annotation on a page the document lacks could never be shown or reached.
    if (a.page < 0 || a.page >= pages) {
      ++leftOut;
      continue;
    }
    ++imported;
    // The id names the annotation: the one already here is replaced, so that importing an
    // export again changes nothing.
    if (!a.id.empty() && ids.count(a.id)) {
      view->updateAnnotation(a);
      ++replaced;
      continue;
    }
    if (a.id.empty()) a.id = QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString();
    ids.insert(a.id);
    view->addAnnotation(a);
  }
  QString message = L("Импортировано аннотаций: %1", "Annotations imported: %1").arg(imported);
  if (replaced > 0) message += L(", из них заменено: %1", ", %1 of them replacing existing ones").arg(replaced);
  if (leftOut > 0)
    message += L("; пропущено (нет такой страницы): %1", "; left out (no such page): %1").arg(leftOut);
  statusBar()->showMessage(message, 0);
}

}  // namespace quorvel::desktop
