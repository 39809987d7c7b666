// Painting of the viewer: page tiles, search hits, text selection, annotations, drag preview.
// Nothing is cached between paints: each one asks the document for the visible tiles again.
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QScrollBar>
#include <QTimer>

#include <QTransform>

#include <algorithm>
#include <cmath>
#include <limits>

#include "desktop/viewer/PdfView.h"

namespace quorvel::desktop {

namespace {

// How long a paint waits for the engine before it leaves a page to a later paint.
constexpr int kEngineWaitMs = 25;

const QColor kBackground(0x16, 0x16, 0x1f);
const QColor kFailedOutline(0xb0, 0xb0, 0xb0);
const QColor kHit(255, 235, 59, 110);
const QColor kActiveHit(255, 138, 0, 150);
const QColor kSelection(124, 92, 255, 90);
const QColor kNoteFill(255, 250, 205, 235);
const QColor kFreeTextFill(255, 255, 255, 40);
const QColor kSelectBlue(0x33, 0x66, 0xff);
const QColor kHighlightPreview(0xFF, 0xEB, 0x3B, 70);
const QColor kInkPreview(0xE5, 0x39, 0x35);
const QColor kEmptyText(0x6a, 0x70, 0x88);

QColor opaque(uint32_t rgb) { return QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF); }

QColor withAlpha(uint32_t rgb, int alpha) {
  QColor c = opaque(rgb);
  c.setAlpha(alpha);
  return c;
}

// An annotation box as the page shows it, whatever the turn of page and view: `base` is the
// box's lower-left page corner in viewport pixels, `along` the unit step in the direction the
// page's text runs, `down` the unit step from the box's top edge towards its bottom edge.
// Text marks follow `along`, so they lie along the text on a turned page too.
struct BoxFrame {
  QPointF base, along, down;
  double length = 0, height = 0;  // viewport pixels
  QPointF at(double t, double s) const { return base + t * along + s * down; }
  QTransform transform() const {
    return QTransform(along.x(), along.y(), down.x(), down.y(), base.x(), base.y());
  }
  // The stretch [from, to] of the box's length that lies within `view`, widened by `margin`;
  // empty when from >= to.
  void visibleStretch(const QRectF& view, double margin, double& from, double& to) const {
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (const QPointF& corner : {view.topLeft(), view.topRight(), view.bottomLeft(), view.bottomRight()}) {
      const double t = QPointF::dotProduct(corner - base, along);
      lo = std::min(lo, t);
      hi = std::max(hi, t);
    }
    from = std::max(0.0, lo - margin);
    to = std::min(length, hi + margin);
  }
};

BoxFrame boxFrame(const PdfView& v, const annot::Annotation& a, QPointF toView) {
  const double x0 = std::min(a.x0, a.x1), x1 = std::max(a.x0, a.x1);
  const double y0 = std::min(a.y0, a.y1), y1 = std::max(a.y0, a.y1);
  BoxFrame f;
  f.base = v.pagePointToContent(a.page, annot::Point{x0, y0}) + toView;
  // Unit steps from one page point, so a box of absurd size still has a finite direction.
  const QPointF right = v.pagePointToContent(a.page, annot::Point{x0 + 1, y0}) + toView - f.base;
  const QPointF up = v.pagePointToContent(a.page, annot::Point{x0, y0 + 1}) + toView - f.base;
  f.along = right / v.scale;
  f.down = -up / v.scale;
  f.length = (x1 - x0) * v.scale;
  f.height = (y1 - y0) * v.scale;
  return f;
}

}  // namespace

void PdfView::paintEvent(QPaintEvent* e) {
  QPainter p(viewport());
  const int vw = viewport()->width();
  const int vh = viewport()->height();
  const QRectF viewRect(0, 0, vw, vh);
  p.fillRect(viewRect, kBackground);

  if (!doc || layouts.empty()) {
    p.setPen(kEmptyText);
    p.drawText(viewRect, Qt::AlignCenter, tr("Нет страниц для отображения"));
    return;
  }

  const double hval = horizontalScrollBar()->value();
  const double vval = verticalScrollBar()->value();
  const QPointF toView(-hval, -vval);
  // Only the exposed part is rendered: an ink stroke repaints a few pixels, not the page.
  const QRectF visible =
      QRectF(hval, vval, vw, vh).intersected(QRectF(e ? e->rect() : viewRect.toRect()).translated(hval, vval));

  // Pages: one tile of exactly the visible part of each page. A paint waits for the engine only
  // briefly: a job's step may hold it (a whole save of a large edited document), and the window
  // must keep answering; a page it could not draw is drawn once the engine is free.
  int engineWaitMs = kEngineWaitMs;
  bool drawLater = false;
  for (size_t i = 0; i < layouts.size(); ++i) {
    const PageLayout& l = layouts[i];
    const QRectF v = QRectF(l.x, l.y, l.w, l.h).intersected(visible);
    if (!(v.width() > 0) || !(v.height() > 0)) continue;
    RenderRequest req;
    req.scale = scale;
    req.x = static_cast<int>(std::floor(v.x() - l.x));
    req.y = static_cast<int>(std::floor(v.y() - l.y));
    req.width = static_cast<int>(std::ceil(v.width()));
    req.height = static_cast<int>(std::ceil(v.height()));
    req.rotation = viewRotation;
    bool busy = false;
    const RenderedTile tile = doc->render_tile_soon(static_cast<int>(i), req, engineWaitMs, busy);
    // The tile starts on a whole device pixel of the page; placing it there keeps partial
    // repaints seamless.
    const QPointF at = QPointF(l.x + req.x, l.y + req.y) + toView;
    if (tile.width > 0 && tile.height > 0 &&
        tile.pixels.size() / 4 / static_cast<size_t>(tile.width) >= static_cast<size_t>(tile.height)) {
      // The engine renders onto white, so the pixels are opaque: RGB32 draws them unconverted.
      const QImage img(tile.pixels.data(), tile.width, tile.height, tile.width * 4,
                       QImage::Format_RGB32);
      p.drawImage(at, img);
    } else if (busy) {
      p.fillRect(QRectF(at, v.size()), Qt::white);
      engineWaitMs = 0;
      drawLater = true;
    } else {
      const QRectF box(at, v.size());
      p.fillRect(box, Qt::white);
      p.setPen(kFailedOutline);
      p.setBrush(Qt::NoBrush);
      p.drawRect(box);
    }
  }

  if (drawLater && !paintAgainPending) {
    paintAgainPending = true;
    QTimer::singleShot(kEngineWaitMs, this, [this] {
      paintAgainPending = false;
      viewport()->update();
    });
  }

  // Search hits.
  if (!highlights.empty()) {
    p.setPen(Qt::NoPen);
    for (size_t i = 0; i < highlights.size(); ++i) {
      const search::DocMatch& m = highlights[i];
      const QRectF r = matchRectContent(m.page, m).translated(toView);
      if (!(r.width() > 0) || !(r.height() > 0) || !r.intersects(viewRect)) continue;
      p.fillRect(r, static_cast<int>(i) == activeMatch ? kActiveHit : kHit);
    }
  }

  // Text selection.
  if (selPage >= 0 && selStart != selEnd) {
    const auto it = charCache.find(selPage);
    if (it != charCache.end()) {
      const std::vector<SelChar>& chars = it->second;
      const int from = std::max(0, std::min(selStart, selEnd));
      const int to = std::min(std::max(selStart, selEnd), static_cast<int>(chars.size()));
      for (int k = from; k < to; ++k) {
        const SelChar& c = chars[static_cast<size_t>(k)];
        const QRectF r = pdfRectToContent(selPage, c.x0, c.y0, c.x1, c.y1).translated(toView);
        if (r.intersects(viewRect)) p.fillRect(r, kSelection);
      }
    }
  }

  // Annotations, in list order so later ones lie on top. One on a page that does not exist
  // has no place to go and is left out.
  const int pageTotal = static_cast<int>(layouts.size());
  for (const annot::Annotation& a : annotations) {
    if (a.page < 0 || a.page >= pageTotal) continue;
    const QRectF R = rectPdfToContent(a.page, annot::Rect{a.x0, a.y0, a.x1, a.y1}).translated(toView);
    const bool shown = R.intersects(viewRect);
    auto P = [&](size_t k) { return pagePointToContent(a.page, a.points[k]) + toView; };
    const QColor c = opaque(a.color);
    const QColor cOpacity = withAlpha(a.color, a.opacity);
    const double w = std::max(a.width, 1.0);
    p.setBrush(Qt::NoBrush);

    switch (a.type) {
      case annot::AnnotType::Highlight:
        if (shown) p.fillRect(R, withAlpha(a.color, 110));
        break;
      case annot::AnnotType::Ink:
        if (a.points.size() >= 2) {
          p.setPen(QPen(c, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
          QPolygonF line;
          for (size_t k = 0; k < a.points.size(); ++k) line << P(k);
          p.drawPolyline(line);
        }
        break;
      case annot::AnnotType::Note: {
        const QPointF corner = pagePointToContent(a.page, annot::Point{a.x0, a.y1}) + toView;
        const QRectF icon(corner, QSizeF(16, 16));
        p.setPen(QPen(c.darker(140), 1.0));
        p.setBrush(c);
        p.drawRoundedRect(icon, 3, 3);
        p.setPen(Qt::black);
        p.drawText(icon, Qt::AlignCenter, QStringLiteral("!"));
        if (!a.text.empty()) {
          const QString text = QString::fromUtf8(a.text.data(), static_cast<qsizetype>(a.text.size()));
          const QRect measured =
              p.fontMetrics().boundingRect(QRect(0, 0, 320, 200), Qt::TextWordWrap, text);
          const QRectF popup(icon.right() + 6, icon.top(), measured.width() + 12,
                             measured.height() + 8);
          p.setPen(QPen(c.darker(140), 1.0));
          p.setBrush(kNoteFill);
          p.drawRoundedRect(popup, 4, 4);
          p.setPen(Qt::black);
          p.drawText(popup.adjusted(6, 4, -6, -4), Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop,
                     text);
        }
        break;
      }
      case annot::AnnotType::Underline:
      case annot::AnnotType::StrikeOut:
      case annot::AnnotType::Squiggly:
        if (shown) {
          p.setPen(QPen(cOpacity, w));
          const BoxFrame f = boxFrame(*this, a, toView);
          // Only the stretch in sight is traced: a box reaching far past the view (a stored or
          // imported one with absurd coordinates) would otherwise cost a path point per 4
          // pixels of its whole length, forever for an infinite one.
          double from = 0, to = 0;
          f.visibleStretch(viewRect, 8.0, from, to);
          if (!(from < to) || !std::isfinite(from) || !std::isfinite(to)) break;
          if (a.type == annot::AnnotType::Underline) {
            p.drawLine(f.at(from, -1), f.at(to, -1));
          } else if (a.type == annot::AnnotType::StrikeOut) {
            p.drawLine(f.at(from, -f.height / 2), f.at(to, -f.height / 2));
          } else {
            // The wave keeps its own phase whatever part of it is in sight.
            double t = from - std::fmod(from, 8.0);
            QPainterPath path(f.at(t, t == 0 ? -1 : 1.5));
            bool up = true;
            while (t < to) {
              t += 4;
              path.lineTo(f.at(t, up ? -3.5 : 1.5));
              up = !up;
            }
            p.drawPath(path);
          }
        }
        break;
      case annot::AnnotType::Rectangle:
        if (shown) {
          p.setPen(QPen(cOpacity, w));
          p.drawRect(R);
        }
        break;
      case annot::AnnotType::Ellipse:
        if (shown) {
          p.setPen(QPen(cOpacity, w));
          p.drawEllipse(R);
        }
        break;
      case annot::AnnotType::Line:
      case annot::AnnotType::Arrow:
        if (a.points.size() >= 2) {
          const QPen pen(cOpacity, w, Qt::SolidLine, Qt::RoundCap);
          p.setPen(pen);
          const QPointF from = P(0), to = P(1);
          p.drawLine(from, to);
          if (a.type == annot::AnnotType::Arrow) {
            const double angle = std::atan2(to.y() - from.y(), to.x() - from.x());
            const double len = 1.5 * a.width + 10;
            QPolygonF head;
            head << to << to - len * QPointF(std::cos(angle - 0.5), std::sin(angle - 0.5))
                 << to - len * QPointF(std::cos(angle + 0.5), std::sin(angle + 0.5));
            p.setBrush(cOpacity);
            p.drawPolygon(head, Qt::OddEvenFill);
          }
        }
        break;
      case annot::AnnotType::FreeText:
        if (shown) {
          // The box and its text turn with the page: the text wraps at the box's width along
          // the page's lines, not across them.
          const BoxFrame f = boxFrame(*this, a, toView);
          const QRectF box(0, -f.height, f.length, f.height);
          if (!box.isValid() || !std::isfinite(f.length) || !std::isfinite(f.height)) break;
          p.save();
          p.setTransform(f.transform(), true);
          p.setPen(QPen(cOpacity, w));
          p.setBrush(kFreeTextFill);
          p.drawRect(box);
          if (!a.text.empty()) {
            p.setPen(c);
            p.drawText(box.adjusted(4, 3, -4, -3), Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop,
                       QString::fromUtf8(a.text.data(), static_cast<qsizetype>(a.text.size())));
          }
          p.restore();
        }
        break;
      default:
        break;
    }

    if (!selectedId.empty() && selectedId == a.id) {
      const QRectF bounds = rectPdfToContent(a.page, annot::bounding_rect(a)).translated(toView);
      p.setBrush(Qt::NoBrush);
      p.setPen(QPen(kSelectBlue, 1.5, Qt::DashLine));
      p.drawRect(bounds.adjusted(-3, -3, 3, 3));

      std::vector<QPointF> handles;
      if (a.type == annot::AnnotType::Line || a.type == annot::AnnotType::Arrow) {
        for (size_t k = 0; k < std::min<size_t>(2, a.points.size()); ++k) handles.push_back(P(k));
      } else if (!annot::uses_path(a.type) && pageTotalRot(a.page) == 0) {
        const double L = bounds.x(), T = bounds.y(), W = bounds.width(), H = bounds.height();
        handles = {{L, T},         {L + W / 2, T}, {L + W, T},     {L + W, T + H / 2},
                   {L + W, T + H}, {L + W / 2, T + H}, {L, T + H}, {L, T + H / 2}};
      }
      p.setPen(QPen(Qt::white, 1.0));
      p.setBrush(kSelectBlue);
      for (const QPointF& h : handles) p.drawRect(QRectF(h.x() - 4, h.y() - 4, 8, 8));
    }
  }

  // Preview of a drawing drag.
  if (dragging && dragPage >= 0 && dragPage < pageTotal) {
    p.setPen(QPen(kSelectBlue, 1.0, Qt::DashLine));
    if (toolMode == Highlight) {
      const annot::Rect box{std::min(dragStart.x, dragCurrent.x), std::min(dragStart.y, dragCurrent.y),
                            std::max(dragStart.x, dragCurrent.x), std::max(dragStart.y, dragCurrent.y)};
      p.setBrush(kHighlightPreview);
      p.drawRect(rectPdfToContent(dragPage, box).translated(toView));
    } else if (toolMode == Ink && inkPoints.size() >= 2) {
      p.setBrush(Qt::NoBrush);
      p.setPen(QPen(kInkPreview, 2.0));
      QPolygonF line;
      for (const annot::Point& pt : inkPoints) line << pagePointToContent(dragPage, pt) + toView;
      p.drawPolyline(line);
    }
  }
}

void PdfView::setHighlights(std::vector<search::DocMatch> matches) {
  highlights = std::move(matches);
  activeMatch = highlights.empty() ? -1 : 0;
  viewport()->update();
}

void PdfView::clearHighlights() {
  highlights.clear();
  activeMatch = -1;
  viewport()->update();
}

void PdfView::setActiveMatch(int i) {
  if (i < 0 || i >= static_cast<int>(highlights.size())) return;
  activeMatch = i;
  const search::DocMatch& m = highlights[static_cast<size_t>(i)];
  const QRectF r = matchRectContent(m.page, m);
  if (!(r.width() > 0) || !(r.height() > 0)) {
    goToPage(m.page + 1);
  } else {
    verticalScrollBar()->setValue(scrollPixels(r.y() - 60));
    const int hval = horizontalScrollBar()->value();
    if (r.x() < hval || r.x() + r.width() > hval + viewport()->width())
      horizontalScrollBar()->setValue(scrollPixels(r.x() - 60));
  }
  viewport()->update();
}

}  // namespace quorvel::desktop
