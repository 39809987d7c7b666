// Page insertion, cropping and the image objects of a page. The changes stay in the open
// document until the user saves; every change of content goes through the view's content
// path, every change of pages through its page operations.
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>

#include "desktop/tools/LocalTools.h"
#include "desktop/window/MainWindow.h"
#include "desktop/tools/PageTools.h"
#include "desktop/viewer/PdfView.h"
#include "desktop/window/lang.h"

namespace quorvel::desktop {

namespace {

constexpr double kA4Width = 595.0;
constexpr double kA4Height = 842.0;

const char* const kImageFilter = "Images (*.png *.jpg *.jpeg *.bmp)";

// The page the tools work on: the one shown, zero-based.
int referencePage(const PdfView& view) { return std::max(0, view.currentPage() - 1); }


}  // namespace

namespace pagetools {

std::vector<uint8_t> imageFileToBgra(const QString& path, int& width, int& height) {
  const QImage image(path);
  std::vector<uint8_t> pixels = straightBgra(image);
  if (pixels.empty()) return {};
  width = image.width();
  height = image.height();
  return pixels;
}

QStringList imageRows(PdfView& view, int page) {
  QStringList rows;
  if (!view.doc) return rows;
  for (const IDocument::ImageRef& r : view.doc->list_images(page))
    rows << L("Изображение #%1 — %2×%3 pt @ (%4, %5)", "Image #%1 — %2×%3 pt @ (%4, %5)")
                .arg(r.index)
                .arg(std::lround(r.right - r.left))
                .arg(std::lround(r.top - r.bottom))
                .arg(std::lround(r.left))
                .arg(std::lround(r.bottom));
  return rows;
}

bool insertImage(PdfView& view, int page, const QString& imagePath) {
  if (!view.doc || page < 0 || page >= view.pageCount()) return false;
  int iw = 0, ih = 0;
  const std::vector<uint8_t> pixels = imageFileToBgra(imagePath, iw, ih);
  if (pixels.empty()) return false;
  const PageInfo info = view.doc->page_info(page);
  const double w = info.width / 2;
  const double h = w * ih / iw;
  const double x0 = (info.width - w) / 2, y0 = (info.height - h) / 2;
  if (!view.doc->place_image(page, pixels.data(), iw, ih, x0, y0, x0 + w, y0 + h)) return false;
  view.pageContentEdited(page);
  return true;
}

Replaced replaceImage(PdfView& view, int page, int row, const QString& imagePath) {
  if (!view.doc || row < 0) return Replaced::Nothing;
  int iw = 0, ih = 0;
  const std::vector<uint8_t> pixels = imageFileToBgra(imagePath, iw, ih);
  if (pixels.empty()) return Replaced::Nothing;
  const std::vector<IDocument::ImageRef> before = view.doc->list_images(page);
  if (row >= static_cast<int>(before.size())) return Replaced::Nothing;
  const IDocument::ImageRef old = before[static_cast<size_t>(row)];
  if (!view.doc->place_image(page, pixels.data(), iw, ih, old.left, old.bottom, old.right, old.top))
    return Replaced::Nothing;
  // The new object comes after every object the page had, so the old one keeps its index.
  if (view.doc->delete_image(page, old.index)) {
    view.pageContentEdited(page);
    return Replaced::Done;
  }
  std::set<int> known;
  for (const IDocument::ImageRef& r : before) known.insert(r.index);
  int added = -1;
  for (const IDocument::ImageRef& r : view.doc->list_images(page))
    if (!known.count(r.index)) added = std::max(added, r.index);
  if (added >= 0) view.doc->delete_image(page, added);
  view.pageContentEdited(page);
  return Replaced::Failed;
}

bool deleteImage(PdfView& view, int page, int row) {
  if (!view.doc || row < 0) return false;
  const std::vector<IDocument::ImageRef> images = view.doc->list_images(page);
  if (row >= static_cast<int>(images.size())) return false;
  if (!view.doc->delete_image(page, images[static_cast<size_t>(row)].index)) return false;
  view.pageContentEdited(page);
  return true;
}

}  // namespace pagetools

void MainWindow::insertPageDialog() {
  PdfView* view = documentViewOrAsk(*this, true);
  if (!view) return;
  QDialog dialog(this);
  dialog.setWindowTitle(L("Вставить страницу", "Insert page"));
  auto* form = new QFormLayout(&dialog);
  auto* kind = new QComboBox(&dialog);
  kind->addItems({L("Пустая (как текущая)", "Blank (like current)"), L("Пустая A4", "Blank A4"),
                  L("Из изображения…", "From an image…")});
  auto* where = new QComboBox(&dialog);
  where->addItems({L("Перед текущей", "Before current"), L("В конец", "At the end")});
  form->addRow(L("Тип", "Type"), kind);
  form->addRow(L("Куда", "Where"), where);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  form->addRow(buttons);
  if (dialog.exec() != QDialog::Accepted) return;

  QString imagePath;
  if (kind->currentIndex() == pagetools::FromImage) {
    imagePath = QFileDialog::getOpenFileName(this, L("Изображение", "Image"), QString(),
                                             QString::fromLatin1(kImageFilter));
    if (imagePath.isEmpty()) return;
  }
  insertPageWith(kind->currentIndex(), where->currentIndex(), imagePath);
}

bool MainWindow::insertPageWith(int kind, int where, const QString& imagePath) {
  PdfView* view = documentViewOrAsk(*this, true);
  if (!view) return false;
  const int ref = referencePage(*view);
  const PageInfo info = view->doc->page_info(ref);
  const int index = where == pagetools::AtEnd ? view->pageCount() : ref;
  double width = info.width, height = info.height;
  std::vector<uint8_t> pixels;
  int iw = 0, ih = 0;
  if (kind == pagetools::BlankA4) {
    width = kA4Width;
    height = kA4Height;
  } else if (kind == pagetools::FromImage) {
    pixels = pagetools::imageFileToBgra(imagePath, iw, ih);
    if (pixels.empty()) return false;
    width = kA4Width;
    height = ih * kA4Width / iw;
  }
  bool ok = view->insertBlankPage(index, width, height);
  if (ok && !pixels.empty()) {
    if (view->doc->place_image(index, pixels.data(), iw, ih, 0, 0, width, height)) {
      view->pageContentEdited(index);
    } else {
      // A blank page where the user asked for a picture is no insertion.
      view->deletePage(index);
      ok = false;
    }
  }
  if (!ok) {
    statusBar()->showMessage(L("Не удалось вставить страницу", "Could not insert the page"), 0);
    return false;
  }
  statusBar()->showMessage(
      L("Страница вставлена (№%1) — сохраните файл (Ctrl+S)", "Page inserted (#%1) — save the file (Ctrl+S)")
          .arg(index + 1),
      0);
  return true;
}

void MainWindow::cropPagesDialog() {
  PdfView* view = documentViewOrAsk(*this, true);
  if (!view) return;
  const PageInfo info = view->doc->page_info(referencePage(*view));
  QDialog dialog(this);
  dialog.setWindowTitle(L("Обрезать страницы", "Crop pages"));
  auto* form = new QFormLayout(&dialog);
  auto margin = [&](const QString& label, double limit) {
    auto* box = new QDoubleSpinBox(&dialog);
    // The range first: the one decimal then rounds a finer limit.
    box->setRange(0.0, limit);
    box->setDecimals(1);
    box->setSuffix(QStringLiteral(" pt"));
    box->setValue(0.0);
    form->addRow(label, box);
    return box;
  };
  QDoubleSpinBox* left = margin(L("Слева", "Left"), info.width / 2);
  QDoubleSpinBox* right = margin(L("Справа", "Right"), info.width / 2);
  QDoubleSpinBox* top = margin(L("Сверху", "Top"), info.height / 2);
  QDoubleSpinBox* bottom = margin(L("Снизу", "Bottom"), info.height / 2);
  auto* all = new QCheckBox(L("Все страницы", "All pages"), &dialog);
  all->setChecked(true);
  form->addRow(all);
  auto* note = new QLabel(L("Страница: %1 × %2 pt", "Page: %1 × %2 pt")
                              .arg(std::lround(info.width))
                              .arg(std::lround(info.height)),
                          &dialog);
  note->setObjectName(QStringLiteral("muted"));
  note->setTextFormat(Qt::PlainText);
  form->addRow(note);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  form->addRow(buttons);
  if (dialog.exec() != QDialog::Accepted) return;
  cropPageMargins(left->value(), right->value(), top->value(), bottom->value(), all->isChecked());
}

bool MainWindow::cropPageMargins(double left, double right, double top, double bottom, bool allPages) {
  PdfView* view = documentViewOrAsk(*this, true);
  if (!view) return false;
  const int ref = referencePage(*view);
  const PageInfo info = view->doc->page_info(ref);
  const double x0 = left, y0 = bottom, x1 = info.width - right, y1 = info.height - top;
  if (!(x0 < x1) || !(y0 < y1)) {
    statusBar()->showMessage(L("Отступы больше страницы", "Margins exceed the page"), 0);
    return false;
  }
  // The view's crop moves the annotations of each page along with its content.
  if (!view->cropPage(allPages ? -1 : ref, x0, y0, x1, y1)) {
    statusBar()->showMessage(L("Обрезка не удалась", "Crop failed"), 0);
    return false;
  }
  statusBar()->showMessage(L("Обрезка применена — сохраните файл (Ctrl+S)", "Crop applied — save the file (Ctrl+S)"), 0);
  return true;
}

void MainWindow::pageImagesDialog() {
  PdfView* view = documentViewOrAsk(*this, true);
  if (!view) return;
  const int page = referencePage(*view);
  QDialog dialog(this);
  dialog.setWindowTitle(L("Изображения страницы %1", "Images on page %1").arg(page + 1));
  dialog.resize(420, 320);
  auto* layout = new QVBoxLayout(&dialog);
  auto* list = new QListWidget(&dialog);
  layout->addWidget(list);
  auto* row = new QHBoxLayout;
  auto* insert = new QPushButton(L("Вставить…", "Insert…"), &dialog);
  auto* replace = new QPushButton(L("Заменить…", "Replace…"), &dialog);
  auto* remove = new QPushButton(L("Удалить", "Delete"), &dialog);
  for (QPushButton* b : {insert, replace, remove}) {
    b->setAutoDefault(false);
    row->addWidget(b);
  }
  row->addStretch();
  layout->addLayout(row);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
  connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addWidget(buttons);

  auto fill = [list, view, page] {
    list->clear();
    const QStringList rows = pagetools::imageRows(*view, page);
    if (rows.isEmpty())
      list->addItem(L("(изображений нет)", "(no images)"));
    else
      list->addItems(rows);
  };
  fill();

  connect(insert, &QPushButton::clicked, &dialog, [&dialog, view, page, fill] {
    const QString path = QFileDialog::getOpenFileName(&dialog, L("Изображение", "Image"), QString(),
                                                      QString::fromLatin1(kImageFilter));
    if (!path.isEmpty() && pagetools::insertImage(*view, page, path)) fill();
  });
  connect(replace, &QPushButton::clicked, &dialog, [&dialog, list, view, page, fill] {
    const int current = list->currentRow();
    if (current < 0 || current >= static_cast<int>(view->doc->list_images(page).size())) return;
    const QString path = QFileDialog::getOpenFileName(&dialog, L("Новое изображение", "New image"), QString(),
                                                      QString::fromLatin1(kImageFilter));
    if (path.isEmpty()) return;
    const pagetools::Replaced r = pagetools::replaceImage(*view, page, current, path);
    if (r != pagetools::Replaced::Nothing) fill();
    if (r == pagetools::Replaced::Failed)
      QMessageBox::warning(&dialog, L("Изображения страницы %1", "Images on page %1").arg(page + 1),
                           L("Не удалось заменить изображение", "Could not replace the image"));
  });
  connect(remove, &QPushButton::clicked, &dialog, [list, view, page, fill] {
    if (pagetools::deleteImage(*view, page, list->currentRow())) fill();
  });

  dialog.exec();
  statusBar()->showMessage(
      L("Изменения изображений применены — сохраните файл (Ctrl+S)", "Image edits applied — save the file (Ctrl+S)"), 0);
}

}  // namespace quorvel::desktop
