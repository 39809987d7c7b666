// Finishing saved copies with qpdf (qpdf_rewrite.cpp); see also qpdf_bridge.h.
#pragma once

#ifndef QUORVEL_CORE_PRIVATE
#error "private header of the core's PDFium adapter: include core/engine.h instead"
#endif

#include "core/pdfium/qpdf_bridge.h"

class QPDF;

namespace quorvel::qpdf_bridge {

// The key that marks a stamp annotation standing in for a free-text annotation. PDFium builds
// appearance streams from page objects only for stamps and ink, and renders no free text
// without one; the stand-in carries everything else a free-text annotation needs.
inline constexpr const char* kFreeTextMark = "QuorvelFreeText";

// The finishing pass of a copy that PDFium wrote, keeping encryption. After content was
// removed, resources that no page content uses any more are dropped (a deleted image stays named
// in its page's resources) and only reachable objects are written, as rewrite_reachable does;
// `free_text` turns every marked stamp into a free-text annotation; `object_streams` gives the
// copy back the object streams of the file it was opened from, which PDFium does not write.
// `field_fonts` embeds the fallback font that field appearances name (qpdf_field_fonts.cpp).
struct Finish {
  bool content_removed = false;
  bool free_text = false;
  bool object_streams = false;
  bool field_fonts = false;
  bool needed() const { return content_removed || free_text || object_streams || field_fonts; }
};
// Gives every font that PDFium's form layer took from the fallback file a subset of that file
// holding the characters of the form's values; false when the file cannot be read or cut.
bool embed_fallback_fonts(QPDF& q);

bool finish_copy(const Bytes& in, std::string_view password, const Finish& finish, Bytes& out);

}  // namespace quorvel::qpdf_bridge
