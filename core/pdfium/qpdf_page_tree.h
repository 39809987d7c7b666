// The rotation of every page read from the page tree alone, so that page shapes need no page
// content parsed. Only trees that PDFium and qpdf read alike give an answer.
#pragma once

#ifndef QUORVEL_CORE_PRIVATE
#error "private header of the core's PDFium adapter: include core/engine.h instead"
#endif

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace quorvel::qpdf_bridge {

// Quarter turns (0..3) of every page in page-tree order, or -1 for a page whose /Rotate PDFium
// may read otherwise (a value that is no plain integer, or one inherited from a node, which a
// null entry on the way would hide from qpdf) and for a kid that is no dictionary. False for a
// damaged file, a tree whose /Count values disagree with its kids, a node reached twice, or a
// tree deeper than any real one.
bool page_rotations(const std::vector<uint8_t>& in, std::string_view password, std::vector<int>& out);

// True when no object of the file names a rotation, so that no page PDFium counts is turned and
// the tree need not be walked. Only for files with object streams, where a walk would make qpdf
// parse nearly every object; false whenever it cannot be sure. Safe on any thread.
bool nothing_turned(const uint8_t* data, size_t size, std::string_view password);

// Whether qpdf's walk of the page tree finds at least one page dictionary. PDFium counts a
// root without kids as a page of its own, which no other reader shows. True when the file
// cannot be read here: only a tree that was read and held no page says false.
bool tree_has_page(const std::vector<uint8_t>& in, std::string_view password);

}  // namespace quorvel::qpdf_bridge
