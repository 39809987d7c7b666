// The invisible text layer of recognised words (pdfium_text_layer.cpp).
#pragma once

#ifndef QUORVEL_CORE_PRIVATE
#error "private header of the core's PDFium adapter: include core/engine.h instead"
#endif

#include <vector>

#include "core/pdfium/pdfium_document.h"

namespace quorvel::pdfium {

// add_text_layer's work on page `index`, loaded as `page`, with the lock held.
int append_text_layer(PdfiumDocument& d, int index, FPDF_PAGE page, const std::vector<TextSpan>& words);

}  // namespace quorvel::pdfium
