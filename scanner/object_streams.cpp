#include "scanner/object_streams.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <string_view>

#include "scanner/syntax.h"

namespace quorvel_scan::detail {

namespace {

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

enum class Tok { End, DictOpen, DictClose, ArrayOpen, ArrayClose, Name, String, Word };

struct Token {
  Tok type = Tok::End;
  std::string_view text;  // Name: decoded, valid until the next token; Word: the raw bytes
};

// Just enough of the PDF token syntax to walk one dictionary: strings, comments and nesting
// are stepped over so that nothing inside them is taken for structure.
class Lexer {
 public:
  Lexer(std::span<const std::uint8_t> bytes, std::size_t pos) : b_(bytes), pos_(pos) {}

  std::size_t position() const { return pos_; }

  Token next() {
    const std::size_t n = b_.size();
    const std::uint8_t* d = b_.data();
    skip_space();
    if (pos_ >= n) return {};
    const std::uint8_t c = d[pos_];
    const bool doubled = pos_ + 1 < n && d[pos_ + 1] == c;
    if (c == '<' && doubled) return advance(2, Tok::DictOpen);
    if (c == '>' && doubled) return advance(2, Tok::DictClose);
    if (c == '[') return advance(1, Tok::ArrayOpen);
    if (c == ']') return advance(1, Tok::ArrayClose);
    if (c == '<') {
      const void* close = std::memchr(d + pos_, '>', n - pos_);
      pos_ = close ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(close) - d) + 1 : n;
      return {Tok::String, {}};
    }
    if (c == '(') {
      LiteralSource s(b_, pos_ + 1);
      while (s.peek() >= 0) s.pop();
      pos_ = s.position();
      return {Tok::String, {}};
    }
    if (c == '/') {
      name_len_ = 0;
      pos_ = read_name(b_, pos_ + 1, [&](std::uint8_t b) {
        if (name_len_ < sizeof name_) name_[name_len_++] = static_cast<char>(b);
      });
      return {Tok::Name, {name_, name_len_}};  // a cut name matches no key we look for
    }
    const std::size_t start = pos_;
    if (kDelimiter[c]) {
      ++pos_;  // a stray ')', '>', '{' or '}'
    } else {
      while (pos_ < n && !kDelimiter[d[pos_]]) ++pos_;
    }
    return {Tok::Word, {reinterpret_cast<const char*>(d + start), pos_ - start}};
  }

 private:
  Token advance(std::size_t k, Tok t) {
    pos_ += k;
    return {t, {}};
  }

  void skip_space() {
    const std::size_t n = b_.size();
    while (pos_ < n) {
      const std::uint8_t c = b_[pos_];
      if (is_pdf_white(c)) {
        ++pos_;
      } else if (c == '%') {
        while (pos_ < n && b_[pos_] != '\r' && b_[pos_] != '\n') ++pos_;
      } else {
        break;
      }
    }
  }

  std::span<const std::uint8_t> b_;
  std::size_t pos_;
  char name_[24];
  std::size_t name_len_ = 0;
};

// Keywords that cannot stand inside a dictionary: reaching one means it never closed.
bool ends_object(std::string_view w) {
  return w == "obj" || w == "endobj" || w == "stream" || w == "endstream";
}

// Steps over the rest of the array or dictionary whose opening token was just read.
bool skip_nested(Lexer& lx) {
  std::size_t depth = 1;
  while (depth > 0) {
    const Token t = lx.next();
    switch (t.type) {
      case Tok::End: return false;
      case Tok::DictOpen:
      case Tok::ArrayOpen: ++depth; break;
      case Tok::DictClose:
      case Tok::ArrayClose: --depth; break;
      case Tok::Word:
        if (ends_object(t.text)) return false;
        break;
      default: break;
    }
  }
  return true;
}

// A filter array after its '[': true when FlateDecode is its one filter.
std::optional<bool> flate_only_array(Lexer& lx) {
  std::size_t names = 0;
  bool flate = true;
  for (;;) {
    const Token t = lx.next();
    switch (t.type) {
      case Tok::ArrayClose: return names == 1 && flate;
      case Tok::End: return std::nullopt;
      case Tok::Name:
        ++names;
        flate = flate && t.text == "FlateDecode";
        break;
      case Tok::DictOpen:
      case Tok::ArrayOpen:
        if (!skip_nested(lx)) return std::nullopt;
        flate = false;
        break;
      case Tok::Word:
        if (ends_object(t.text)) return std::nullopt;
        flate = false;
        break;
      default: flate = false; break;
    }
  }
}

// The dictionary after an "obj" keyword: where its stream's data begins when it is an
// object stream whose one filter is FlateDecode, else none.
std::optional<std::size_t> flate_object_stream(Lexer& lx, std::span<const std::uint8_t> input) {
  if (lx.next().type != Tok::DictOpen) return std::nullopt;
  bool object_stream = false;
  bool flate = false;
  for (;;) {
    const Token key = lx.next();
    if (key.type == Tok::DictClose) break;
    if (key.type == Tok::Word && !ends_object(key.text)) continue;  // the rest of "12 0 R"
    if (key.type != Tok::Name) return std::nullopt;
    const bool type_key = key.text == "Type";
    const bool filter_key = key.text == "Filter";
    const Token value = lx.next();
    switch (value.type) {
      case Tok::Name:
        if (type_key) object_stream = value.text == "ObjStm";
        if (filter_key) flate = value.text == "FlateDecode";
        break;
      case Tok::ArrayOpen:
        if (filter_key) {
          const auto only = flate_only_array(lx);
          if (!only) return std::nullopt;
          flate = *only;
        } else if (!skip_nested(lx)) {
          return std::nullopt;
        }
        break;
      case Tok::DictOpen:
        if (!skip_nested(lx)) return std::nullopt;
        break;
      case Tok::String: break;
      case Tok::Word:
        if (ends_object(value.text)) return std::nullopt;
        break;
      default: return std::nullopt;
    }
  }
  const Token keyword = lx.next();
  if (!object_stream || !flate || keyword.type != Tok::Word || keyword.text != "stream") return std::nullopt;
  // The data follows the end of line after the keyword (CR LF, LF, or a lone CR).
  std::size_t p = lx.position();
  while (p < input.size() && input[p] == ' ') ++p;
  if (p < input.size() && input[p] == '\r') ++p;
  if (p < input.size() && input[p] == '\n') ++p;
  return p;
}

bool is_digit(std::uint8_t b) { return b >= '0' && b <= '9'; }

// "obj" at p as in "12 0 obj": after white space and a number, before a delimiter or the end.
bool is_obj_keyword(std::span<const std::uint8_t> b, std::size_t p) {
  if (p == 0 || p + 3 > b.size() || std::memcmp(b.data() + p, "obj", 3) != 0) return false;
  if (p + 3 < b.size() && !kDelimiter[b[p + 3]]) return false;
  std::size_t q = p;
  if (!is_pdf_white(b[q - 1])) return false;
  while (q > 0 && is_pdf_white(b[q - 1])) --q;
  return q > 0 && is_digit(b[q - 1]);
}

std::size_t saturating_mul(std::size_t a, std::size_t b) {
  if (a != 0 && b > std::numeric_limits<std::size_t>::max() / a) return std::numeric_limits<std::size_t>::max();
  return a * b;
}

}  // namespace

ObjectStreams::ObjectStreams(std::span<const std::uint8_t> input, const InflateLimits& limits)
    : input_(input),
      // One spare byte above the allowance tells a stream that goes past it from one that ends there.
      inflate_left_(std::min({limits.max_total, saturating_mul(limits.max_ratio, input.size()),
                              std::numeric_limits<std::size_t>::max() - 1})),
      // Object streams of a sound file lie apart, so neither their dictionaries nor their data
      // add up to more than the file: beyond that the same bytes are being read again.
      feed_left_(input.size()),
      parse_left_(input.size()),
      last_object_(kNone),
      read_object_(kNone) {}

void ObjectStreams::InflateEnd::operator()(z_stream_s* z) const {
  inflateEnd(z);
  delete z;
}

std::size_t ObjectStreams::object_before(std::size_t pos) {
  // Backwards from pos, but never below where the previous search began, which keeps all
  // searches together linear; below that point the answer is the previous one.
  const std::uint8_t* d = input_.data();
  std::size_t hi = pos;
  while (hi > searched_from_) {
    const void* hit = memrchr(d + searched_from_, 'j', hi - searched_from_);
    if (!hit) break;
    const std::size_t j = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - d);
    if (j >= 2 && is_obj_keyword(input_, j - 2)) {
      last_object_ = j - 2;
      break;
    }
    hi = j;
  }
  searched_from_ = pos;
  return last_object_;
}

std::optional<std::size_t> ObjectStreams::flate_object_stream_data(std::size_t obj) {
  const std::size_t from = obj + 3;
  const std::size_t limit = from + std::min(parse_left_, input_.size() - from);
  Lexer lx(input_.first(limit), from);
  const auto data = flate_object_stream(lx, input_);
  parse_left_ -= lx.position() - from;
  if (!data && lx.position() >= limit && limit < input_.size()) exhausted_ = true;
  return data;
}

std::size_t ObjectStreams::inflate(std::size_t data) {
  // No /Length is trusted: the zlib stream ends itself, and a damaged one ends at its damage.
  // Its header is checked here and its trailing checksum never: a scan wants the content, and
  // checking the sum would cost a tenth of the time.
  const std::span<const std::uint8_t> stream = input_.subspan(data);
  if (stream.size() < 2) return 0;
  const unsigned cmf = stream[0];
  const unsigned flg = stream[1];
  if ((cmf & 0x0F) != 8 || (cmf >> 4) > 7 || (cmf * 256 + flg) % 31 != 0 || (flg & 0x20) != 0) return 0;
  const std::span<const std::uint8_t> in = stream.subspan(2);
  const std::size_t feed = std::min(in.size(), feed_left_);
  const std::size_t cap = inflate_left_;
  constexpr std::size_t kChunk = std::size_t{1} << 30;  // what zlib's counters take at once

  if (!zs_) {
    auto fresh = std::make_unique<z_stream>();
    if (inflateInit2(fresh.get(), -15) != Z_OK) throw std::bad_alloc();
    zs_.reset(fresh.release());
  } else if (inflateReset(zs_.get()) != Z_OK) {
    throw std::bad_alloc();
  }
  z_stream& zs = *zs_;
  zs.avail_in = 0;
  zs.avail_out = 0;
  std::size_t fed = 0;
  std::size_t produced = 0;
  bool ended = false;  // the stream's end, or damage: either way nothing more will come
  for (;;) {
    if (zs.avail_in == 0 && fed < feed) {
      const std::size_t k = std::min(feed - fed, kChunk);
      zs.next_in = const_cast<Bytef*>(in.data() + fed);
      zs.avail_in = static_cast<uInt>(k);
      fed += k;
    }
    if (zs.avail_out == 0) {
      if (produced > cap) break;
      const std::size_t room = std::min(cap + 1, std::max({out_.size(), produced * 2, std::size_t{64} << 10}));
      if (out_.size() < room) out_.resize(room);
      zs.next_out = out_.data() + produced;
      zs.avail_out = static_cast<uInt>(std::min(room - produced, kChunk));
    }
    const uInt in_before = zs.avail_in;
    const uInt out_before = zs.avail_out;
    const int rc = ::inflate(&zs, Z_NO_FLUSH);
    produced += out_before - zs.avail_out;
    if (rc == Z_MEM_ERROR) throw std::bad_alloc();
    if (rc != Z_OK && rc != Z_BUF_ERROR) {
      ended = true;  // Z_STREAM_END, or damage: what came out before it is kept
      break;
    }
    const bool moved = zs.avail_in != in_before || zs.avail_out != out_before;
    if (!moved && zs.avail_out > 0 && (zs.avail_in > 0 || fed >= feed)) break;
  }
  feed_left_ -= std::min<std::size_t>(feed_left_, zs.total_in);
  // Stopped for want of input that the file has but the allowance does not.
  const bool starved = !ended && produced <= cap && feed < in.size();
  if (produced > cap || starved) {
    exhausted_ = true;
    produced = std::min(produced, cap);
  }
  inflate_left_ -= produced;
  return produced;
}

std::optional<ObjectStreams::Packed> ObjectStreams::read(std::size_t name_start) {
  if (exhausted_) return std::nullopt;
  const std::size_t obj = object_before(name_start);
  if (obj == kNone || obj == read_object_) return std::nullopt;
  read_object_ = obj;
  const auto data = flate_object_stream_data(obj);
  if (!data || *data >= input_.size()) return std::nullopt;
  const std::size_t size = inflate(*data);
  return Packed{*data, {out_.data(), size}};
}

}  // namespace quorvel_scan::detail
