// A document for viewer tests: pages of one known colour each, scripted text runs and links,
// page edits that really reorder its pages, and a record of what the view asked for.
#pragma once

#include <QColor>

#include <algorithm>
#include <string>
#include <vector>

#include "core/engine.h"

namespace quorvel::test {

struct FakePage {
  PageInfo info{600, 800, 0};
  QRgb color = qRgb(200, 220, 240);
  TextPage text;
  std::vector<Link> links;
};

class FakeDocument : public IDocument {
 public:
  struct RenderCall {
    int page;
    RenderRequest req;
  };

  std::vector<FakePage> pages;
  // Pages whose tiles come back empty, as a render failure does.
  std::vector<int> failingPages;
  bool editsFail = false;
  bool form = false;
  bool saveResult = true;

  mutable std::vector<RenderCall> renders;
  mutable int extractCalls = 0;
  mutable int linkCalls = 0;
  std::vector<std::string> calls;
  std::vector<annot::Annotation> savedAnnotations;
  std::string savedPath;
  std::vector<unsigned> typed;

  FakeDocument() = default;
  explicit FakeDocument(int n, PageInfo info = {600, 800, 0}) {
    for (int i = 0; i < n; ++i) pages.push_back(FakePage{info, colorOf(i), {}, {}});
  }

  // Distinct, easily told apart colours for the pages.
  static QRgb colorOf(int i) { return qRgb(40 + (i * 50) % 200, 200 - (i * 30) % 150, 90 + (i * 70) % 160); }

  int page_count() const override { return static_cast<int>(pages.size()); }
  PageInfo page_info(int page) const override {
    return valid(page) ? pages[static_cast<size_t>(page)].info : PageInfo{};
  }
  RenderedTile render_tile(int page, const RenderRequest& req) override {
    renders.push_back({page, req});
    RenderedTile t;
    if (!valid(page) || req.width <= 0 || req.height <= 0) return t;
    if (std::find(failingPages.begin(), failingPages.end(), page) != failingPages.end()) return t;
    t.width = req.width;
    t.height = req.height;
    t.pixels.resize(static_cast<size_t>(req.width) * static_cast<size_t>(req.height) * 4);
    const QRgb c = pages[static_cast<size_t>(page)].color;
    for (size_t i = 0; i < t.pixels.size(); i += 4) {
      t.pixels[i] = static_cast<uint8_t>(qBlue(c));
      t.pixels[i + 1] = static_cast<uint8_t>(qGreen(c));
      t.pixels[i + 2] = static_cast<uint8_t>(qRed(c));
      t.pixels[i + 3] = 0xFF;
    }
    return t;
  }
  TextPage extract_text(int page) const override {
    ++extractCalls;
    return valid(page) ? pages[static_cast<size_t>(page)].text : TextPage{};
  }
  DocMetadata metadata() const override { return {}; }
  std::vector<Link> links(int page) const override {
    ++linkCalls;
    return valid(page) ? pages[static_cast<size_t>(page)].links : std::vector<Link>{};
  }
  bool has_form() const override { return form; }
  void form_click(int page, double x, double y, bool down) override {
    calls.push_back("click " + std::to_string(page) + " " + std::to_string(static_cast<int>(x)) + " " +
                    std::to_string(static_cast<int>(y)) + (down ? " down" : " up"));
  }
  void form_char(unsigned unit) override { typed.push_back(unit); }
  bool save_as(const std::string& path, const std::vector<annot::Annotation>& annots) override {
    calls.push_back("save_as");
    savedPath = path;
    savedAnnotations = annots;
    return saveResult;
  }
  bool save_range(const std::string& path, int first, int last) override {
    calls.push_back("save_range " + std::to_string(first) + " " + std::to_string(last));
    savedPath = path;
    return saveResult;
  }
  bool delete_page(int page) override {
    calls.push_back("delete " + std::to_string(page));
    if (editsFail || !valid(page)) return false;
    pages.erase(pages.begin() + page);
    return true;
  }
  bool rotate_page(int page, int turns) override {
    calls.push_back("rotate " + std::to_string(page));
    if (editsFail || !valid(page)) return false;
    PageInfo& p = pages[static_cast<size_t>(page)].info;
    p.rotation = ((p.rotation / 90 + turns) & 3) * 90;
    return true;
  }
  bool move_page(int from, int to) override {
    calls.push_back("move " + std::to_string(from) + " " + std::to_string(to));
    if (editsFail || !valid(from) || !valid(to) || from == to) return false;
    FakePage p = pages[static_cast<size_t>(from)];
    pages.erase(pages.begin() + from);
    pages.insert(pages.begin() + to, p);
    return true;
  }
  bool insert_blank_page(int at, double w, double h) override {
    calls.push_back("insert " + std::to_string(at));
    if (editsFail || at < 0 || at > page_count() || w <= 0 || h <= 0) return false;
    pages.insert(pages.begin() + at, FakePage{{w, h, 0}, qRgb(255, 255, 255), {}, {}});
    return true;
  }
  bool crop_page(int page, double, double, double, double) override {
    calls.push_back("crop " + std::to_string(page));
    return !editsFail;
  }
  bool merge(std::span<const std::byte> pdf, int index) override {
    calls.push_back("merge " + std::to_string(index));
    if (editsFail || pdf.empty()) return false;
    pages.push_back(FakePage{});
    pages.push_back(FakePage{});
    return true;
  }

 private:
  bool valid(int page) const { return page >= 0 && page < page_count(); }
};

// A run whose characters are `text`'s bytes (ASCII), laid side by side from `left` at `bottom`,
// each `advance` wide and `height` tall.
inline TextRun asciiRun(const std::string& text, double left, double bottom, double advance = 6,
                        double height = 10) {
  TextRun r;
  r.text = text;
  r.left = left;
  r.bottom = bottom;
  r.top = bottom + height;
  r.right = left + advance * static_cast<double>(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const double x = left + advance * static_cast<double>(i);
    r.chars.push_back(CharBox{i, x, bottom + height, x + advance, bottom});
  }
  return r;
}

}  // namespace quorvel::test
