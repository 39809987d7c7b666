#include "core/text_codec.h"

namespace quorvel {

std::string utf16le_to_utf8(const std::vector<uint16_t>&) { return {}; }

}  // namespace quorvel
