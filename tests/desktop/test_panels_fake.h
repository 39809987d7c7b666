// A document of the panels' tests: pages of given sizes, each rendered in a colour of its own
// that follows the page through moves, page edits that really change the page list, an
// outline, and a count of the thumbnails rendered from it.
#pragma once

#include <QColor>
#include <QElapsedTimer>
#include <QIcon>
#include <QImage>
#include <QPixmap>

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include "core/engine.h"
#include "desktop/viewer/PdfView.h"

namespace quorvel::test {

struct FakePage {
  PageInfo info;
  uint32_t rgb = 0;    // 0x00RRGGBB painted over the whole tile
  bool fails = false;  // the engine gives no pixels for this page
};

class FakeDocument : public IDocument {
 public:
  explicit FakeDocument(std::vector<FakePage> pages, int* renders = nullptr)
      : pages(std::move(pages)), renders(renders) {}

  // n pages of 612 x 792 points; page i is painted in colourOf(i).
  static std::unique_ptr<FakeDocument> letter(int n, int* renders = nullptr) {
    std::vector<FakePage> p;
    for (int i = 0; i < n; ++i) p.push_back({{612, 792, 0}, colourOf(i)});
    return std::make_unique<FakeDocument>(std::move(p), renders);
  }
  static uint32_t colourOf(int page) { return 0x101010u * uint32_t(page % 15 + 1) ^ 0x00400000u; }

  int page_count() const override { return int(pages.size()); }
  PageInfo page_info(int page) const override {
    return page >= 0 && page < page_count() ? pages[size_t(page)].info : PageInfo{};
  }
  RenderedTile render_tile(int page, const RenderRequest& req) override {
    // The view paints through here too; only thumbnail-wide requests are the panel's.
    if (renders && req.width == 132) ++*renders;
    if (renderDelayUs > 0) {
      QElapsedTimer busy;
      busy.start();
      while (busy.nsecsElapsed() < renderDelayUs * 1000) {
      }
    }
    RenderedTile t;
    if (page < 0 || page >= page_count() || req.width <= 0 || req.height <= 0) return t;
    if (pages[size_t(page)].fails) return t;
    t.width = req.width;
    t.height = req.height;
    t.pixels.resize(size_t(req.width) * size_t(req.height) * 4);
    const uint32_t c = pages[size_t(page)].rgb;
    for (size_t i = 0; i < t.pixels.size(); i += 4) {
      t.pixels[i] = uint8_t(c);
      t.pixels[i + 1] = uint8_t(c >> 8);
      t.pixels[i + 2] = uint8_t(c >> 16);
      t.pixels[i + 3] = 0xFF;
    }
    return t;
  }
  TextPage extract_text(int) const override { return {}; }
  DocMetadata metadata() const override { return {}; }
  std::vector<OutlineItem> outline() const override {
    ++outlineReads;
    return bookmarks;
  }

  bool delete_page(int page) override {
    if (page < 0 || page >= page_count() || page_count() == 1) return false;
    pages.erase(pages.begin() + page);
    return true;
  }
  bool rotate_page(int page, int quarterTurns) override {
    if (page < 0 || page >= page_count()) return false;
    int& r = pages[size_t(page)].info.rotation;
    r = ((r / 90 + quarterTurns) % 4 + 4) % 4 * 90;
    return true;
  }
  bool move_page(int from, int to) override {
    if (from < 0 || to < 0 || from >= page_count() || to >= page_count()) return false;
    FakePage p = pages[size_t(from)];
    pages.erase(pages.begin() + from);
    pages.insert(pages.begin() + to, p);
    return true;
  }

  std::vector<FakePage> pages;
  std::vector<OutlineItem> bookmarks;
  mutable int outlineReads = 0;
  int* renders = nullptr;
  qint64 renderDelayUs = 0;  // makes each render as slow as a real page's
};

// The size and middle colour of an icon's image; an invalid colour for no image.
inline std::pair<QSize, QColor> iconImage(const QIcon& icon) {
  const QList<QSize> sizes = icon.availableSizes();
  if (icon.isNull() || sizes.isEmpty()) return {};
  const QImage img = icon.pixmap(sizes.first()).toImage();
  return {img.size(), img.pixelColor(img.width() / 2, img.height() / 2)};
}

}  // namespace quorvel::test
