// Small commands on the current tab for the command line: one page edit, one view setting or
// one demonstration each. Page numbers come one-based; nothing is saved. A page edit that
// changes nothing says so in the status bar (the view's refusals arrive there too).
#include <QStatusBar>
#include <QTabWidget>

#include <string>

#include "core/annot.h"
#include "desktop/window/MainWindow.h"
#include "desktop/viewer/PdfView.h"
#include "desktop/window/lang.h"

namespace quorvel::desktop {

namespace {

// A change of page content that the view cannot follow by itself: the page list, text and
// thumbnails are rebuilt from the document.
void contentChanged(PdfView& view) { view.refreshStructure(); }

annot::Annotation demoBox(const char* id, annot::AnnotType type, uint32_t color, double x0, double y0,
                          double x1, double y1, double width = 1.0) {
  annot::Annotation a;
  a.id = id;
  a.page = 0;
  a.type = type;
  a.color = color;
  a.x0 = x0;
  a.y0 = y0;
  a.x1 = x1;
  a.y1 = y1;
  a.width = width;
  a.opacity = 255;
  return a;
}

annot::Annotation demoPath(const char* id, annot::AnnotType type, uint32_t color,
                           std::vector<annot::Point> points, double width) {
  annot::Annotation a = demoBox(id, type, color, 0, 0, 0, 0, width);
  a.points = std::move(points);
  return a;
}

}  // namespace

void MainWindow::demoAnnotate() {
  PdfView* view = currentView();
  if (!view || view->pageCount() < 1) return;
  using T = annot::AnnotType;
  // One of every kind, laid out down a Letter page from a running height.
  std::vector<annot::Annotation> demo;
  demo.push_back(demoBox("demo-highlight", T::Highlight, 0xFFEB3B, 70, 694, 372, 730));
  demo.push_back(demoPath("demo-ink", T::Ink, 0xE53935, {{78, 650}, {130, 646}, {190, 650}, {250, 645}, {300, 649}}, 1.0));
  demo.push_back(demoBox("demo-note", T::Note, 0xFF8A00, 330, 596, 346, 612));
  demo.back().text = "Заметка: проверить нумерацию модулей.";
  double y = 560;
  for (auto [id, type] : {std::pair{"demo-underline", T::Underline}, std::pair{"demo-strikeout", T::StrikeOut},
                          std::pair{"demo-squiggly", T::Squiggly}}) {
    demo.push_back(demoBox(id, type, 0x1976D2, 78, y, 300, y + 12));
    y -= 22;
  }
  for (auto [id, type] : {std::pair{"demo-rect", T::Rectangle}, std::pair{"demo-ellipse", T::Ellipse}}) {
    demo.push_back(demoBox(id, type, 0x2E7D32, 78, y - 30, 200, y, 2.0));
    y -= 60;
  }
  demo.push_back(demoPath("demo-line", T::Line, 0x6A1B9A, {{220, y + 40}, {360, y + 10}}, 2.0));
  demo.push_back(demoPath("demo-arrow", T::Arrow, 0xC62828, {{220, y}, {360, y - 20}}, 2.0));
  demo.push_back(demoBox("demo-freetext", T::FreeText, 0x00695C, 78, y - 60, 300, y - 20));
  demo.back().text = "Свободный текст (FreeText)";
  for (const annot::Annotation& a : demo) view->addAnnotation(a);
}

void MainWindow::clearCurrentAnnotations() {
  if (PdfView* view = currentView()) view->clearAnnotations();
}

void MainWindow::setLayoutMode(int mode) {
  PdfView* view = currentView();
  if (!view) return;
  view->setViewMode(mode == 1 ? PdfView::TwoPage : mode == 2 ? PdfView::Book : PdfView::Single);
}

void MainWindow::rotateView(int steps) {
  PdfView* view = currentView();
  if (!view) return;
  for (int i = 0; i < (steps & 3); ++i) view->rotateClockwise();
}

void MainWindow::selectDemo() {
  if (PdfView* view = currentView()) view->selectDemo();
}

void MainWindow::rotatePageAt(int oneBased) {
  if (PdfView* view = currentView()) view->rotatePage(oneBased - 1, 1);
}

void MainWindow::deletePageAt(int oneBased) {
  if (PdfView* view = currentView()) view->deletePage(oneBased - 1);
}

bool MainWindow::insertBlankPageAt(int oneBased) {
  PdfView* view = currentView();
  if (!view || !view->doc) return false;
  if (view->pageCount() < 1) {
    statusBar()->showMessage(QStringLiteral("Не удалось вставить страницу %1: в документе нет страниц").arg(oneBased), 0);
    return false;
  }
  const PageInfo first = view->doc->page_info(0);
  return view->insertBlankPage(oneBased - 1, first.width, first.height);
}

bool MainWindow::cropAllPages(double x0, double y0, double x1, double y1) {
  PdfView* view = currentView();
  if (!view) return false;
  if (!(x0 < x1) || !(y0 < y1)) {
    statusBar()->showMessage(QStringLiteral("Не удалось обрезать страницы: пустая область"), 0);
    return false;
  }
  return view->cropPage(-1, x0, y0, x1, y1);
}

bool MainWindow::deleteImageAt(int page1, int imgIdx1) {
  PdfView* view = currentView();
  if (!view || !view->doc) return false;
  // An image drawn inside a form, or a number the page does not have: nothing goes, and the
  // user hears so rather than a later "saved" for an unchanged file.
  const auto refuse = [this] {
    statusBar()->showMessage(L("Изображение не удалено", "No image was deleted"), 0);
    return false;
  };
  if (page1 < 1 || page1 > view->pageCount()) return refuse();
  const std::vector<IDocument::ImageRef> images = view->doc->list_images(page1 - 1);
  if (imgIdx1 < 1 || imgIdx1 > static_cast<int>(images.size())) return refuse();
  if (!view->doc->delete_image(page1 - 1, images[static_cast<size_t>(imgIdx1 - 1)].index)) return refuse();
  contentChanged(*view);
  return true;
}

bool MainWindow::insertTextAt(double x, double y, const QString& text) {
  PdfView* view = currentView();
  if (!view || !view->doc || text.isEmpty()) return false;
  const QByteArray utf8 = text.toUtf8();
  if (!view->doc->insert_text(0, std::string(utf8.constData(), static_cast<size_t>(utf8.size())), x, y, 12.0,
                              0x000000))
    return false;
  contentChanged(*view);
  return true;
}

void MainWindow::fillFormDemo() {
  if (PdfView* view = currentView()) view->fillFormDemo();
}

}  // namespace quorvel::desktop
