// The one UTF-8 to UTF-16 conversion for every text handed to PDFium. It is lenient on
// purpose: whatever bytes arrive (recognised text, user input, file names) give some text
// rather than an error, and a broken sequence never swallows the bytes after it beyond its
// own length.
#include "core/text_codec.h"

namespace quorvel {

std::vector<unsigned short> utf8_to_utf16le(std::string_view text) {
  std::vector<unsigned short> out;
  out.reserve(text.size() + 1);
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      out.push_back(b);
      i += 1;
    } else if (b >= 0xC0 && b <= 0xDF) {
      if (i + 1 < n) {
        const auto c = static_cast<unsigned char>(text[i + 1]);
        out.push_back(static_cast<unsigned short>(((b & 0x1F) << 6) | (c & 0x3F)));
        i += 2;
      } else {
        out.push_back(b & 0x1F);
        i += 1;
      }
    } else if (b >= 0xE0 && b <= 0xF7) {
      uint32_t value = b >= 0xF0 ? (b & 0x07u) : (b & 0x0Fu);
      int wanted = b >= 0xF0 ? 3 : 2;
      ++i;
      while (i < n && wanted > 0) {
        value = (value << 6) | (static_cast<unsigned char>(text[i]) & 0x3Fu);
        ++i;
        --wanted;
      }
      if (value > 0xFFFF) {
        const uint32_t v = value - 0x10000;
        out.push_back(static_cast<unsigned short>((0xD800 + (v >> 10)) & 0xFFFF));
        out.push_back(static_cast<unsigned short>(0xDC00 + (v & 0x3FF)));
      } else {
        out.push_back(static_cast<unsigned short>(value));
      }
    } else {
      out.push_back(0xFFFD);
      i += 1;
    }
  }
  out.push_back(0);
  return out;
}

}  // namespace quorvel
