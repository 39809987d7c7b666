// A contract page as Qt's own PDF writer makes it, and poppler's reading of saved copies: what
// the page-content edits are checked on.
#pragma once

#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QString>
#include <QStringList>

#include <string>

#include "common/fixtures.h"

namespace quorvel::test {

inline const QStringList kContractLines = {
    QStringLiteral("Договор поставки № 17 от 01.02.2024 года"),
    QStringLiteral("ООО «Ромашка», тел. +7 (495) 123-45-67, e-mail: info@romashka.ru"),
    QStringLiteral("Счёт 40702810900000012345 в банке"),
    QStringLiteral("Ромашка обязуется поставить товар в срок"),
};

// One page of `lines` as Qt's PDF writer draws them, in DejaVu Sans of `pixels`, one line every
// `step` points from the top.
inline bool writeQtLines(const QString& path, const QStringList& lines, int pixels = 14, int step = 28) {
  QPdfWriter writer(path);
  writer.setResolution(72);
  QPainter painter(&writer);
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(pixels);
  painter.setFont(font);
  for (int i = 0; i < lines.size(); ++i) painter.drawText(60, 80 + i * step, lines[i]);
  return painter.end();
}

inline bool writeQtContract(const QString& path) { return writeQtLines(path, kContractLines); }

// Page 1 of the file as poppler draws it at 72 dpi.
inline QImage popplerPage(const QString& path, const TempDir& scratch) {
  const std::string stem = scratch.file("page");
  if (run_program({"pdftoppm", "-r", "72", "-f", "1", "-l", "1", "-singlefile", path.toStdString(), stem}) != 0)
    return {};
  return QImage(QString::fromStdString(stem + ".ppm"));
}

// Rows of pixels that differ between two pictures of one size, leaving out the rows from
// `skipFrom` to `skipTo` (picture rows, top first); -1 when the sizes differ.
inline int differingRows(const QImage& a, const QImage& b, int skipFrom = -1, int skipTo = -1) {
  if (a.size() != b.size() || a.isNull()) return -1;
  int rows = 0;
  for (int y = 0; y < a.height(); ++y) {
    if (y >= skipFrom && y <= skipTo) continue;
    for (int x = 0; x < a.width(); ++x) {
      if (qAbs(qGray(a.pixel(x, y)) - qGray(b.pixel(x, y))) > 24) {
        ++rows;
        break;
      }
    }
  }
  return rows;
}

}  // namespace quorvel::test
