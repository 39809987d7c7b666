#include "scanner/pdf_value.h"

#include <cstring>
#include <limits>

#include "scanner/syntax.h"

namespace quorvel_scan::detail {

namespace {

// Readers give up on deeper nesting; a sound file never comes near.
constexpr int kMaxDepth = 100;

bool is_digit(std::uint8_t c) { return c >= '0' && c <= '9'; }

bool ends_object(std::string_view w) {
  return w == "obj" || w == "endobj" || w == "stream" || w == "endstream" || w == "xref" || w == "trailer";
}

// An integer word, saturating; none for anything else.
std::optional<std::int64_t> integer_of(std::string_view w) {
  std::size_t i = 0;
  bool negative = false;
  if (i < w.size() && (w[i] == '+' || w[i] == '-')) negative = w[i++] == '-';
  if (i == w.size()) return std::nullopt;
  std::int64_t v = 0;
  for (; i < w.size(); ++i) {
    if (!is_digit(static_cast<std::uint8_t>(w[i]))) return std::nullopt;
    v = v > (std::numeric_limits<std::int64_t>::max() - 9) / 10 ? std::numeric_limits<std::int64_t>::max()
                                                               : v * 10 + (w[i] - '0');
  }
  return negative ? -v : v;
}

bool is_real(std::string_view w) {
  bool digit = false;
  for (std::size_t i = 0; i < w.size(); ++i) {
    const char c = w[i];
    if (c >= '0' && c <= '9') {
      digit = true;
    } else if (!(c == '.' || ((c == '+' || c == '-') && i == 0))) {
      return false;
    }
  }
  return digit;
}

}  // namespace

const Value* Value::get(std::string_view key) const {
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    if (it->key == key) return &it->value;
  }
  return nullptr;
}

void Parser::skip_space() {
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

std::string_view Parser::word() {
  const std::size_t start = pos_;
  while (pos_ < b_.size() && !kDelimiter[b_[pos_]]) ++pos_;
  return {reinterpret_cast<const char*>(b_.data() + start), pos_ - start};
}

bool Parser::keyword(std::string_view k) {
  skip_space();
  const std::size_t save = pos_;
  if (word() == k) return true;
  pos_ = save;
  return false;
}

std::optional<Value> Parser::object() { return object(0); }

std::optional<Value> Parser::object(int depth) {
  if (depth > kMaxDepth) {
    too_deep_ = true;
    return std::nullopt;
  }
  skip_space();
  const std::size_t n = b_.size();
  if (pos_ >= n) return std::nullopt;
  const std::uint8_t c = b_[pos_];
  Value v;
  if (c == '/') {
    v.type = Value::Type::Name;
    pos_ = read_name(b_, pos_ + 1, [&](std::uint8_t x) { v.text.push_back(static_cast<char>(x)); });
    return v;
  }
  if (c == '(') {
    v.type = Value::Type::String;
    std::size_t depth_paren = 1;
    ++pos_;
    while (pos_ < n) {
      std::uint8_t x = b_[pos_++];
      if (x == '(') {
        ++depth_paren;
      } else if (x == ')') {
        if (--depth_paren == 0) break;
      } else if (x == '\\') {
        if (pos_ >= n) break;
        x = b_[pos_++];
        switch (x) {
          case 'n': x = '\n'; break;
          case 'r': x = '\r'; break;
          case 't': x = '\t'; break;
          case 'b': x = '\b'; break;
          case 'f': x = '\f'; break;
          case '\r':
            if (pos_ < n && b_[pos_] == '\n') ++pos_;
            continue;
          case '\n': continue;
          default:
            if (x >= '0' && x <= '7') {
              int octal = x - '0';
              for (int k = 0; k < 2 && pos_ < n && b_[pos_] >= '0' && b_[pos_] <= '7'; ++k) octal = octal * 8 + (b_[pos_++] - '0');
              x = static_cast<std::uint8_t>(octal);
            }
        }
      }
      v.text.push_back(static_cast<char>(x));
    }
    return v;
  }
  if (c == '<' && pos_ + 1 < n && b_[pos_ + 1] == '<') {
    pos_ += 2;
    v.type = Value::Type::Dict;
    for (;;) {
      skip_space();
      if (pos_ >= n) return std::nullopt;
      if (b_[pos_] == '>' && pos_ + 1 < n && b_[pos_ + 1] == '>') {
        pos_ += 2;
        return v;
      }
      if (b_[pos_] != '/') {
        // A stray token where a key belongs is stepped over, as readers do.
        auto stray = object(depth + 1);
        if (!stray) return std::nullopt;
        continue;
      }
      auto key = object(depth + 1);
      auto value = object(depth + 1);
      if (!key || !value) return std::nullopt;
      v.entries.push_back({std::move(key->text), std::move(*value)});
    }
  }
  if (c == '<') {
    v.type = Value::Type::String;
    ++pos_;
    int high = -1;
    while (pos_ < n && b_[pos_] != '>') {
      const int h = hex_value(b_[pos_++]);
      if (h < 0) continue;
      if (high < 0) {
        high = h;
      } else {
        v.text.push_back(static_cast<char>(high * 16 + h));
        high = -1;
      }
    }
    if (high >= 0) v.text.push_back(static_cast<char>(high * 16));
    if (pos_ < n) ++pos_;
    return v;
  }
  if (c == '[') {
    ++pos_;
    v.type = Value::Type::Array;
    for (;;) {
      skip_space();
      if (pos_ >= n) return std::nullopt;
      if (b_[pos_] == ']') {
        ++pos_;
        return v;
      }
      auto item = object(depth + 1);
      if (!item) return std::nullopt;
      v.items.push_back(std::move(*item));
    }
  }
  if (kDelimiter[c]) return std::nullopt;  // a stray ')', '>', ']', '{' or '}'
  const std::size_t start = pos_;
  const std::string_view w = word();
  if (w == "null") return v;
  if (w == "true" || w == "false") {
    v.type = Value::Type::Bool;
    v.integer = w == "true";
    return v;
  }
  if (const auto i = integer_of(w)) {
    v.type = Value::Type::Integer;
    v.integer = *i;
    // "12 0 R" is one reference.
    const std::size_t after = pos_;
    skip_space();
    const auto gen = integer_of(word());
    if (gen && *i >= 0 && *gen >= 0 && keyword("R")) {
      v.type = Value::Type::Ref;
      v.gen = *gen;
      return v;
    }
    pos_ = after;
    return v;
  }
  if (is_real(w)) {
    v.type = Value::Type::Real;
    return v;
  }
  if (w.empty() || ends_object(w)) pos_ = start;
  return std::nullopt;
}

bool is_obj_keyword(std::span<const std::uint8_t> b, std::size_t p) {
  if (p == 0 || p + 3 > b.size() || std::memcmp(b.data() + p, "obj", 3) != 0) return false;
  if (p + 3 < b.size() && !kDelimiter[b[p + 3]]) return false;
  std::size_t q = p;
  if (!is_pdf_white(b[q - 1])) return false;
  while (q > 0 && is_pdf_white(b[q - 1])) --q;
  return q > 0 && is_digit(b[q - 1]);
}

std::optional<std::pair<std::int64_t, std::int64_t>> object_numbers(std::span<const std::uint8_t> b, std::size_t p) {
  // Backwards: white space, the generation, white space, the object number.
  auto number_before = [&](std::size_t& q) -> std::optional<std::int64_t> {
    while (q > 0 && is_pdf_white(b[q - 1])) --q;
    std::size_t end = q;
    while (q > 0 && is_digit(b[q - 1]) && end - q < 12) --q;
    if (q == end) return std::nullopt;
    return integer_of({reinterpret_cast<const char*>(b.data() + q), end - q});
  };
  std::size_t q = p;
  const auto gen = number_before(q);
  if (!gen) return std::nullopt;
  const auto num = number_before(q);
  if (!num) return std::nullopt;
  return std::make_pair(*num, *gen);
}

}  // namespace quorvel_scan::detail
