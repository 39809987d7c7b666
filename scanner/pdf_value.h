// Just enough of the PDF object syntax to read the dictionaries that say how an object stream
// is encoded and how the file is encrypted. Private to the scanner.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvel_scan::detail {

struct Value {
  enum class Type : std::uint8_t { Null, Bool, Integer, Real, Name, String, Array, Dict, Ref };
  Type type = Type::Null;
  std::int64_t integer = 0;  // Integer, Bool (0 or 1), Ref (object number)
  std::int64_t gen = 0;      // Ref
  std::string text;          // Name (decoded), String (decoded bytes)
  std::vector<Value> items;  // Array
  struct Entry;
  std::vector<Entry> entries;  // Dict, in file order

  bool is(Type t) const { return type == t; }
  bool is_name(std::string_view n) const { return type == Type::Name && text == n; }
  // The last entry of that key, as readers keep it; null when absent.
  const Value* get(std::string_view key) const;
};

struct Value::Entry {
  std::string key;
  Value value;
};

// Reads objects from a position; strings, comments and nesting are stepped over whole, so
// nothing inside them is taken for structure. Never reads past the span.
class Parser {
 public:
  Parser(std::span<const std::uint8_t> bytes, std::size_t pos) : b_(bytes), pos_(pos) {}

  // The next object, or none at the end, at a keyword that cannot stand in an object
  // ("obj", "endobj", "stream", ...) or when nesting goes too deep.
  std::optional<Value> object();
  // The keyword at the position after white space and comments, consumed when it matches.
  bool keyword(std::string_view k);
  std::size_t position() const { return pos_; }
  // An object nested deeper than any reader goes stopped the parse.
  bool too_deep() const { return too_deep_; }

 private:
  std::optional<Value> object(int depth);
  void skip_space();
  std::string_view word();

  std::span<const std::uint8_t> b_;
  std::size_t pos_;
  bool too_deep_ = false;
};

// "12 0 obj": the object and generation numbers before the "obj" keyword at p.
std::optional<std::pair<std::int64_t, std::int64_t>> object_numbers(std::span<const std::uint8_t> b, std::size_t p);

// True when "obj" stands at p as a keyword after a number.
bool is_obj_keyword(std::span<const std::uint8_t> b, std::size_t p);

}  // namespace quorvel_scan::detail
