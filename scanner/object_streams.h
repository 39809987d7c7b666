// Finds a file's compressed object streams from the names that the scan walks past and
// inflates them, so that the objects packed inside are rated like plainly written ones.
// Private to the scanner.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "scanner/scan.h"

struct z_stream_s;

namespace quorvel_scan::detail {

class ObjectStreams {
 public:
  ObjectStreams(std::span<const std::uint8_t> input, const InflateLimits& limits);

  struct Packed {
    std::size_t data = 0;                // offset of the stream's data in the input
    std::span<const std::uint8_t> bytes;  // inflated; valid until the next read
  };

  // For a name "ObjStm" whose '/' stands at name_start; calls come in ascending order. When
  // the object holding that name is an object stream with the single filter FlateDecode,
  // not read before, gives its inflated bytes, as far as they inflate and no further than
  // the bound.
  std::optional<Packed> read(std::size_t name_start);

  // A bound stopped the reading: some packed content was not seen.
  bool exhausted() const { return exhausted_; }

 private:
  std::size_t object_before(std::size_t pos);
  std::optional<std::size_t> flate_object_stream_data(std::size_t obj);
  std::size_t inflate(std::size_t data);

  std::span<const std::uint8_t> input_;
  std::size_t inflate_left_;  // output bytes still allowed
  std::size_t feed_left_;     // compressed input bytes still allowed
  std::size_t parse_left_;    // dictionary bytes still allowed
  std::size_t searched_from_ = 0;  // the keyword search never looks below this again
  std::size_t last_object_;
  std::size_t read_object_;
  bool exhausted_ = false;
  std::vector<std::uint8_t> out_;  // only grows: its size is its capacity
  struct InflateEnd {
    void operator()(z_stream_s* z) const;
  };
  std::unique_ptr<z_stream_s, InflateEnd> zs_;  // one inflater, reset for each stream
};

}  // namespace quorvel_scan::detail
