// A real document behind a stand-in that can be told to refuse single operations or to show
// another outline, for the failures a real file cannot be made to produce.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "core/engine.h"

namespace quorvel::test {

class ForwardingDocument : public IDocument {
 public:
  explicit ForwardingDocument(std::unique_ptr<IDocument> inner) : in(std::move(inner)) {}

  std::optional<std::vector<OutlineItem>> outlineOverride;
  bool placeFails = false;
  // redact claims every box painted and leaves the page as it is.
  bool redactClaimsOnly = false;
  // Asked before each delete_image; false refuses it.
  std::function<bool(int page, int index)> deleteAllowed;
  // How often ranges were asked for one by one, and in batches that read the document once.
  int singleRanges = 0;
  int rangeBatches = 0;

  int page_count() const override { return in->page_count(); }
  uint64_t revision() const override { return in->revision(); }
  PageInfo page_info(int page) const override { return in->page_info(page); }
  RenderedTile render_tile(int page, const RenderRequest& req) override { return in->render_tile(page, req); }
  RenderedTile render_tile_soon(int page, const RenderRequest& req, int wait_ms, bool& busy) override {
    return in->render_tile_soon(page, req, wait_ms, busy);
  }
  TextPage extract_text(int page) const override { return in->extract_text(page); }
  DocMetadata metadata() const override { return in->metadata(); }
  std::vector<OutlineItem> outline() const override { return outlineOverride ? *outlineOverride : in->outline(); }
  std::vector<Link> links(int page) const override { return in->links(page); }
  bool save_as(const std::string& path, const std::vector<annot::Annotation>& annots) override {
    return in->save_as(path, annots);
  }
  bool delete_page(int page) override { return in->delete_page(page); }
  bool save_range(const std::string& path, int first, int last) override {
    ++singleRanges;
    return in->save_range(path, first, last);
  }
  std::vector<bool> save_ranges(const std::vector<PageRangeFile>& parts) override {
    ++rangeBatches;
    return in->save_ranges(parts);
  }
  std::vector<int> unreadable_pages() const override { return in->unreadable_pages(); }
  bool insert_blank_page(int index, double w, double h) override { return in->insert_blank_page(index, w, h); }
  std::vector<ImageRef> list_images(int page) override { return in->list_images(page); }
  bool delete_image(int page, int index) override {
    if (deleteAllowed && !deleteAllowed(page, index)) return false;
    return in->delete_image(page, index);
  }
  bool crop_page(int page, double x0, double y0, double x1, double y1) override {
    return in->crop_page(page, x0, y0, x1, y1);
  }
  int redact(int page, const std::vector<annot::Rect>& boxes) override {
    if (redactClaimsOnly) return static_cast<int>(boxes.size());
    return in->redact(page, boxes);
  }
  std::vector<std::optional<std::string>> shown_texts(const std::vector<int>& pages) override {
    return in->shown_texts(pages);
  }
  std::vector<int> redact_pages(const std::vector<std::pair<int, std::vector<annot::Rect>>>& pages) override {
    if (redactClaimsOnly) return IDocument::redact_pages(pages);
    return in->redact_pages(pages);
  }
  int add_text_layer(int page, const std::vector<TextSpan>& words) override { return in->add_text_layer(page, words); }
  std::vector<int> add_text_layers(const std::vector<std::pair<int, std::vector<TextSpan>>>& pages,
                                   std::optional<uint64_t> since) override {
    return in->add_text_layers(pages, since);
  }
  int replace_text(int page, const std::string& find, const std::string& replacement) override {
    return in->replace_text(page, find, replacement);
  }
  std::vector<int> replace_text_pages(const std::vector<int>& pages, const std::string& find,
                                      const std::string& replacement) override {
    return in->replace_text_pages(pages, find, replacement);
  }
  std::map<int, TextReplacement> replace_text_everywhere(const std::vector<int>& pages, const std::string& find,
                                                         const std::string& replacement) override {
    return in->replace_text_everywhere(pages, find, replacement);
  }
  bool place_image(int page, const uint8_t* bgra, int w, int h, double x0, double y0, double x1,
                   double y1) override {
    if (placeFails) return false;
    return in->place_image(page, bgra, w, h, x0, y0, x1, y1);
  }
  int place_shared_pictures(const std::vector<Picture>& pictures, const std::vector<PicturePlacement>& placements,
                            const std::function<bool(int)>& progress) override {
    return in->place_shared_pictures(pictures, placements, progress);
  }
  bool stamp_text(int page, const std::string& text, double size, int r, int g, int b, int a, double x, double y,
                  double angle) override {
    return in->stamp_text(page, text, size, r, g, b, a, x, y, angle);
  }

  std::unique_ptr<IDocument> in;
};

}  // namespace quorvel::test
