#include "core/search_cache.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quorvel::search {
namespace {

constexpr double kSteps = 65535.0;

uint16_t to_step(double v, double low, double span) {
  if (!(span > 0.0) || !std::isfinite(v)) return 0;
  const double q = std::round((v - low) / span * kSteps);
  return static_cast<uint16_t>(std::clamp(q, 0.0, kSteps));
}

double from_step(uint16_t q, double low, double span) { return low + span * (q / kSteps); }

}  // namespace

CachedPage::CachedPage(const TextPage& page) {
  size_t text_size = 0, char_count = 0;
  for (const TextRun& run : page.runs) {
    text_size += run.text.size();
    char_count += run.chars.size();
  }
  text_.reserve(text_size);
  runs_.reserve(page.runs.size());
  chars_.reserve(char_count);
  for (const TextRun& run : page.runs) {
    Run r;
    r.text_begin = text_.size();
    text_ += run.text;
    r.text_end = text_.size();
    r.box = {run.left, run.top, run.right, run.bottom};
    r.frame = {std::min(run.left, run.right), std::max(run.top, run.bottom), std::max(run.left, run.right),
               std::min(run.top, run.bottom)};
    for (const CharBox& c : run.chars) {
      r.frame.left = std::min({r.frame.left, c.left, c.right});
      r.frame.right = std::max({r.frame.right, c.left, c.right});
      r.frame.bottom = std::min({r.frame.bottom, c.top, c.bottom});
      r.frame.top = std::max({r.frame.top, c.top, c.bottom});
    }
    const double w = r.frame.right - r.frame.left, h = r.frame.top - r.frame.bottom;
    r.chars_begin = chars_.size();
    for (const CharBox& c : run.chars) {
      // An offset beyond what the packed form holds lies beyond any run text as well.
      const auto offset = static_cast<uint32_t>(std::min<size_t>(c.offset, std::numeric_limits<uint32_t>::max()));
      chars_.push_back(Char{offset, to_step(c.left, r.frame.left, w), to_step(c.top, r.frame.bottom, h),
                            to_step(c.right, r.frame.left, w), to_step(c.bottom, r.frame.bottom, h)});
    }
    r.chars_end = chars_.size();
    runs_.push_back(r);
  }
}

std::string_view CachedPage::text(size_t run) const {
  const Run& r = runs_[run];
  return std::string_view(text_).substr(r.text_begin, r.text_end - r.text_begin);
}

bool CachedPage::chars_box(size_t run, size_t begin, size_t end, Box& out) const {
  const Run& r = runs_[run];
  bool found = false;
  uint16_t left = 0, top = 0, right = 0, bottom = 0;
  for (size_t i = r.chars_begin; i < r.chars_end; ++i) {
    const Char& c = chars_[i];
    if (c.offset < begin || c.offset >= end) continue;
    if (!found) {
      left = c.left, top = c.top, right = c.right, bottom = c.bottom;
      found = true;
    } else {
      left = std::min(left, c.left);
      top = std::max(top, c.top);
      right = std::max(right, c.right);
      bottom = std::min(bottom, c.bottom);
    }
  }
  if (!found) return false;
  const double w = r.frame.right - r.frame.left, h = r.frame.top - r.frame.bottom;
  out = {from_step(left, r.frame.left, w), from_step(top, r.frame.bottom, h), from_step(right, r.frame.left, w),
         from_step(bottom, r.frame.bottom, h)};
  return true;
}

std::vector<CharBox> CachedPage::chars(size_t run) const {
  const Run& r = runs_[run];
  const double w = r.frame.right - r.frame.left, h = r.frame.top - r.frame.bottom;
  std::vector<CharBox> out;
  out.reserve(r.chars_end - r.chars_begin);
  for (size_t i = r.chars_begin; i < r.chars_end; ++i) {
    const Char& c = chars_[i];
    out.push_back(CharBox{c.offset, from_step(c.left, r.frame.left, w), from_step(c.top, r.frame.bottom, h),
                          from_step(c.right, r.frame.left, w), from_step(c.bottom, r.frame.bottom, h)});
  }
  return out;
}

size_t CachedPage::bytes() const {
  return sizeof(*this) + text_.capacity() + runs_.capacity() * sizeof(Run) + chars_.capacity() * sizeof(Char);
}

bool TextBudget::take(size_t bytes) {
  size_t used = used_.load();
  do {
    if (bytes > limit_ || used > limit_ - bytes) return false;
  } while (!used_.compare_exchange_weak(used, used + bytes));
  return true;
}

std::shared_ptr<const CachedPage> PageTextCache::read(const IDocument& doc, int page) {
  uint64_t generation = 0;
  {
    std::lock_guard<std::mutex> g(mutex_);
    const auto it = kept_.find(page);
    if (it != kept_.end()) return it->second;
    generation = generation_;
  }
  // Read without the cache's lock: the window's thread may drop pages meanwhile.
  auto text = std::make_shared<const CachedPage>(doc.extract_text(page));
  std::lock_guard<std::mutex> g(mutex_);
  const size_t size = text->bytes();
  if (generation != generation_ || kept_.count(page) != 0 || !budget_->take(size)) return text;
  kept_.emplace(page, text);
  bytes_ += size;
  return text;
}

void PageTextCache::drop(int page) {
  std::lock_guard<std::mutex> g(mutex_);
  ++generation_;
  const auto it = kept_.find(page);
  if (it == kept_.end()) return;
  const size_t size = it->second->bytes();
  bytes_ -= size;
  budget_->give(size);
  kept_.erase(it);
}

void PageTextCache::clear() {
  std::lock_guard<std::mutex> g(mutex_);
  ++generation_;
  kept_.clear();
  budget_->give(bytes_);
  bytes_ = 0;
}

size_t PageTextCache::bytes() const {
  std::lock_guard<std::mutex> g(mutex_);
  return bytes_;
}

size_t PageTextCache::pages() const {
  std::lock_guard<std::mutex> g(mutex_);
  return kept_.size();
}

}  // namespace quorvel::search
