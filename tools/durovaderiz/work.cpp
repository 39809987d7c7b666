#include "work.h"

namespace durovaderiz {

std::string size_text(uint64_t bytes) {
  return bytes >= 1024 * 1024 ? std::to_string(bytes / (1024 * 1024)) + " MB" : std::to_string(bytes / 1024) + " KB";
}

std::string duration_text(std::chrono::milliseconds ms) {
  return ms.count() % 1000 == 0 ? std::to_string(ms.count() / 1000) + " s" : std::to_string(ms.count()) + " ms";
}

std::string overtime_text(std::chrono::milliseconds limit) {
  return "the request took longer than " + duration_text(limit);
}

void Work::check() const {
  if (cancelled()) throw WorkRefused{503, overtime_text(limits_.time)};
}

void Work::decoded(size_t n) {
  if (decoded_.fetch_add(n, std::memory_order_relaxed) + n > limits_.decoded)
    throw WorkRefused{413, "the document decodes to more than " + size_text(limits_.decoded)};
  check();
}

void Work::keep(std::shared_ptr<void> p) {
  std::lock_guard lock(kept_mutex_);
  kept_.push_back(std::move(p));
}

void Work::release_kept() {
  std::vector<std::shared_ptr<void>> kept;
  {
    std::lock_guard lock(kept_mutex_);
    kept.swap(kept_);
  }
}

}  // namespace durovaderiz
