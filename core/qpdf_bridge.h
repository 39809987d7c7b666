// Page work that this PDFium build cannot do (page import, moves, N-up) and rewriting saved
// files so that only reachable objects remain, done with qpdf on in-memory PDFs. No qpdf
// exception or warning leaves these functions: failure is a false result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace quorvel::qpdf_bridge {

using Bytes = std::vector<uint8_t>;

// `password` opens `in` when it is encrypted; outputs keep the input's encryption.
bool move_page(const Bytes& in, std::string_view password, int from, int to, Bytes& out);
bool merge(const Bytes& in, std::string_view password, std::span<const std::byte> other, int index,
           Bytes& out);
bool extract_range(const Bytes& in, std::string_view password, int first, int last, Bytes& out);
bool nup(const Bytes& in, std::string_view password, int cols, int rows, Bytes& out);

// Writes only the objects reachable from the trailer, keeping encryption (qpdf_rewrite.cpp).
bool rewrite_reachable(const Bytes& in, std::string_view password, Bytes& out);

}  // namespace quorvel::qpdf_bridge
