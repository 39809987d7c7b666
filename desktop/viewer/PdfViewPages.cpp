// Page-structure edits, saving and page images of the viewer.
//
// The annotation store keeps annotations on the pages of the file its key names, while the
// view's list follows the pages as they are now. `storePages` ties the two together once the
// first edit makes them differ.
#include <QScrollBar>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>

#include "desktop/viewer/PdfView.h"

namespace quorvel::desktop {

namespace {

// The page's size as the document shows it, its own rotation applied.
void shownSize(const PageInfo& p, double& w, double& h) {
  w = p.width;
  h = p.height;
  if (((p.rotation / 90) & 1) != 0) std::swap(w, h);
}

// Sizes beyond what an int holds are capped; the engine then declines to render them.
int roundPixels(double v) {
  if (!(v < 2e9)) return 2000000000;
  return std::max(1, static_cast<int>(std::lround(v)));
}

QImage copyTile(const RenderedTile& tile) {
  if (tile.width <= 0 || tile.height <= 0) return {};
  const size_t row = static_cast<size_t>(tile.width) * 4;
  if (tile.pixels.size() / row < static_cast<size_t>(tile.height)) return {};
  QImage img(tile.width, tile.height, QImage::Format_ARGB32);
  if (img.isNull()) return {};
  for (int y = 0; y < tile.height; ++y)
    std::memcpy(img.scanLine(y), tile.pixels.data() + row * static_cast<size_t>(y), row);
  return img;
}

}  // namespace

int PdfView::pageCount() const { return doc ? static_cast<int>(pages.size()) : 0; }

// After an edit that changed which pages exist: `fromOld[i]` is the previous index of the page
// now at i, or -1 for a page that is new. The annotations of pages that went leave the list;
// the others move with their pages. The store is not written: it describes the file.
static void followPages(PdfView& v, const std::vector<int>& fromOld, int oldCount, bool& listChanged) {
  std::vector<int> toNew(static_cast<size_t>(std::max(0, oldCount)), -1);
  for (size_t i = 0; i < fromOld.size(); ++i)
    if (fromOld[i] >= 0 && fromOld[i] < oldCount) toNew[static_cast<size_t>(fromOld[i])] = static_cast<int>(i);

  std::vector<int> stored(fromOld.size(), -1);
  std::vector<annot::Point> offsets(v.storeOffsets.empty() ? 0 : fromOld.size());
  for (size_t i = 0; i < fromOld.size(); ++i) {
    const int old = fromOld[i];
    if (old < 0 || old >= oldCount) continue;
    stored[i] = v.storePages.empty() ? old : v.storePages[static_cast<size_t>(old)];
    if (!offsets.empty()) offsets[i] = v.storeOffsetOf(old);
  }
  v.storePages = std::move(stored);
  v.storeOffsets = std::move(offsets);

  listChanged = false;
  std::vector<annot::Annotation> kept;
  kept.reserve(v.annotations.size());
  for (annot::Annotation& a : v.annotations) {
    // An annotation on a page the view never had stays as it was; it is not drawn.
    if (a.page >= 0 && a.page < oldCount) {
      const int now = toNew[static_cast<size_t>(a.page)];
      if (now < 0) {
        listChanged = true;
        continue;
      }
      if (now != a.page) {
        a.page = now;
        listChanged = true;
      }
    }
    kept.push_back(std::move(a));
  }
  v.annotations = std::move(kept);
}

int PdfView::storePageOf(int viewPage) const {
  if (viewPage < 0) return -1;
  if (storePages.empty()) return viewPage;
  if (viewPage >= static_cast<int>(storePages.size())) return -1;
  return storePages[static_cast<size_t>(viewPage)];
}

annot::Point PdfView::storeOffsetOf(int viewPage) const {
  if (viewPage < 0 || viewPage >= static_cast<int>(storeOffsets.size())) return {};
  return storeOffsets[static_cast<size_t>(viewPage)];
}

void shiftAnnotation(annot::Annotation& a, double dx, double dy) {
  a.x0 += dx;
  a.x1 += dx;
  a.y0 += dy;
  a.y1 += dy;
  for (annot::Point& p : a.points) {
    p.x += dx;
    p.y += dy;
  }
}

int PdfView::viewPageOf(int storePage) const {
  if (storePage < 0) return -1;
  if (storePages.empty()) return storePage;
  const auto it = std::find(storePages.begin(), storePages.end(), storePage);
  return it == storePages.end() ? -1 : static_cast<int>(it - storePages.begin());
}

bool PdfView::deletePage(int index) {
  if (!doc) return false;
  const int oldCount = pageCount();
  // A file without pages is no PDF to other readers.
  if (oldCount == 1 && index == 0) {
    emit pageEditRefused(QStringLiteral("Единственную страницу документа удалить нельзя"));
    return false;
  }
  if (!doc->delete_page(index)) {
    emit pageEditRefused(QStringLiteral("Не удалось удалить страницу %1").arg(index + 1));
    return false;
  }
  std::vector<int> fromOld(static_cast<size_t>(oldCount), 0);
  std::iota(fromOld.begin(), fromOld.end(), 0);
  if (index >= 0 && index < oldCount) fromOld.erase(fromOld.begin() + index);
  bool listChanged = false;
  followPages(*this, fromOld, oldCount, listChanged);
  refreshStructure();
  if (listChanged) emit annotationsChanged();
  return true;
}

bool PdfView::rotatePage(int index, int quarterTurns) {
  if (!doc) return false;
  if (!doc->rotate_page(index, quarterTurns)) {
    emit pageEditRefused(QStringLiteral("Не удалось повернуть страницу %1").arg(index + 1));
    return false;
  }
  refreshStructure();
  return true;
}

bool PdfView::movePage(int from, int to) {
  if (!doc) return false;
  const int oldCount = pageCount();
  if (!doc->move_page(from, to)) {
    emit pageEditRefused(QStringLiteral("Не удалось переместить страницу %1").arg(from + 1));
    return false;
  }
  std::vector<int> fromOld(static_cast<size_t>(oldCount), 0);
  std::iota(fromOld.begin(), fromOld.end(), 0);
  if (from >= 0 && from < oldCount && to >= 0 && to < oldCount) {
    fromOld.erase(fromOld.begin() + from);
    fromOld.insert(fromOld.begin() + to, from);
  }
  bool listChanged = false;
  followPages(*this, fromOld, oldCount, listChanged);
  refreshStructure();
  if (listChanged) emit annotationsChanged();
  return true;
}

bool PdfView::insertBlankPage(int at, double width, double height) {
  if (!doc) return false;
  const int oldCount = pageCount();
  if (!doc->insert_blank_page(at, width, height)) {
    emit pageEditRefused(QStringLiteral("Не удалось вставить страницу %1").arg(at + 1));
    return false;
  }
  std::vector<int> fromOld(static_cast<size_t>(oldCount), 0);
  std::iota(fromOld.begin(), fromOld.end(), 0);
  fromOld.insert(fromOld.begin() + std::clamp(at, 0, oldCount), -1);
  bool listChanged = false;
  followPages(*this, fromOld, oldCount, listChanged);
  refreshStructure();
  if (listChanged) emit annotationsChanged();
  return true;
}

bool PdfView::cropPage(int index, double x0, double y0, double x1, double y1) {
  if (!doc) return false;
  if (!doc->crop_page(index, x0, y0, x1, y1)) {
    emit pageEditRefused(index < 0 ? QStringLiteral("Не удалось обрезать страницы")
                                   : QStringLiteral("Не удалось обрезать страницу %1").arg(index + 1));
    return false;
  }
  // The page's origin moved to the new box's corner: what lies on the content moves against
  // it by that corner. The store keeps the file's coordinates through the offset.
  const int n = pageCount();
  if (storeOffsets.empty()) storeOffsets.resize(static_cast<size_t>(n));
  bool moved = false;
  for (int p = 0; p < n; ++p) {
    if (index >= 0 && p != index) continue;
    storeOffsets[static_cast<size_t>(p)].x += x0;
    storeOffsets[static_cast<size_t>(p)].y += y0;
    for (annot::Annotation& a : annotations) {
      if (a.page != p) continue;
      shiftAnnotation(a, -x0, -y0);
      moved = true;
    }
  }
  refreshStructure();
  if (moved) emit annotationsChanged();
  return true;
}

bool PdfView::mergePdf(const QByteArray& pdf) {
  if (!doc) return false;
  const int oldCount = pageCount();
  const auto* bytes = reinterpret_cast<const std::byte*>(pdf.constData());
  if (pdf.isEmpty() || !doc->merge(std::span<const std::byte>(bytes, static_cast<size_t>(pdf.size())), -1)) {
    emit pageEditRefused(QStringLiteral("Не удалось добавить страницы другого файла"));
    return false;
  }
  // The other file's pages come after the last one and have nothing in the store.
  std::vector<int> fromOld(static_cast<size_t>(oldCount), 0);
  std::iota(fromOld.begin(), fromOld.end(), 0);
  const int added = std::max(0, doc->page_count() - oldCount);
  fromOld.insert(fromOld.end(), static_cast<size_t>(added), -1);
  bool listChanged = false;
  followPages(*this, fromOld, oldCount, listChanged);
  refreshStructure();
  return true;
}

bool PdfView::saveAs(const QString& path) {
  if (!doc) return false;
  return doc->save_as(path.toStdString(), annotations);
}

bool PdfView::saveRange(const QString& path, int first, int last) {
  if (!doc) return false;
  return doc->save_range(path.toStdString(), first, last);
}

QImage PdfView::renderThumbnail(int index, int width) const {
  if (!doc || index < 0 || index >= static_cast<int>(pages.size()) || width <= 0) return {};
  double w = 0, h = 0;
  shownSize(pages[static_cast<size_t>(index)], w, h);
  if (!(w > 0) || !(h > 0)) return {};
  const double s = width / w;
  RenderRequest req;
  req.scale = s;
  req.width = width;
  req.height = roundPixels(h * s);
  req.rotation = 0;
  return copyTile(doc->render_tile(index, req));
}

QImage PdfView::renderPageImage(int index, double imageScale) const {
  if (!doc || index < 0 || index >= static_cast<int>(pages.size())) return {};
  return pageImage(*doc, index, pages[static_cast<size_t>(index)], imageScale);
}

QImage pageImage(IDocument& doc, int index, const PageInfo& info, double scale) {
  if (!(scale > 0)) return {};
  double w = 0, h = 0;
  shownSize(info, w, h);
  if (!(w > 0) || !(h > 0)) return {};
  RenderRequest req;
  req.scale = scale;
  req.width = roundPixels(w * scale);
  req.height = roundPixels(h * scale);
  req.rotation = 0;
  return copyTile(doc.render_tile(index, req));
}

void PdfView::fillFormDemo() {
  if (!doc || !doc->has_form()) return;
  doc->form_click(0, 355.0, 663.0, true);
  doc->form_click(0, 355.0, 663.0, false);
  formPage = 0;
  const QString text = QStringLiteral("Quorvel 2026");
  for (const QChar unit : text) doc->form_char(unit.unicode());
  pageContentEdited(0);
}

void PdfView::pageContentEdited(int index) {
  if (index < 0 || index >= pageCount()) return;
  charCache.erase(index);
  linkCache.erase(index);
  // Character indexes of the old text would select other characters of the new.
  if (selPage == index) selPage = selStart = selEnd = -1;
  viewport()->update();
  setUnsavedChanges(true);
  emit pageContentChanged(index);
}

void PdfView::setUnsavedChanges(bool on) {
  if (unsaved == on) return;
  unsaved = on;
  emit unsavedChangesChanged(on);
}

void PdfView::refreshStructure() {
  if (!doc) return;
  pages.clear();
  const int n = std::max(0, doc->page_count());
  pages.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) pages.push_back(doc->page_info(i));
  // A map left longer or shorter than the pages by an edit the view did not follow.
  if (!storePages.empty()) storePages.resize(static_cast<size_t>(n), -1);
  if (!storeOffsets.empty()) storeOffsets.resize(static_cast<size_t>(n));

  charCache.clear();
  linkCache.clear();
  clearTextSelection();

  relayout();
  lastEmittedPage = 0;
  emitCurrentPage();
  setUnsavedChanges(true);
  emit pageStructureChanged();
  viewport()->update();
}

}  // namespace quorvel::desktop
