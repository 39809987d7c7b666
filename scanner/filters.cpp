#include "scanner/filters.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "scanner/syntax.h"

namespace quorvel_scan::detail {

std::size_t Budget::take_up_to(std::size_t want) {
  std::size_t left = left_.load(std::memory_order_relaxed);
  for (;;) {
    const std::size_t got = std::min(left, want);
    if (got == 0) return 0;
    if (left_.compare_exchange_weak(left, left - got, std::memory_order_relaxed)) return got;
  }
}

std::span<std::uint8_t> Sink::room(std::size_t want) {
  if (over_) return {};
  if (size_ == paid_) {
    const std::size_t got = budget_->take_up_to(std::max({want, size_, std::size_t{4096}}));
    paid_ += got;
    if (got == 0) {
      // The spare byte: written only by a stream that goes past the budget.
      if (data_.size() <= size_) data_.resize(size_ + 1);
      return {data_.data() + size_, 1};
    }
    if (data_.size() < paid_) data_.resize(std::max(paid_, data_.size() * 2));
  }
  return {data_.data() + size_, paid_ - size_};
}

void Sink::commit(std::size_t n) {
  if (size_ + n > paid_) {
    over_ = true;
    budget_->exhaust();
    size_ = paid_;
    return;
  }
  size_ += n;
}

void Sink::reset() {
  budget_->give_back(paid_ - size_);
  size_ = 0;
  paid_ = 0;
  over_ = false;
}

struct Inflater::Impl {
  z_stream zs{};
  bool ready = false;
  ~Impl() {
    if (ready) inflateEnd(&zs);
  }
};

Inflater::Inflater() : impl_(std::make_unique<Impl>()) {}
Inflater::~Inflater() = default;

Outcome Inflater::run(std::span<const std::uint8_t> in, Sink& out, std::size_t& consumed) {
  // The zlib header is checked and its trailing checksum never: a scan wants the content,
  // and checking the sum would cost a tenth of the time. No /Length is needed: the data ends
  // itself, and damaged data ends at its damage.
  consumed = 0;
  if (in.size() < 2) return Outcome::Failed;
  const unsigned cmf = in[0];
  const unsigned flg = in[1];
  if ((cmf & 0x0F) != 8 || (cmf >> 4) > 7 || (cmf * 256 + flg) % 31 != 0 || (flg & 0x20) != 0) return Outcome::Failed;
  const std::span<const std::uint8_t> body = in.subspan(2);
  z_stream& zs = impl_->zs;
  if (!impl_->ready) {
    if (inflateInit2(&zs, -15) != Z_OK) throw std::bad_alloc();
    impl_->ready = true;
  } else if (inflateReset(&zs) != Z_OK) {
    throw std::bad_alloc();
  }
  constexpr std::size_t kChunk = std::size_t{1} << 30;  // what zlib's counters take at once
  zs.avail_in = 0;
  std::size_t fed = 0;
  std::size_t produced = 0;
  Outcome outcome = Outcome::Ended;
  for (;;) {
    if (zs.avail_in == 0 && fed < body.size()) {
      const std::size_t k = std::min(body.size() - fed, kChunk);
      zs.next_in = const_cast<Bytef*>(body.data() + fed);
      zs.avail_in = static_cast<uInt>(k);
      fed += k;
    }
    const std::span<std::uint8_t> room = out.room(std::max(produced, std::size_t{64} << 10));
    if (room.empty()) break;
    zs.next_out = room.data();
    zs.avail_out = static_cast<uInt>(std::min(room.size(), kChunk));
    const uInt in_before = zs.avail_in;
    const uInt out_before = zs.avail_out;
    const int rc = ::inflate(&zs, Z_NO_FLUSH);
    const std::size_t made = out_before - zs.avail_out;
    out.commit(made);
    produced += made;
    if (rc == Z_MEM_ERROR) throw std::bad_alloc();
    if (out.over() || rc == Z_STREAM_END) break;
    if (rc != Z_OK && rc != Z_BUF_ERROR) {
      outcome = produced > 0 ? Outcome::Damaged : Outcome::Failed;
      break;
    }
    const bool moved = zs.avail_in != in_before || zs.avail_out != out_before;
    if (!moved && zs.avail_in == 0 && fed >= body.size()) {
      // Cut short by the end of the input: what came out is what a reader gets.
      if (produced == 0) outcome = Outcome::Failed;
      break;
    }
  }
  consumed = 2 + (fed - zs.avail_in);
  return outcome;
}

namespace {

Outcome ascii_hex(std::span<const std::uint8_t> in, Sink& out, std::size_t& consumed) {
  int high = -1;
  std::size_t i = 0;
  bool ended = false;
  for (; i < in.size(); ++i) {
    const std::uint8_t c = in[i];
    if (c == '>') {
      ended = true;
      ++i;
      break;
    }
    const int h = hex_value(c);
    if (h < 0) {
      if (is_pdf_white(c)) continue;
      break;  // not hex: the data ends here
    }
    if (high < 0) {
      high = h;
    } else {
      if (!out.put(static_cast<std::uint8_t>(high * 16 + h))) break;
      high = -1;
    }
  }
  if (high >= 0) out.put(static_cast<std::uint8_t>(high * 16));
  consumed = i;
  return ended || out.size() > 0 ? Outcome::Ended : Outcome::Failed;
}

Outcome ascii85(std::span<const std::uint8_t> in, Sink& out, std::size_t& consumed) {
  std::uint32_t group = 0;
  int count = 0;
  std::size_t i = 0;
  bool ended = false;
  bool ok = true;
  for (; i < in.size() && ok; ++i) {
    const std::uint8_t c = in[i];
    if (is_pdf_white(c)) continue;
    if (c == '~') {
      ended = true;
      i += (i + 1 < in.size() && in[i + 1] == '>') ? 2 : 1;
      break;
    }
    if (c == 'z' && count == 0) {
      for (int k = 0; k < 4 && ok; ++k) ok = out.put(0);
      continue;
    }
    if (c < '!' || c > 'u') break;  // not base-85: the data ends here
    group = group * 85 + (c - '!');
    if (++count == 5) {
      for (int k = 3; k >= 0 && ok; --k) ok = out.put(static_cast<std::uint8_t>(group >> (8 * k)));
      group = 0;
      count = 0;
    }
  }
  if (ok && count > 1) {
    // A last partial group counts as padded with 'u'.
    for (int k = count; k < 5; ++k) group = group * 85 + 84;
    for (int k = 0; k < count - 1 && ok; ++k) ok = out.put(static_cast<std::uint8_t>(group >> (8 * (3 - k))));
  }
  consumed = std::min(i, in.size());
  return ended || out.size() > 0 ? Outcome::Ended : Outcome::Failed;
}

Outcome run_length(std::span<const std::uint8_t> in, Sink& out, std::size_t& consumed) {
  std::size_t i = 0;
  bool ended = false;
  bool ok = true;
  while (i < in.size() && ok) {
    const std::uint8_t len = in[i++];
    if (len == 128) {
      ended = true;
      break;
    }
    if (len < 128) {
      for (std::size_t k = 0; k <= len && i < in.size() && ok; ++k) ok = out.put(in[i++]);
    } else if (i < in.size()) {
      const std::uint8_t b = in[i++];
      for (int k = 0; k < 257 - len && ok; ++k) ok = out.put(b);
    }
  }
  consumed = i;
  return ended || out.size() > 0 ? Outcome::Ended : Outcome::Failed;
}

Outcome lzw(std::span<const std::uint8_t> in, int early_change, Sink& out, std::size_t& consumed) {
  struct Entry {
    std::uint16_t prefix;
    std::uint16_t length;
    std::uint8_t last;
    std::uint8_t first;
  };
  std::vector<Entry> table(4096);
  for (int c = 0; c < 256; ++c) table[c] = {0, 1, static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(c)};
  std::array<std::uint8_t, 4096> text{};
  int bits = 9;
  int next = 258;
  int prev = -1;
  std::uint32_t acc = 0;
  int acc_bits = 0;
  std::size_t i = 0;
  Outcome outcome = Outcome::Ended;
  bool ended = false;
  const auto emit = [&](int code) {
    const std::size_t len = table[code].length;
    for (std::size_t k = len; k-- > 0;) {
      text[k] = table[code].last;
      code = table[code].prefix;
    }
    for (std::size_t k = 0; k < len; ++k) {
      if (!out.put(text[k])) return false;
    }
    return true;
  };
  for (;;) {
    while (acc_bits < bits && i < in.size()) {
      acc = (acc << 8) | in[i++];
      acc_bits += 8;
    }
    if (acc_bits < bits) break;
    const int code = static_cast<int>((acc >> (acc_bits - bits)) & ((1u << bits) - 1));
    acc_bits -= bits;
    if (code == 256) {
      bits = 9;
      next = 258;
      prev = -1;
      continue;
    }
    if (code == 257) {
      ended = true;
      break;
    }
    if (prev < 0) {
      if (code > 255) {
        outcome = Outcome::Damaged;
        break;
      }
      if (!emit(code)) break;
      prev = code;
      continue;
    }
    if (code > next || (code == next && next >= 4096)) {
      outcome = Outcome::Damaged;
      break;
    }
    if (next < 4096) {
      const std::uint8_t first = code < next ? table[code].first : table[prev].first;
      table[next] = {static_cast<std::uint16_t>(prev), static_cast<std::uint16_t>(table[prev].length + 1), first,
                     table[prev].first};
      ++next;
    }
    if (!emit(code)) break;
    prev = code;
    if (next + early_change >= (1 << bits) && bits < 12) ++bits;
  }
  consumed = i;
  if (out.size() == 0 && !ended) return Outcome::Failed;
  return outcome;
}

}  // namespace

Outcome decode(Filter f, const Predictor& p, std::span<const std::uint8_t> in, Sink& out, Inflater& inflater,
               std::size_t& consumed) {
  switch (f) {
    case Filter::Flate: return inflater.run(in, out, consumed);
    case Filter::Lzw: return lzw(in, p.early_change, out, consumed);
    case Filter::AsciiHex: return ascii_hex(in, out, consumed);
    case Filter::Ascii85: return ascii85(in, out, consumed);
    case Filter::RunLength: return run_length(in, out, consumed);
  }
  consumed = 0;
  return Outcome::Failed;
}

bool unpredict(const Predictor& p, Sink& out) {
  if (p.predictor != 2 && p.predictor < 10) return true;
  if (p.colors < 1 || p.colors > 32 || p.columns < 1 || p.columns > (std::int64_t{1} << 24)) return false;
  if (p.bits != 1 && p.bits != 2 && p.bits != 4 && p.bits != 8 && p.bits != 16) return false;
  const std::size_t bits_per_pixel = static_cast<std::size_t>(p.colors) * static_cast<std::size_t>(p.bits);
  const std::size_t row = (bits_per_pixel * static_cast<std::size_t>(p.columns) + 7) / 8;
  const std::size_t bpp = std::max<std::size_t>(1, bits_per_pixel / 8);
  std::uint8_t* d = out.data();
  const std::size_t n = out.size();
  if (p.predictor == 2) {
    // TIFF: each component adds to the same component of the pixel before it.
    for (std::size_t start = 0; start < n; start += row) {
      std::uint8_t* r = d + start;
      const std::size_t len = std::min(row, n - start);
      if (p.bits == 8) {
        for (std::size_t i = bpp; i < len; ++i) r[i] = static_cast<std::uint8_t>(r[i] + r[i - bpp]);
      } else if (p.bits == 16) {
        for (std::size_t i = bpp; i + 1 < len; i += 2) {
          const unsigned v = ((r[i] << 8) | r[i + 1]) + ((r[i - bpp] << 8) | r[i - bpp + 1]);
          r[i] = static_cast<std::uint8_t>(v >> 8);
          r[i + 1] = static_cast<std::uint8_t>(v);
        }
      } else {
        const unsigned mask = (1u << p.bits) - 1;
        const std::size_t comps = len * 8 / static_cast<std::size_t>(p.bits);
        auto get = [&](std::size_t k) {
          const std::size_t bit = k * static_cast<std::size_t>(p.bits);
          return (r[bit / 8] >> (8 - p.bits - bit % 8)) & mask;
        };
        for (std::size_t k = static_cast<std::size_t>(p.colors); k < comps; ++k) {
          const unsigned v = (get(k) + get(k - static_cast<std::size_t>(p.colors))) & mask;
          const std::size_t bit = k * static_cast<std::size_t>(p.bits);
          const int shift = 8 - p.bits - static_cast<int>(bit % 8);
          r[bit / 8] = static_cast<std::uint8_t>((r[bit / 8] & ~(mask << shift)) | (v << shift));
        }
      }
    }
    return true;
  }
  // PNG: a tag byte before each row names its filter; rows shrink by that byte, in place.
  std::size_t read = 0;
  std::size_t written = 0;
  while (read < n) {
    const std::uint8_t tag = d[read++];
    const std::size_t len = std::min(row, n - read);
    std::uint8_t* cur = d + written;
    const std::uint8_t* src = d + read;
    const std::uint8_t* up = written >= row ? cur - row : nullptr;
    for (std::size_t i = 0; i < len; ++i) {
      const unsigned a = i >= bpp ? cur[i - bpp] : 0;
      const unsigned b = up ? up[i] : 0;
      const unsigned c = (up && i >= bpp) ? up[i - bpp] : 0;
      unsigned x = src[i];
      switch (tag) {
        case 1: x += a; break;
        case 2: x += b; break;
        case 3: x += (a + b) / 2; break;
        case 4: {
          const int pa = std::abs(static_cast<int>(b) - static_cast<int>(c));
          const int pb = std::abs(static_cast<int>(a) - static_cast<int>(c));
          const int pc = std::abs(static_cast<int>(a + b) - 2 * static_cast<int>(c));
          x += (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
          break;
        }
        default: break;  // 0, and unknown tags, as readers take them: unchanged
      }
      cur[i] = static_cast<std::uint8_t>(x);
    }
    read += len;
    written += len;
  }
  out.shrink_to(written);
  return true;
}

}  // namespace quorvel_scan::detail
