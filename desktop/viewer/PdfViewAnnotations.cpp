// The viewer's annotation list, kept in step with the annotation store.
#include <QScrollBar>

#include <algorithm>
#include <cmath>
#include <optional>
#include <unordered_map>

#include "desktop/stores/AnnotationStore.h"
#include "desktop/viewer/PdfView.h"

namespace quorvel::desktop {

namespace {

constexpr double kHitTolerance = 4.0;   // page points, whatever the zoom
constexpr double kHandleRadius = 6.0;   // content pixels, so it does not shrink with the zoom

bool bound(const PdfView& v) { return v.store && !v.docHash.isEmpty(); }

QString idText(const std::string& id) {
  return QString::fromUtf8(id.data(), static_cast<qsizetype>(id.size()));
}

// Writes one annotation under the page index the store keeps for its page. False only when the
// store refused the write; an annotation on a page the stored file does not have (an inserted
// page) lives in the view and in saved copies and is not written at all.
// The row the store keeps for an annotation of the view: on the stored file's page, in its page
// space; none for a page the file does not have, or when the view has no store.
std::optional<annot::Annotation> storeRow(const PdfView& v, const annot::Annotation& a) {
  if (!bound(v)) return std::nullopt;
  const int storePage = v.storePageOf(a.page);
  if (storePage < 0) return std::nullopt;
  annot::Annotation row = a;
  row.page = storePage;
  const annot::Point offset = v.storeOffsetOf(a.page);
  shiftAnnotation(row, offset.x, offset.y);
  return row;
}

bool persist(PdfView& v, const annot::Annotation& a) {
  const std::optional<annot::Annotation> row = storeRow(v, a);
  return !row || v.store->add(v.docHash, *row);
}

bool unpersist(PdfView& v, const std::string& id) {
  if (!bound(v)) return true;
  return v.store->remove(v.docHash, idText(id));
}

void reportWriteFailure(PdfView& v) {
  emit v.annotationStoreFailed(
      PdfView::tr("Не удалось записать аннотацию в базу данных. Она остаётся в открытом "
                  "документе и попадёт в сохранённую копию."));
}

void reportRemoveFailure(PdfView& v) {
  emit v.annotationStoreFailed(
      PdfView::tr("Не удалось удалить аннотацию из базы данных: при следующем открытии "
                  "документа она появится снова."));
}

bool validPage(const PdfView& v, int page) {
  return page >= 0 && page < static_cast<int>(v.layouts.size()) &&
         page < static_cast<int>(v.pages.size());
}

double distance(QPointF a, QPointF b) { return std::hypot(a.x() - b.x(), a.y() - b.y()); }

}  // namespace

void PdfView::setStore(AnnotationStore* s, const QString& hash) {
  store = s;
  docHash = hash;
  reloadAnnotations();
}

void PdfView::reloadAnnotations() {
  annotations.clear();
  if (bound(*this)) {
    std::vector<annot::Annotation> rows = store->load(docHash);
    annotations.reserve(rows.size());
    for (annot::Annotation& a : rows) {
      // Rows of pages that were deleted from the view are kept in the store, not shown.
      const int page = viewPageOf(a.page);
      if (page < 0) continue;
      a.page = page;
      const annot::Point offset = storeOffsetOf(page);
      shiftAnnotation(a, -offset.x, -offset.y);
      annotations.push_back(std::move(a));
    }
  }
  viewport()->update();
  emit annotationsChanged();
}

void PdfView::addAnnotation(const annot::Annotation& a) {
  annotations.push_back(a);
  const bool stored = persist(*this, a);
  viewport()->update();
  emit annotationsChanged();
  if (!stored) reportWriteFailure(*this);
}

int PdfView::addAnnotations(const std::vector<annot::Annotation>& list) {
  std::unordered_map<std::string, size_t> at;
  for (size_t i = 0; i < annotations.size(); ++i) at.emplace(annotations[i].id, i);
  int replaced = 0;
  std::vector<annot::Annotation> rows;
  rows.reserve(list.size());
  for (const annot::Annotation& a : list) {
    if (const auto it = at.find(a.id); it != at.end()) {
      annotations[it->second] = a;
      ++replaced;
    } else {
      at.emplace(a.id, annotations.size());
      annotations.push_back(a);
    }
    if (std::optional<annot::Annotation> row = storeRow(*this, a)) rows.push_back(std::move(*row));
  }
  const bool stored = rows.empty() || store->addAll(docHash, rows);
  viewport()->update();
  emit annotationsChanged();
  if (!stored) reportWriteFailure(*this);
  return replaced;
}

void PdfView::updateAnnotation(const annot::Annotation& a) {
  auto it = std::find_if(annotations.begin(), annotations.end(),
                         [&](const annot::Annotation& e) { return e.id == a.id; });
  if (it == annotations.end()) return;
  *it = a;
  const bool stored = persist(*this, a);
  viewport()->update();
  emit annotationsChanged();
  if (!stored) reportWriteFailure(*this);
}

void PdfView::removeAnnotation(const std::string& id) {
  // The caller may pass selectedId itself, which is emptied below.
  const std::string key = id;
  const auto gone = std::remove_if(annotations.begin(), annotations.end(),
                                   [&](const annot::Annotation& e) { return e.id == key; });
  if (gone == annotations.end()) return;
  annotations.erase(gone, annotations.end());
  const bool removed = unpersist(*this, key);
  if (selectedId == key) selectedId.clear();
  viewport()->update();
  emit annotationsChanged();
  if (!removed) reportRemoveFailure(*this);
}

void PdfView::clearAnnotations() {
  bool removed = true;
  for (const annot::Annotation& a : annotations) removed = unpersist(*this, a.id) && removed;
  annotations.clear();
  selectedId.clear();
  viewport()->update();
  emit annotationsChanged();
  if (!removed) reportRemoveFailure(*this);
}

void PdfView::eraseAt(QPointF contentPos) {
  int page = -1;
  annot::Point p;
  if (!contentToPage(contentPos, page, p)) return;
  for (auto it = annotations.rbegin(); it != annotations.rend(); ++it) {
    if (it->page != page || !annot::hit_test(*it, p, kHitTolerance)) continue;
    const std::string id = it->id;  // the entry goes away during the removal
    removeAnnotation(id);
    return;
  }
}

void PdfView::deleteSelected() {
  if (!selectedId.empty()) removeAnnotation(selectedId);
}

void PdfView::focusAnnotation(const std::string& id) {
  auto it = std::find_if(annotations.begin(), annotations.end(),
                         [&](const annot::Annotation& e) { return e.id == id; });
  if (it == annotations.end()) return;
  selectedId = id;
  // A path without points has no place on the page to scroll to (its box is a placeholder of
  // zeros, which the mapping would still turn into a pixel at the page's corner).
  const bool placed = !annot::uses_path(it->type) || !it->points.empty();
  const QRectF r = rectPdfToContent(it->page, annot::bounding_rect(*it));
  if (placed && r.width() > 0 && r.height() > 0) {
    // Truncated, and held within an int for absurdly large pages.
    verticalScrollBar()->setValue(static_cast<int>(std::clamp(r.top() - 80.0, 0.0, 2147483647.0)));
  }
  setFocus(Qt::OtherFocusReason);
  viewport()->update();
}

viewer::ResizeHandle PdfView::handleAt(const annot::Annotation& a, QPointF contentPos) const {
  using H = viewer::ResizeHandle;
  // Imported or stale annotations may name a page the document does not have.
  if (!validPage(*this, a.page)) return H::None;
  if (a.type == annot::AnnotType::Line || a.type == annot::AnnotType::Arrow) {
    if (a.points.size() < 2) return H::None;
    if (distance(contentPos, pagePointToContent(a.page, a.points[0])) <= kHandleRadius)
      return H::LineStart;
    if (distance(contentPos, pagePointToContent(a.page, a.points[1])) <= kHandleRadius)
      return H::LineEnd;
    return H::None;
  }
  if (annot::uses_path(a.type)) return H::None;
  if (pageTotalRot(a.page) != 0) return H::None;
  const QRectF r = rectPdfToContent(a.page, annot::bounding_rect(a));
  const double l = r.left(), t = r.top(), w = r.width(), h = r.height();
  // Content y grows downwards: the top of the view's box is the annotation's y1.
  const std::pair<QPointF, H> handles[8] = {
      {{l, t}, H::TopLeft},         {{l + w / 2, t}, H::Top},        {{l + w, t}, H::TopRight},
      {{l + w, t + h / 2}, H::Right}, {{l + w, t + h}, H::BottomRight}, {{l + w / 2, t + h}, H::Bottom},
      {{l, t + h}, H::BottomLeft},  {{l, t + h / 2}, H::Left}};
  for (const auto& [at, handle] : handles) {
    if (distance(contentPos, at) <= kHandleRadius) return handle;
  }
  return H::None;
}

}  // namespace quorvel::desktop
