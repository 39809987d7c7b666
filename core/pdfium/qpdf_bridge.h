// Page work that this PDFium build cannot do (page import, moves, N-up) and rewriting saved
// files so that only reachable objects remain, done with qpdf on in-memory PDFs. No qpdf
// exception or warning leaves these functions: failure is a false result.
#pragma once

#ifndef QUORVEL_CORE_PRIVATE
#error "private header of the core's PDFium adapter: include core/engine.h instead"
#endif

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

namespace quorvel::qpdf_bridge {

using Bytes = std::vector<uint8_t>;

// `password` opens `in` when it is encrypted; outputs keep the input's encryption. With
// `object_streams` every object of the output goes into object streams; without, objects stay
// in the streams they came from, if any.
bool move_page(const Bytes& in, std::string_view password, int from, int to, Bytes& out,
               bool object_streams = false);
// Page `index` in the order of a walk through the page tree's kids, whatever its /Count
// values say; the tree is written again with true counts.
bool delete_page(const Bytes& in, std::string_view password, int index, Bytes& out, bool object_streams = false);
// Inserts all pages of `other` (opened without a password) before page `index`; a negative
// index, or the page count, appends. An index above the page count fails. The output has no
// object streams.
bool merge(const Bytes& in, std::string_view password, std::span<const std::byte> other, int index,
           Bytes& out);

// Pages first..last (inclusive) of each range of one input, which is read once: `done` gets
// each part's file, in order, as soon as it is made, and says whether it kept it. Gives whether
// each part was made and kept; all false when the input cannot be read.
struct PageRange {
  int first = 0;
  int last = 0;
};
std::vector<bool> extract_ranges(const Bytes& in, std::string_view password, const std::vector<PageRange>& ranges,
                                 bool object_streams, const std::function<bool(size_t part, const Bytes&)>& done);

// Sheets of `sheet_width` x `sheet_height` points, each holding up to cols x rows pages,
// left to right and top to bottom, each scaled to fit its cell, with what its annotations and
// form fields show drawn into it; no pages give one blank sheet.
bool nup(const Bytes& in, std::string_view password, int cols, int rows, double sheet_width,
         double sheet_height, Bytes& out, bool object_streams = false);

// How many documents the functions above have begun to read in this process (for tests and
// benchmarks).
size_t documents_read();

// Writes only the objects reachable from the trailer, keeping encryption (qpdf_rewrite.cpp).
bool rewrite_reachable(const Bytes& in, std::string_view password, Bytes& out);

}  // namespace quorvel::qpdf_bridge
