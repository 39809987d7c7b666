// A document that is nothing but the text runs of its pages, for code that only reads text.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "core/engine.h"

namespace quorvel::test {

class TextDoc : public IDocument {
 public:
  explicit TextDoc(std::vector<TextPage> pages) : pages_(std::move(pages)) {}
  // One run per page.
  static TextDoc of_texts(const std::vector<std::string>& texts) {
    std::vector<TextPage> pages;
    for (const std::string& t : texts) pages.push_back(TextPage{{TextRun{t, 0, 0, 0, 0, {}}}});
    return TextDoc(std::move(pages));
  }
  int page_count() const override { return static_cast<int>(pages_.size()); }
  PageInfo page_info(int) const override { return {}; }
  RenderedTile render_tile(int, const RenderRequest&) override { return {}; }
  TextPage extract_text(int page) const override {
    ++reads;
    if (page < 0 || page >= page_count()) return {};
    return pages_[static_cast<size_t>(page)];
  }
  DocMetadata metadata() const override { return {}; }
  // How often text was read, for checks that a search stops early.
  mutable int reads = 0;

 private:
  std::vector<TextPage> pages_;
};

}  // namespace quorvel::test
