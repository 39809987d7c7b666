// Mouse and keyboard tools of the viewer: making annotations, moving and resizing them, text
// selection, links, form input and typing text into a page.
#include <QApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QInputDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPointer>
#include <QScrollBar>
#include <QUrl>
#include <QUuid>

#include <algorithm>
#include <cmath>

#include "desktop/viewer/PdfView.h"

namespace quorvel::desktop {

namespace {

constexpr double kHitTolerance = 4.0;   // page points
constexpr int kTripleClickReach = 7;    // viewport pixels, Manhattan
constexpr double kInsertFontSize = 12.0;

std::vector<annot::Annotation>::iterator findId(std::vector<annot::Annotation>& list,
                                                 const std::string& id) {
  return std::find_if(list.begin(), list.end(),
                      [&](const annot::Annotation& a) { return a.id == id; });
}

// The topmost annotation of the page under a page point, or null.
const annot::Annotation* topmostHit(const std::vector<annot::Annotation>& list, int page,
                                    const annot::Point& p) {
  for (auto it = list.rbegin(); it != list.rend(); ++it) {
    if (it->page == page && annot::hit_test(*it, p, kHitTolerance)) return &*it;
  }
  return nullptr;
}

// The tools' modal input dialogs. False when cancelled, and when the view was destroyed while
// the dialog ran (the caller must then touch nothing of it).
bool askMultiLine(QPointer<PdfView>& view, const QString& title, const QString& label,
                  const QString& initial, QString& text) {
  bool ok = false;
  text = QInputDialog::getMultiLineText(view, title, label, initial, &ok);
  return ok && view;
}

bool askStamp(QPointer<PdfView>& view, QString& text) {
  const QStringList words = {PdfView::tr("УТВЕРЖДЕНО"), PdfView::tr("ЧЕРНОВИК"),
                             PdfView::tr("ОПЛАЧЕНО"),   PdfView::tr("КОПИЯ"),
                             PdfView::tr("СОГЛАСОВАНО"), PdfView::tr("СРОЧНО")};
  bool ok = false;
  text = QInputDialog::getItem(view, PdfView::tr("Штамп"), PdfView::tr("Текст штампа:"), words, 0,
                               true, &ok);
  return ok && view;
}

// A document's link opens at once only for the web and mail; any other scheme (local files,
// shares, registered handlers) runs something on this machine, so the user sees the address
// and decides.
void openDocumentUri(QPointer<PdfView> view, const std::string& uri) {
  const QString raw = QString::fromUtf8(uri.data(), static_cast<qsizetype>(uri.size()));
  const QUrl url(raw, QUrl::TolerantMode);
  if (!url.isValid() || url.isEmpty()) return;
  const QString scheme = url.scheme().toLower();
  if (scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
      scheme == QLatin1String("mailto")) {
    QDesktopServices::openUrl(url);
    return;
  }
  // A hostile document may carry an address of any length; the dialog shows both of its ends.
  constexpr qsizetype kShown = 400;
  const QString shown = raw.size() <= kShown
                            ? raw
                            : raw.left(kShown / 2) + QChar(0x2026) + raw.right(kShown / 2);
  QPointer<QMessageBox> box = new QMessageBox(
      QMessageBox::Question, PdfView::tr("Ссылка"),
      PdfView::tr("Документ предлагает открыть адрес:\n\n%1\n\nОн откроется не в браузере, а "
                  "в другой программе. Открыть?")
          .arg(shown),
      QMessageBox::Yes | QMessageBox::No, view);
  box->setTextFormat(Qt::PlainText);
  box->setDefaultButton(QMessageBox::No);
  const int answer = box->exec();
  delete box.data();  // null when the view took it along
  if (view && answer == QMessageBox::Yes) QDesktopServices::openUrl(url);
}

// The code units of typed text that a form field takes: printable characters, a character
// outside the basic plane as its two units.
std::vector<char16_t> printableUnits(const QString& text) {
  std::vector<char16_t> out;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text.at(i);
    if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
      const QChar low = text.at(i + 1);
      if (QChar::isPrint(QChar::surrogateToUcs4(c, low))) {
        out.push_back(c.unicode());
        out.push_back(low.unicode());
      }
      ++i;
    } else if (c.isPrint()) {
      out.push_back(c.unicode());
    }
  }
  return out;
}

// The viewport pixels that the preview's stroke from a to b covers, with room for its pen.
QRect strokePieceRect(const PdfView& v, int page, const annot::Point& a, const annot::Point& b) {
  const QPointF scroll(v.horizontalScrollBar()->value(), v.verticalScrollBar()->value());
  const QPointF from = v.pagePointToContent(page, a) - scroll;
  const QPointF to = v.pagePointToContent(page, b) - scroll;
  return QRectF(from, to).normalized().adjusted(-4, -4, 4, 4).toAlignedRect();
}

// Virtual key codes of the form filler for the editing keys it handles itself.
int formKeyCode(int qtKey) {
  switch (qtKey) {
    case Qt::Key_Backspace: return 8;
    case Qt::Key_Delete: return 46;
    case Qt::Key_Home: return 36;
    case Qt::Key_End: return 35;
    case Qt::Key_Left: return 37;
    case Qt::Key_Right: return 39;
    default: return 0;
  }
}

}  // namespace

void PdfView::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) {
    QAbstractScrollArea::mousePressEvent(e);
    return;
  }
  const QPointF c = eventContentPos(e);
  int page = -1;
  annot::Point p;
  const bool onPage = contentToPage(c, page, p);

  if (toolMode == Eraser) {
    eraseAt(c);
    return;
  }
  if (viewer::drawsOnPage(toolMode)) {
    if (!onPage) return;
    dragging = true;
    dragPage = page;
    dragStart = dragCurrent = p;
    inkPoints.clear();
    if (toolMode == Ink) inkPoints.push_back(p);
    viewport()->update();
    return;
  }
  if (toolMode != Select) {
    QAbstractScrollArea::mousePressEvent(e);
    return;
  }

  // In a form the select tool belongs to the form: no annotation, link or text is picked.
  if (doc && doc->has_form()) {
    setFocus(Qt::OtherFocusReason);
    if (onPage) {
      doc->form_click(page, p.x, p.y, true);
      formPage = page;
    }
    viewport()->update();
    return;
  }
  setFocus(Qt::OtherFocusReason);

  if (lastClickMs != 0 &&
      QDateTime::currentMSecsSinceEpoch() - lastClickMs < QApplication::doubleClickInterval() &&
      (e->position().toPoint() - lastClickPos).manhattanLength() <= kTripleClickReach) {
    lastClickMs = 0;
    if (onPage) {
      pageChars(page);
      const int index = nearestChar(page, p);
      if (index >= 0) {
        selectLineAt(page, index);
        return;
      }
    }
  }

  if (!onPage) {
    selectedId.clear();
    clearTextSelection();
    return;
  }

  if (!selectedId.empty()) {
    auto it = findId(annotations, selectedId);
    if (it != annotations.end()) {
      if (const viewer::ResizeHandle handle = handleAt(*it, c);
          handle != viewer::ResizeHandle::None) {
        resizeHandle = handle;
        pressPoint = p;
        // A box reaching past its page's edge may have a handle over the neighbouring page:
        // the press is then measured in the annotation's own page, or the first move would
        // make it jump by the distance between the two pages.
        if (page != it->page) {
          const PageLayout& own = layouts[static_cast<size_t>(it->page)];
          deviceOffsetToPdf(it->page, c.x() - own.x, c.y() - own.y, pressPoint.x, pressPoint.y);
        }
        pressCopy = *it;
        return;
      }
    }
  }

  if (const annot::Annotation* hit = topmostHit(annotations, page, p)) {
    clearTextSelection();
    selectedId = hit->id;
    movingAnnotation = true;
    pressPoint = p;
    pressCopy = *findId(annotations, selectedId);
    viewport()->update();
    return;
  }

  for (const Link& l : pageLinks(page)) {
    if (p.x < std::min(l.x0, l.x1) || p.x > std::max(l.x0, l.x1) || p.y < std::min(l.y0, l.y1) ||
        p.y > std::max(l.y0, l.y1))
      continue;
    if (l.page >= 0) {
      navigateToPage(l.page + 1);
    } else if (!l.uri.empty()) {
      const std::string uri = l.uri;  // the cache may change while a dialog runs
      openDocumentUri(this, uri);
    }
    return;
  }

  selectedId.clear();
  pageChars(page);
  const int index = nearestChar(page, p);
  if (index >= 0) {
    selecting = true;
    setTextSelection(page, index, index);
  } else {
    clearTextSelection();
  }
}

void PdfView::mouseMoveEvent(QMouseEvent* e) {
  const QPointF c = eventContentPos(e);
  int page = -1;
  annot::Point p;
  const bool onPage = contentToPage(c, page, p);

  if (resizeHandle != viewer::ResizeHandle::None || movingAnnotation) {
    // Recomputed from the copy taken at the press, so rounding never accumulates.
    if (onPage && page == pressCopy.page) {
      annot::Annotation moved = pressCopy;
      const double dx = p.x - pressPoint.x, dy = p.y - pressPoint.y;
      if (resizeHandle != viewer::ResizeHandle::None)
        viewer::resizeByHandle(moved, resizeHandle, dx, dy);
      else
        shiftAnnotation(moved, dx, dy);
      auto it = findId(annotations, moved.id);
      if (it != annotations.end()) *it = std::move(moved);
      viewport()->update();
    }
    return;
  }
  if (selecting && selPage >= 0) {
    if (onPage && page == selPage) {
      const int index = nearestChar(selPage, p);
      if (index >= 0) setTextSelection(selPage, selStart, index);
    }
    viewport()->update();
    return;
  }
  if (toolMode == Eraser && (e->buttons() & Qt::LeftButton)) {
    eraseAt(c);
    return;
  }
  if (!dragging) {
    QAbstractScrollArea::mouseMoveEvent(e);
    return;
  }
  if (onPage && page == dragPage) {
    dragCurrent = p;
    if (toolMode == Ink) {
      const annot::Point previous = inkPoints.empty() ? p : inkPoints.back();
      inkPoints.push_back(p);
      // Only the stroke's new piece changes on screen; repainting all of the viewport would
      // have the visible pages rendered again for every pointer move.
      viewport()->update(strokePieceRect(*this, dragPage, previous, p));
      return;
    }
  }
  viewport()->update();
}

void PdfView::mouseReleaseEvent(QMouseEvent* e) {
  if (resizeHandle != viewer::ResizeHandle::None || movingAnnotation) {
    // The live edit is persisted once, here.
    resizeHandle = viewer::ResizeHandle::None;
    movingAnnotation = false;
    auto it = findId(annotations, pressCopy.id);
    if (it != annotations.end()) {
      const annot::Annotation edited = *it;
      updateAnnotation(edited);
    } else {
      emit annotationsChanged();
    }
    return;
  }
  if (selecting) {
    selecting = false;
    return;
  }
  if (toolMode == Select && doc && doc->has_form() && e->button() == Qt::LeftButton) {
    int page = -1;
    annot::Point p;
    if (contentToPage(eventContentPos(e), page, p)) {
      doc->form_click(page, p.x, p.y, false);
      formPage = page;
      // A click may tick a box or pick a choice.
      pageContentEdited(page);
    }
    viewport()->update();
    return;
  }
  if (!dragging) {
    QAbstractScrollArea::mouseReleaseEvent(e);
    return;
  }

  dragging = false;
  // Taken now: a dialog below runs a nested event loop.
  const int page = dragPage;
  const annot::Point start = dragStart, end = dragCurrent;
  const int mode = toolMode;
  QPointer<PdfView> self(this);

  viewer::Gesture g{mode, page, start, end, inkPoints, {penColor, highlightColor, penWidth}, {}};
  if (page >= 0 && viewer::gestureAsksText(g)) {
    QString text;
    bool given = false;
    if (mode == Stamp)
      given = askStamp(self, text);
    else if (mode == AddText)
      given = askMultiLine(self, tr("Добавить текст"), tr("Текст (станет частью страницы):"), {},
                           text);
    else if (mode == Note)
      given = askMultiLine(self, tr("Заметка"), tr("Текст заметки:"), {}, text);
    else
      given = askMultiLine(self, tr("Текст"), tr("Введите текст:"), {}, text);
    if (!self) return;
    if (given) g.text = text.toStdString();
  }
  if (mode == AddText) {
    // Typed text becomes part of the page rather than an annotation over it.
    if (!g.text.empty() && doc && page >= 0 && page < pageCount() &&
        doc->insert_text(page, g.text, end.x, end.y, kInsertFontSize, 0))
      pageContentEdited(page);
  } else if (std::optional<annot::Annotation> a = viewer::annotationFromGesture(g)) {
    a->id = QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString();
    addAnnotation(*a);
  }
  inkPoints.clear();
  dragPage = -1;
  viewport()->update();
}

void PdfView::mouseDoubleClickEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton || toolMode != Select) {
    QAbstractScrollArea::mouseDoubleClickEvent(e);
    return;
  }
  int page = -1;
  annot::Point p;
  if (!contentToPage(eventContentPos(e), page, p)) return;

  if (const annot::Annotation* hit = topmostHit(annotations, page, p)) {
    if (hit->type == annot::AnnotType::Note || hit->type == annot::AnnotType::FreeText) {
      annot::Annotation edited = *hit;
      // The press of this second click began a move; left running, it would put the copy from
      // before the edit back on the next mouse move.
      movingAnnotation = false;
      resizeHandle = viewer::ResizeHandle::None;
      QPointer<PdfView> self(this);
      QString text;
      const bool ok = askMultiLine(self, tr("Заметка"), tr("Текст:"),
                                   QString::fromUtf8(edited.text.data(),
                                                     static_cast<qsizetype>(edited.text.size())),
                                   text);
      if (!self) return;
      if (ok) {
        edited.text = text.toStdString();
        updateAnnotation(edited);
      }
      e->accept();
      return;
    }
  }

  pageChars(page);
  const int index = nearestChar(page, p);
  if (index >= 0) selectWordAt(page, index);
  lastClickMs = QDateTime::currentMSecsSinceEpoch();
  lastClickPos = e->position().toPoint();
  e->accept();
}

void PdfView::keyPressEvent(QKeyEvent* e) {
  if (e->matches(QKeySequence::Copy) && selPage >= 0 && selStart != selEnd) {
    copySelection();
    e->accept();
    return;
  }
  if (e->matches(QKeySequence::SelectAll) && doc) {
    const int index = std::max(0, currentPage() - 1);
    const std::vector<SelChar>& chars = pageChars(index);
    if (!chars.empty()) {
      selectedId.clear();
      setTextSelection(index, 0, static_cast<int>(chars.size()));
    }
    e->accept();
    return;
  }
  if (doc && doc->has_form()) {
    if (const int code = formKeyCode(e->key())) {
      doc->form_key(code, true);
      pageContentEdited(formPage);
      viewport()->update();
      e->accept();
      return;
    }
    const std::vector<char16_t> units = printableUnits(e->text());
    if (!units.empty()) {
      for (char16_t u : units) doc->form_char(u);
      pageContentEdited(formPage);
      viewport()->update();
      e->accept();
      return;
    }
    QAbstractScrollArea::keyPressEvent(e);
    return;
  }
  if ((e->key() == Qt::Key_Backspace || e->key() == Qt::Key_Delete) && !selectedId.empty()) {
    removeAnnotation(selectedId);
    e->accept();
    return;
  }
  QAbstractScrollArea::keyPressEvent(e);
}

}  // namespace quorvel::desktop
