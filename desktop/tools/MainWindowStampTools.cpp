// Tools that write onto every page of the open document and save the result as a new file:
// a diagonal translucent watermark, page numbers and Bates numbers. Each runs as a job of the
// window, off its thread.
#include <QFileDialog>
#include <QFont>
#include <QInputDialog>
#include <QLineEdit>
#include <QPainter>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "desktop/tools/LocalTools.h"
#include "desktop/window/MainWindow.h"
#include "desktop/viewer/PdfView.h"
#include "desktop/window/JobRunner.h"
#include "desktop/window/lang.h"

namespace quorvel::desktop {

namespace {

std::string utf8(const QString& s) { return s.toStdString(); }

// A square of `side` pixels, transparent but for the text drawn across its diagonal.
QImage watermarkImage(const QString& text, int side) {
  QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
  if (image.isNull()) return {};
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing, true);
  QFont font = painter.font();
  font.setPointSizeF(side / 12.0);
  font.setWeight(QFont::Bold);
  painter.setFont(font);
  painter.setPen(QColor(170, 170, 170, 110));
  painter.translate(side * 0.5, side * 0.5);
  painter.rotate(-45.0);
  painter.drawText(QRect(-(side / 2), -(side / 8), side, side / 4), Qt::AlignCenter, text);
  painter.end();
  return image;
}

// Stamps page after page until the job is cancelled, announcing each page stamped; gives how
// many were.
int stampEveryPage(IDocument& doc, JobControl& job, const std::function<bool(IDocument&, int)>& stamp) {
  const int n = doc.page_count();
  int count = 0;
  for (int i = 0; i < n && !job.cancelled(); ++i) {
    if (stamp(doc, i)) {
      job.pageEdited(i);
      ++count;
    }
    job.progress(i + 1, n);
  }
  return count;
}

// The number padded with zeros to at least `digits` digits, wider numbers kept whole.
QString batesNumber(qint64 n, int digits) {
  const QString d = QString::number(n < 0 ? -n : n).rightJustified(std::max(0, digits), QLatin1Char('0'));
  return n < 0 ? QLatin1Char('-') + d : d;
}

}  // namespace

void MainWindow::watermarkTo(const QString& text, const QString& outPath) {
  PdfView* view = currentView();
  if (!view || !view->doc || text.isEmpty() || outPath.isEmpty()) return;
  const QString failed = L("Не удалось добавить водяной знак", "Could not add the watermark");
  runDocumentTool(
      *this, *view, L("Водяной знак…", "Watermark…"), outPath,
      [text](IDocument& doc, JobControl& job) {
        // The square depends only on its side, so pages whose shorter sides agree share one.
        std::vector<IDocument::Picture> pictures;
        std::map<int, int> pictureOfSide;
        std::vector<IDocument::PicturePlacement> placements;
        const int n = doc.page_count();
        for (int i = 0; i < n && !job.cancelled(); ++i) {
          const PageInfo info = doc.page_info(i);
          const double shorter = std::min(info.width, info.height) * 1.2;
          if (!(shorter >= 1.0) || shorter > 1e6) continue;
          const int side = static_cast<int>(shorter);
          auto it = pictureOfSide.find(side);
          if (it == pictureOfSide.end()) {
            std::vector<uint8_t> pixels = straightBgra(watermarkImage(text, side));
            if (pixels.empty()) continue;
            pictures.push_back({side, side, std::move(pixels)});
            it = pictureOfSide.emplace(side, static_cast<int>(pictures.size()) - 1).first;
          }
          const double x0 = (info.width - side) * 0.5, y0 = (info.height - side) * 0.5;
          placements.push_back({i, it->second, x0, y0, x0 + side, y0 + side});
        }
        if (job.cancelled()) return 0;
        const int drawn = doc.place_shared_pictures(pictures, placements, [&job](int percent) {
          job.progress(percent, 100);
          return !job.cancelled();
        });
        if (drawn > 0) {
          for (const IDocument::PicturePlacement& p : placements) job.pageEdited(p.page);
        }
        return drawn;
      },
      {failed, failed, {}},
      [outPath](int count) { return L("Водяной знак на %1 стр. → %2", "Watermark on %1 page(s) → %2").arg(count).arg(outPath); });
}

void MainWindow::watermarkDialog() {
  PdfView* view = currentView();
  if (!view || !view->doc) return;
  bool ok = false;
  const QString text = QInputDialog::getText(this, L("Водяной знак", "Watermark"), L("Текст:", "Text:"),
                                             QLineEdit::Normal, QStringLiteral("КОПИЯ"), &ok);
  if (!ok || text.isEmpty()) return;
  const QString out = QFileDialog::getSaveFileName(this, L("Сохранить PDF с водяным знаком", "Save watermarked PDF"),
                                                   QStringLiteral("watermarked.pdf"), QStringLiteral("PDF (*.pdf)"));
  if (out.isEmpty()) return;
  watermarkTo(text, out);
}

void MainWindow::pageNumbersTo(const QString& outPath) {
  PdfView* view = currentView();
  if (!view || !view->doc || outPath.isEmpty()) return;
  const QString failed = L("Не удалось проставить номера страниц", "Could not add page numbers");
  runDocumentTool(
      *this, *view, L("Номера страниц…", "Page numbers…"), outPath,
      [](IDocument& doc, JobControl& job) {
        const int total = doc.page_count();
        return stampEveryPage(doc, job, [total](IDocument& d, int i) {
          const QString text = QStringLiteral("%1 / %2").arg(i + 1).arg(total);
          const PageInfo info = d.page_info(i);
          return d.stamp_text(i, utf8(text), 10.0, 0, 0, 0, 255, info.width * 0.5 - 16, 18.0, 0.0);
        });
      },
      {failed, failed, {}},
      [outPath](int count) {
        return L("Номера страниц на %1 стр. → %2", "Page numbers on %1 page(s) → %2").arg(count).arg(outPath);
      });
}

void MainWindow::batesStampTo(const QString& prefix, int start, int digits, const QString& outPath) {
  PdfView* view = currentView();
  if (!view || !view->doc || outPath.isEmpty()) return;
  const QString failed = L("Не удалось проставить нумерацию Бейтса", "Could not apply Bates numbering");
  runDocumentTool(
      *this, *view, L("Нумерация Бейтса…", "Bates numbering…"), outPath,
      [prefix, start, digits](IDocument& doc, JobControl& job) {
        return stampEveryPage(doc, job, [&](IDocument& d, int i) {
          // A start near the top of int must not wrap: the numbers run on in 64 bits.
          const QString text = prefix + batesNumber(qint64{start} + i, digits);
          const PageInfo info = d.page_info(i);
          const double x = std::max(12.0, info.width - 24 - text.size() * 9 * 0.55);
          // Text beyond Latin-1 takes the engine's TrueType font; without one the page is refused.
          return d.stamp_text(i, utf8(text), 9.0, 0, 0, 0, 255, x, 18.0, 0.0);
        });
      },
      {failed, failed, {}},
      [outPath](int count) {
        return L("Нумерация Бейтса на %1 стр. → %2", "Bates numbering on %1 page(s) → %2").arg(count).arg(outPath);
      });
}

void MainWindow::batesDialog() {
  PdfView* view = currentView();
  if (!view || !view->doc) return;
  bool ok = false;
  const QString title = L("Нумерация Бейтса", "Bates numbering");
  const QString prefix = QInputDialog::getText(this, title, L("Префикс:", "Prefix:"), QLineEdit::Normal,
                                               QStringLiteral("TAVI"), &ok);
  if (!ok) return;
  const int start = QInputDialog::getInt(this, title, L("Начальный номер:", "Start number:"), 1, 0, 1000000000, 1, &ok);
  if (!ok) return;
  const QString out = QFileDialog::getSaveFileName(
      this, L("Сохранить PDF с нумерацией Бейтса", "Save PDF with Bates numbering"), QStringLiteral("bates.pdf"),
      QStringLiteral("PDF (*.pdf)"));
  if (out.isEmpty()) return;
  batesStampTo(prefix, start, 6, out);
}

}  // namespace quorvel::desktop
