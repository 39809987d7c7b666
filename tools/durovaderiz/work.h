// What one request may cost once a route works on it: time, decoded bytes and the memory its
// document work allocates. The server gives each request its own Work and cancels it when the
// answer is no longer wanted; routes check it as they go.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace durovaderiz {

struct WorkLimits {
  std::chrono::milliseconds time{120'000};
  uint64_t decoded = 256ull * 1024 * 1024;  // bytes that decoding the request's streams may give
  size_t memory = 384u * 1024 * 1024;       // what its document work may allocate
};

// Thrown by a check that the request has spent what it may; routes turn it into its answer.
// Not a std::exception, so library code that swallows those lets it pass.
struct WorkRefused {
  int status;
  std::string what;
};

// "N MB", or "N KB" below a megabyte, for error texts.
std::string size_text(uint64_t bytes);
// "N s", or "N ms" for a part of a second, for error texts.
std::string duration_text(std::chrono::milliseconds ms);
// The refusal of a request whose work ran past `limit`.
std::string overtime_text(std::chrono::milliseconds limit);

class Work {
 public:
  using Clock = std::chrono::steady_clock;

  explicit Work(const WorkLimits& limits = {})
      : limits_(limits), deadline_(Clock::now() + limits.time) {}

  const WorkLimits& limits() const { return limits_; }
  Clock::time_point deadline() const { return deadline_; }

  void cancel() { cancelled_.store(true, std::memory_order_relaxed); }
  bool cancelled() const {
    return cancelled_.load(std::memory_order_relaxed) || Clock::now() >= deadline_;
  }
  // Throws WorkRefused once the request's time is up or nobody waits for its answer.
  void check() const;

  // Counts `n` decoded bytes; throws WorkRefused past the limit.
  void decoded(size_t n);

  // Keeps what the answer no longer needs until release_kept: taking a large document apart
  // costs a tenth of its work, and the client need not wait for that.
  void keep(std::shared_ptr<void> p);
  void release_kept();

 private:
  WorkLimits limits_;
  Clock::time_point deadline_;
  std::atomic<bool> cancelled_{false};
  std::atomic<uint64_t> decoded_{0};
  std::mutex kept_mutex_;
  std::vector<std::shared_ptr<void>> kept_;
};

}  // namespace durovaderiz
