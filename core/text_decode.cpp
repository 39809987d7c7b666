// UTF-16 and code points to UTF-8. Whatever PDFium hands out must come out as valid UTF-8:
// everything above (search, regular expressions, HTML export) relies on it.
#include "core/text_codec.h"

namespace quorvel {

namespace {
constexpr char32_t kReplacement = 0xFFFD;
}  // namespace

void append_utf8(std::string& out, char32_t c) {
  if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = kReplacement;
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

std::string utf16le_to_utf8(const std::vector<uint16_t>& units) {
  std::string out;
  out.reserve(units.size());
  const size_t n = units.size();
  for (size_t i = 0; i < n && units[i] != 0; ++i) {
    const char32_t u = units[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      append_utf8(out, 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00));
      ++i;
    } else {
      append_utf8(out, u);  // a lone surrogate becomes U+FFFD
    }
  }
  return out;
}

}  // namespace quorvel
