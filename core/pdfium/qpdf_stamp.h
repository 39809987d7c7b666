// Pictures drawn over many pages with qpdf, each picture stored once (qpdf_stamp.cpp).
#pragma once

#ifndef QUORVEL_CORE_PRIVATE
#error "private header of the core's PDFium adapter: include core/engine.h instead"
#endif

#include <functional>
#include <string_view>
#include <vector>

#include "core/engine.h"
#include "core/pdfium/qpdf_bridge.h"

namespace quorvel::qpdf_bridge {

// Draws the placements over their pages of `in` (opened with `password`, whose encryption the
// output keeps) as IDocument::place_shared_pictures describes, page space starting at the
// lower-left corner of each page's crop box within its media box, as PDFium's does. Each
// picture becomes one image, with its alpha as a soft mask, named in the resources of the pages
// that show it; a page gets a "q" stream before its contents and one drawing the picture after
// them. Gives the number of placements drawn; 0, with `out` untouched, when none was, the file
// could not be read or written, or `progress` returned false.
int stamp_pictures(const Bytes& in, std::string_view password, const std::vector<IDocument::Picture>& pictures,
                   const std::vector<IDocument::PicturePlacement>& placements,
                   const std::function<bool(int percent)>& progress, Bytes& out);

}  // namespace quorvel::qpdf_bridge
