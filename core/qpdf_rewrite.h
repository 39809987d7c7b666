// Finishing saved copies with qpdf (qpdf_rewrite.cpp); see also qpdf_bridge.h.
#pragma once

#include "core/qpdf_bridge.h"

namespace quorvel::qpdf_bridge {

// The key that marks a stamp annotation standing in for a free-text annotation. PDFium builds
// appearance streams from page objects only for stamps and ink, and renders no free text
// without one; the stand-in carries everything else a free-text annotation needs.
inline constexpr const char* kFreeTextMark = "QuorvelFreeText";

// Like rewrite_reachable, and turns every marked stamp into a free-text annotation.
bool rewrite_with_free_text(const Bytes& in, std::string_view password, Bytes& out);

}  // namespace quorvel::qpdf_bridge
