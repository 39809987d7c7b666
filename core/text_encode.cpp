#include "core/text_codec.h"

namespace quorvel {

std::vector<unsigned short> utf8_to_utf16le(std::string_view) { return {0}; }
std::vector<unsigned short> utf8_to_utf16(std::string_view) { return {0}; }

}  // namespace quorvel
