// The stream filters that readers apply to object streams, each bounded by a budget of
// output bytes that all streams of one scan share. Private to the scanner.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

struct z_stream_s;

namespace quorvel_scan::detail {

// Bytes still allowed, shared by every stream of one scan (and by the threads that decode them).
class Budget {
 public:
  explicit Budget(std::size_t bytes) : left_(bytes) {}
  // Takes up to want bytes; gives what it took (0 when none is left).
  std::size_t take_up_to(std::size_t want);
  void give_back(std::size_t n) { left_.fetch_add(n, std::memory_order_relaxed); }
  void exhaust() { exhausted_.store(true, std::memory_order_relaxed); }
  bool exhausted() const { return exhausted_.load(std::memory_order_relaxed); }

 private:
  std::atomic<std::size_t> left_;
  std::atomic<bool> exhausted_{false};
};

// A growing output whose every byte is paid for from the budget. Its storage only grows and
// is kept between streams.
class Sink {
 public:
  explicit Sink(Budget& budget) : budget_(&budget) {}
  ~Sink() { reset(); }
  Sink(const Sink&) = delete;
  Sink& operator=(const Sink&) = delete;

  // Room for at least one more byte, or an empty span when the budget is spent. Past the
  // budget it still gives one spare byte, so that a stream that ends exactly at the budget is
  // told apart from one that goes past it: writing into the spare byte spends the budget.
  std::span<std::uint8_t> room(std::size_t want = std::size_t{64} << 10);
  void commit(std::size_t n);
  bool put(std::uint8_t b) {
    if (size_ == paid_ && room(1).empty()) return false;
    data_[size_] = b;
    commit(1);
    return !over_;
  }
  // Gives back what was paid for and not written, and starts empty.
  void reset();
  void shrink_to(std::size_t n) { size_ = n < size_ ? n : size_; }

  std::uint8_t* data() { return data_.data(); }
  std::span<const std::uint8_t> bytes() const { return {data_.data(), size_}; }
  std::size_t size() const { return size_; }
  bool over() const { return over_; }

 private:
  Budget* budget_;
  std::vector<std::uint8_t> data_;
  std::size_t size_ = 0;
  std::size_t paid_ = 0;  // bytes of data_ paid for from the budget
  bool over_ = false;
};

enum class Filter : std::uint8_t { Flate, Lzw, AsciiHex, Ascii85, RunLength };

struct Predictor {
  int predictor = 1;  // 1 none, 2 TIFF, 10 to 15 PNG
  int colors = 1;
  int bits = 8;
  std::int64_t columns = 1;
  int early_change = 1;  // LZW only
};

// How a filter ended: at its end of data or the input's end, at damage after some output, or
// without giving anything at all.
enum class Outcome : std::uint8_t { Ended, Damaged, Failed };

class Inflater {
 public:
  Inflater();
  ~Inflater();
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;
  Outcome run(std::span<const std::uint8_t> in, Sink& out, std::size_t& consumed);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Decodes in into out (which it appends to); consumed tells how much of in was read.
Outcome decode(Filter f, const Predictor& p, std::span<const std::uint8_t> in, Sink& out, Inflater& inflater,
               std::size_t& consumed);

// Undoes a TIFF or PNG predictor in place on out; false when the parameters are unusable.
bool unpredict(const Predictor& p, Sink& out);

}  // namespace quorvel_scan::detail
