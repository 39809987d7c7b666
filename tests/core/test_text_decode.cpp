#include <gtest/gtest.h>

#include "core/text_codec.h"

using quorvel::append_utf8;
using quorvel::utf16le_to_utf8;

namespace {

TEST(Utf16ToUtf8, Table) {
  const struct {
    const char* name;
    std::vector<uint16_t> units;
    std::string bytes;
  } table[] = {
      {"empty", {}, ""},
      {"ascii", {0x41, 0x42}, "AB"},
      {"two-byte", {0x0416}, "\xD0\x96"},
      {"three-byte", {0x20AC}, "\xE2\x82\xAC"},
      {"highest BMP", {0xFFFF}, "\xEF\xBF\xBF"},
      {"pair, stops at zero", {0x0041, 0xD83D, 0xDE00, 0x0000, 0x0042}, "A\xF0\x9F\x98\x80"},
      {"highest pair", {0xDBFF, 0xDFFF}, "\xF4\x8F\xBF\xBF"},
      {"lone high", {0xD800}, "\xEF\xBF\xBD"},
      {"high at the end", {0x41, 0xD83D}, "A\xEF\xBF\xBD"},
      {"lone low", {0xDC00, 0x41}, "\xEF\xBF\xBD" "A"},
      {"high then high", {0xD83D, 0xD83D, 0xDE00}, "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
      {"low then high", {0xDE00, 0xD83D}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"high before zero", {0xD83D, 0x0000, 0xDE00}, "\xEF\xBF\xBD"},
  };
  for (const auto& row : table) {
    EXPECT_EQ(utf16le_to_utf8(row.units), row.bytes) << row.name;
  }
}

TEST(AppendUtf8, InvalidCodePointsBecomeReplacement) {
  const struct {
    char32_t code;
    std::string bytes;
  } table[] = {
      {0x7F, "\x7F"},
      {0x80, "\xC2\x80"},
      {0x7FF, "\xDF\xBF"},
      {0x800, "\xE0\xA0\x80"},
      {0xD7FF, "\xED\x9F\xBF"},
      {0xD800, "\xEF\xBF\xBD"},
      {0xDFFF, "\xEF\xBF\xBD"},
      {0xE000, "\xEE\x80\x80"},
      {0x10000, "\xF0\x90\x80\x80"},
      {0x10FFFF, "\xF4\x8F\xBF\xBF"},
      {0x110000, "\xEF\xBF\xBD"},
      {0xFFFFFFFF, "\xEF\xBF\xBD"},
  };
  for (const auto& row : table) {
    std::string out = "x";
    append_utf8(out, row.code);
    EXPECT_EQ(out, "x" + row.bytes) << std::hex << static_cast<unsigned long>(row.code);
  }
}

}  // namespace
