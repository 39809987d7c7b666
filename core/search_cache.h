// Page text that search keeps between searches of one document, within a memory bound, so that
// a second search need not read the pages again.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/engine.h"
#include "core/text_runs.h"

namespace quorvel::search {

using Box = textruns::Rect;

// A page's text as search keeps it: the run texts and boxes, and each character's box in a
// third of the room a CharBox takes, to within 1/100 point on a page-wide line.
class CachedPage {
 public:
  explicit CachedPage(const TextPage& page);

  size_t run_count() const { return runs_.size(); }
  std::string_view text(size_t run) const;
  Box box(size_t run) const { return runs_[run].box; }
  // The union of the boxes of the run's characters whose offset lies in [begin, end); false
  // when there is none.
  bool chars_box(size_t run, size_t begin, size_t end, Box& out) const;
  std::vector<CharBox> chars(size_t run) const;
  // What the page takes in memory.
  size_t bytes() const;

 private:
  struct Run {
    size_t text_begin = 0, text_end = 0;
    size_t chars_begin = 0, chars_end = 0;
    Box box;
    Box frame;  // what the character boxes are measured in: the run's box and every character's
  };
  struct Char {
    uint32_t offset = 0;
    uint16_t left = 0, top = 0, right = 0, bottom = 0;
  };
  std::string text_;  // the run texts, one after the other
  std::vector<Run> runs_;
  std::vector<Char> chars_;
};

// A memory bound that several caches may share: the documents of one window draw on one sum.
class TextBudget {
 public:
  explicit TextBudget(size_t bytes) : limit_(bytes) {}
  // False, taking nothing, when `bytes` do not fit.
  bool take(size_t bytes);
  void give(size_t bytes) { used_ -= bytes; }
  size_t used() const { return used_; }

 private:
  std::atomic<size_t> used_{0};
  const size_t limit_;
};

class PageTextCache {
 public:
  explicit PageTextCache(size_t budget_bytes) : budget_(std::make_shared<TextBudget>(budget_bytes)) {}
  explicit PageTextCache(std::shared_ptr<TextBudget> budget) : budget_(std::move(budget)) {}
  ~PageTextCache() { clear(); }
  PageTextCache(const PageTextCache&) = delete;
  PageTextCache& operator=(const PageTextCache&) = delete;

  // The page's text: the one kept, or read from the document and kept while the budget allows.
  // Pages are kept first come, first kept: a search reads from the first page on, and those
  // pages would be the first to go if later ones pushed them out.
  std::shared_ptr<const CachedPage> read(const IDocument& doc, int page);
  // Forgets a page whose content changed, or every page.
  void drop(int page);
  void clear();
  size_t bytes() const;
  size_t pages() const;

 private:
  mutable std::mutex mutex_;
  std::unordered_map<int, std::shared_ptr<const CachedPage>> kept_;
  size_t bytes_ = 0;
  const std::shared_ptr<TextBudget> budget_;
  // Moves on with every drop, so that a page read before an edit is not kept after it.
  uint64_t generation_ = 0;
};

}  // namespace quorvel::search
