// Lexical pieces of PDF shared by the name scan and the object-stream reader. Private to the
// scanner.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace quorvel_scan::detail {

constexpr std::array<bool, 256> make_delimiters() {
  std::array<bool, 256> t{};
  for (unsigned char c : std::string_view("\0\t\n\f\r %()/<>[]{}", 16)) t[c] = true;
  return t;
}
inline constexpr std::array<bool, 256> kDelimiter = make_delimiters();

inline int hex_value(std::uint8_t b) {
  if (b >= '0' && b <= '9') return b - '0';
  if (b >= 'a' && b <= 'f') return b - 'a' + 10;
  if (b >= 'A' && b <= 'F') return b - 'A' + 10;
  return -1;
}

inline bool is_pdf_white(std::uint8_t b) {
  return b == 0x00 || b == 0x09 || b == 0x0A || b == 0x0C || b == 0x0D || b == 0x20;
}

// The bytes of the name whose '/' stands just before i, with #xx resolved, each handed to
// sink; gives the offset where the name stops.
template <class Sink>
std::size_t read_name(std::span<const std::uint8_t> bytes, std::size_t i, Sink&& sink) {
  const std::size_t n = bytes.size();
  const std::uint8_t* d = bytes.data();
  while (i < n) {
    const std::uint8_t b = d[i];
    if (kDelimiter[b]) break;
    if (b == '#' && n - i >= 3) {
      const int hi = hex_value(d[i + 1]);
      const int lo = hex_value(d[i + 2]);
      if (hi >= 0 && lo >= 0) {
        sink(static_cast<std::uint8_t>(hi * 16 + lo));
        i += 3;
        continue;
      }
    }
    sink(b);
    ++i;
  }
  return i;
}

// The kept bytes of a literal string, produced one at a time so that a reader can stop
// early: an unterminated string may run to the end of a large input.
class LiteralSource {
 public:
  LiteralSource(std::span<const std::uint8_t> b, std::size_t after_paren) : b_(b), i_(after_paren) {}
  int peek() {
    if (cur_ == kUnread) cur_ = fetch();
    return cur_;
  }
  void pop() { cur_ = kUnread; }
  // Where reading stopped: after the closing ')' once peek() gave -1.
  std::size_t position() const { return i_; }

 private:
  static constexpr int kUnread = -2;
  int fetch() {
    if (done_ || i_ >= b_.size()) {
      done_ = true;
      return -1;
    }
    const std::uint8_t c = b_[i_++];
    if (c == '\\') {
      if (i_ < b_.size()) return b_[i_++];
      done_ = true;  // a backslash as the last byte is dropped
      return -1;
    }
    if (c == '(') {
      ++depth_;
    } else if (c == ')' && --depth_ == 0) {
      done_ = true;
      return -1;
    }
    return c;
  }

  std::span<const std::uint8_t> b_;
  std::size_t i_;
  std::size_t depth_ = 1;
  int cur_ = kUnread;
  bool done_ = false;
};

}  // namespace quorvel_scan::detail
