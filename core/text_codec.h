// The UTF-8 / UTF-16 conversions of the PDFium adapter: PDFium speaks UTF-16 in machine order.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

// UTF-16 units (machine order) to UTF-8, up to the first zero unit; lone surrogates become
// U+FFFD (text_decode.cpp).
std::string utf16le_to_utf8(const std::vector<uint16_t>& units);

// Appends one code point as UTF-8; surrogates and values above U+10FFFF become U+FFFD
// (text_decode.cpp).
void append_utf8(std::string& out, char32_t code_point);

// UTF-8 to UTF-16 units with one terminating zero unit, lenient (text_encode.cpp).
std::vector<unsigned short> utf8_to_utf16le(std::string_view text);

}  // namespace quorvel
