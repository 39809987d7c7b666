// The rotation of every page read from the page tree alone, so that page shapes need no page
// content parsed. Only trees that PDFium and qpdf read alike give an answer.
#pragma once

#ifndef QUORVEL_CORE_PRIVATE
#error "private header of the core's PDFium adapter: include core/engine.h instead"
#endif

#include <cstdint>
#include <string_view>
#include <vector>

namespace quorvel::qpdf_bridge {

// Quarter turns (0..3) of every page in page-tree order, or -1 for a page whose /Rotate PDFium
// may read otherwise (a value that is no plain integer, or one inherited from a node, which a
// null entry on the way would hide from qpdf) and for a kid that is no dictionary. False for a
// damaged file, a tree whose /Count values disagree with its kids, a node reached twice, or a
// tree deeper than any real one.
//
// A file whose objects name no rotation at all is not walked: `out` is then `pages` zeros, the
// turn PDFium gives every page it counts.
bool page_rotations(const std::vector<uint8_t>& in, std::string_view password, int pages, std::vector<int>& out);

}  // namespace quorvel::qpdf_bridge
