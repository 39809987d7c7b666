// The invisible text layer written as a content stream of its own (qpdf_text_layer.cpp).
#pragma once

#ifndef QUORVEL_CORE_PRIVATE
#error "private header of the core's PDFium adapter: include core/engine.h instead"
#endif

#include <functional>
#include <string>
#include <vector>

#include "core/pdfium/qpdf_bridge.h"

namespace quorvel::qpdf_bridge {

// The layer's font: every glyph is an empty box 0.5 em wide reaching from 0.2 em below the
// baseline to 0.8 em above it, and a character's code is its UTF-16 unit.
inline constexpr double kLayerGlyphAdvance = 0.5;
inline constexpr double kLayerAscent = 0.8;
inline constexpr double kLayerDescent = 0.2;

// Appends `content(k, font)` after the content of page `indices[k]`, for every k, where `font`
// names the layer's font in that page's resources; the pages' own streams stay as they are,
// wrapped in q/Q so that their graphics state does not reach the layer. The font is shared by
// every page that has a layer. False when the document does not have `page_count` pages or an
// index is not one of them.
bool add_text_layers(const Bytes& in, std::string_view password, int page_count, const std::vector<int>& indices,
                     const std::function<std::string(size_t k, const std::string& font)>& content, Bytes& out);

}  // namespace quorvel::qpdf_bridge
