// Images as page content: image files turned into the engine's pixels, and the image objects
// of one page listed, inserted, replaced and deleted (MainWindowPageTools.cpp).
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace quorvel::desktop {

class PdfView;

namespace pagetools {

// What insertPageWith makes and where it puts it.
enum InsertKind : int { BlankLikeCurrent = 0, BlankA4 = 1, FromImage = 2 };
enum InsertWhere : int { BeforeCurrent = 0, AtEnd = 1 };

// The image's rows top to bottom, four bytes a pixel in the order blue, green, red, alpha,
// alpha not multiplied in (what the engine's place_image takes). Empty when the file does not
// load as an image; the sizes are then left as they were.
std::vector<uint8_t> imageFileToBgra(const QString& path, int& width, int& height);

// One text per image object of the page, in the document's order; empty without images.
QStringList imageRows(PdfView& view, int page);

// Places the image centred on the page at half the page's width, keeping its aspect ratio.
bool insertImage(PdfView& view, int page, const QString& imagePath);

enum class Replaced { Nothing, Done, Failed };
// Puts the new image into the box of the image of `row` and takes the old one out. The new
// one is placed first, so a failed placement loses nothing; when the old one cannot be taken
// out, the new one is removed again and the result is Failed. Nothing: no such row, or the
// file does not load, or the placement failed and the page is as it was.
Replaced replaceImage(PdfView& view, int page, int row, const QString& imagePath);

bool deleteImage(PdfView& view, int page, int row);

}  // namespace pagetools
}  // namespace quorvel::desktop
