// Finishing saved copies with qpdf (qpdf_rewrite.cpp); see also qpdf_bridge.h.
#pragma once

#ifndef QUORVEL_CORE_PRIVATE
#error "private header of the core's PDFium adapter: include core/engine.h instead"
#endif

#include "core/pdfium/qpdf_bridge.h"

namespace quorvel::qpdf_bridge {

// The key that marks a stamp annotation standing in for a free-text annotation. PDFium builds
// appearance streams from page objects only for stamps and ink, and renders no free text
// without one; the stand-in carries everything else a free-text annotation needs.
inline constexpr const char* kFreeTextMark = "QuorvelFreeText";

// The finishing pass of a saved copy, keeping encryption. After content was removed, resources
// that no page content uses any more are dropped (a deleted image stays named in its page's
// resources) and only reachable objects are written, as rewrite_reachable does; `free_text`
// turns every marked stamp into a free-text annotation.
bool finish_copy(const Bytes& in, std::string_view password, bool content_removed, bool free_text, Bytes& out);

}  // namespace quorvel::qpdf_bridge
