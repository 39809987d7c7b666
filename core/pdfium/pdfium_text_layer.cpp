// The invisible text layer: recognised words laid out as lines of text along the page as it is
// shown, written after the page's own content, for many pages in one rewrite; and the pixel
// size of a scanned page's image.
#include "core/pdfium/pdfium_document.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <string>

#include "core/c_locale.h"
#include "core/pdfium/pdfium_api_text_layer.h"
#include "core/pdfium/qpdf_text_layer.h"
#include "core/text_codec.h"

namespace quorvel::pdfium {

namespace {

using qpdf_bridge::kLayerAscent;
using qpdf_bridge::kLayerGlyphAdvance;

// Farther out than any page reaches; beyond it a number is an error, not a position.
constexpr double kFarthest = 1e6;
// A space between words that touch still separates them, but takes no room.
constexpr double kNarrowestSpace = 0.01;

// The reading direction and the glyphs' up of text upright on a page turned `turns` quarter
// turns clockwise for showing, in page space.
struct Axes {
  double dx, dy, ux, uy;
};

Axes axes_for(int turns) {
  switch (turns & 3) {
    case 1: return {0, 1, -1, 0};
    case 2: return {-1, 0, 0, -1};
    case 3: return {0, -1, 1, 0};
    default: return {1, 0, 0, 1};
  }
}

bool is_space(uint16_t u) {
  return (u >= 0x09 && u <= 0x0D) || u == 0x20 || u == 0x85 || u == 0xA0 || u == 0x1680 || (u >= 0x2000 && u <= 0x200B) ||
         u == 0x2028 || u == 0x2029 || u == 0x202F || u == 0x205F || u == 0x3000 || u == 0xFEFF;
}

// The layer's character codes for a word: UTF-16 units, a character beyond them as U+FFFD and
// control characters as spaces. Empty when nothing but white space is left.
std::vector<uint16_t> glyph_codes(const std::string& text) {
  const std::vector<unsigned short> units = utf8_to_utf16le(text);
  std::vector<uint16_t> out;
  bool visible = false;
  for (size_t i = 0; i + 1 < units.size(); ++i) {
    uint16_t u = units[i];
    if (u >= 0xD800 && u <= 0xDFFF) {
      if (u <= 0xDBFF && i + 2 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) ++i;
      u = 0xFFFD;
    } else if (u < 0x20 || (u >= 0x7F && u < 0xA0)) {
      u = 0x20;
    }
    visible = visible || !is_space(u);
    out.push_back(u);
  }
  if (!visible) out.clear();
  return out;
}

// A word along its line: from `start` to `end` in the reading direction, its baseline and the
// top of its box across it.
struct Placed {
  std::vector<uint16_t> codes;
  double start, end, baseline, top;
};

bool place(const TextSpan& w, const Axes& a, Placed& out) {
  for (double v : {w.x0, w.y0, w.x1, w.y1}) {
    if (!std::isfinite(v) || std::fabs(v) > kFarthest) return false;
  }
  out.codes = glyph_codes(w.text);
  if (out.codes.empty()) return false;
  const double along0 = w.x0 * a.dx + w.y0 * a.dy, along1 = w.x1 * a.dx + w.y1 * a.dy;
  const double across0 = w.x0 * a.ux + w.y0 * a.uy, across1 = w.x1 * a.ux + w.y1 * a.uy;
  out.start = std::min(along0, along1);
  out.end = std::max(along0, along1);
  const double bottom = std::min(across0, across1);
  out.top = std::max(across0, across1);
  const double descent = std::isfinite(w.descent) ? std::clamp(w.descent, 0.0, out.top - bottom) : 0.0;
  out.baseline = bottom + descent;
  return true;
}

// Words of one line share their line number and follow each other in the list.
std::vector<std::vector<Placed>> layout(const std::vector<TextSpan>& words, const Axes& a) {
  std::vector<std::vector<Placed>> lines;
  for (size_t i = 0; i < words.size();) {
    size_t next = i + 1;
    if (words[i].line >= 0) {
      while (next < words.size() && words[next].line == words[i].line) ++next;
    }
    std::vector<Placed> line;
    for (; i < next; ++i) {
      Placed p;
      if (place(words[i], a, p)) line.push_back(std::move(p));
    }
    if (!line.empty()) lines.push_back(std::move(line));
  }
  return lines;
}

// One text-showing step: the glyphs `hex` stretched `along` points per em in the reading
// direction, `size` points high, starting at (start, baseline) of the line's axes.
void show(std::string& out, const Axes& a, const PageOrigin& o, double along, double size, double start,
          double baseline, const std::string& hex) {
  const double m[6] = {a.dx * along, a.dy * along, a.ux * size, a.uy * size,
                       o.to_user_x(start * a.dx + baseline * a.ux), o.to_user_y(start * a.dy + baseline * a.uy)};
  for (double v : m) {
    append_fixed(out, v, 4);
    out += ' ';
  }
  out += "Tm " + hex + " Tj\n";
}

std::string hex_codes(const std::vector<uint16_t>& codes) {
  static const char* digits = "0123456789ABCDEF";
  std::string out = "<";
  for (uint16_t c : codes) {
    for (int shift = 12; shift >= 0; shift -= 4) out += digits[(c >> shift) & 15];
  }
  return out + ">";
}

// Each line is one text object: every word stretched over its box, each space over the gap to
// the next word, all at the line's size, so that readers take the words and spaces for a line.
std::string layer_content(const std::vector<std::vector<Placed>>& lines, const Axes& a, const PageOrigin& o,
                          const std::string& font) {
  std::string out = "q\n";
  for (const std::vector<Placed>& line : lines) {
    double top = 0;
    for (const Placed& w : line) top = std::max(top, w.top - w.baseline);
    if (!(top > 1.0)) top = 10;  // a box without height still gets readable text
    const double size = top / kLayerAscent;
    out += "BT\n3 Tr\n/" + font + " 1 Tf\n";
    for (size_t k = 0; k < line.size(); ++k) {
      const Placed& w = line[k];
      const double natural = static_cast<double>(w.codes.size()) * kLayerGlyphAdvance;
      const double along = w.end > w.start ? (w.end - w.start) / natural : size;
      show(out, a, o, along, size, w.start, w.baseline, hex_codes(w.codes));
      if (k + 1 < line.size()) {
        const double end = w.start + along * natural;
        const double gap = std::max(line[k + 1].start - end, kNarrowestSpace);
        show(out, a, o, gap / kLayerGlyphAdvance, size, end, w.baseline, "<0020>");
      }
    }
    out += "ET\n";
  }
  return out + "Q\n";
}

}  // namespace

int PdfiumDocument::add_text_layer(int page, const std::vector<TextSpan>& words) {
  return add_text_layers({{page, words}}).front();
}

// The layers are laid out under the lock, where PDFium tells each page's rotation and origin;
// the rewrite itself runs on a copy of the file without it, so that renders wait only for the
// save and the load, not for the qpdf pass. The copy replaces the document only when nothing
// changed it meanwhile: a page deleted or a field typed during the pass is kept.
std::vector<int> PdfiumDocument::add_text_layers(const std::vector<std::pair<int, std::vector<TextSpan>>>& pages,
                                                 std::optional<uint64_t> since) {
  std::vector<int> out(pages.size(), 0);
  struct Layer {
    size_t entry;
    Axes axes;
    PageOrigin origin;
    std::vector<std::vector<Placed>> lines;
    int words = 0;
  };
  std::vector<Layer> layers;
  std::vector<int> indices;
  std::vector<uint8_t> current;
  int count = 0;
  uint64_t source = 0;
  {
    std::lock_guard<std::mutex> g(lock());
    if (!doc_ || (since && *since != revision_)) return out;
    count = FPDF_GetPageCount(doc_);
    for (size_t i = 0; i < pages.size(); ++i) {
      const auto& [index, words] = pages[i];
      if (words.empty() || index < 0 || index >= count) continue;
      FPDF_PAGE p = shown_page(index);
      if (!p) continue;
      Layer layer{i, axes_for(FPDFPage_GetRotation(p)), page_origin(p), {}};
      layer.lines = layout(words, layer.axes);
      for (const auto& line : layer.lines) layer.words += static_cast<int>(line.size());
      if (layer.words == 0) continue;
      indices.push_back(index);
      layers.push_back(std::move(layer));
    }
    if (layers.empty()) return out;
    // The file itself while nothing has changed it: a scan straight from its file costs no save.
    if (!copy_file(current)) return out;
    source = revision_;
  }
  std::vector<uint8_t> written;
  const bool rewritten = qpdf_bridge::add_text_layers(
      current, password_, count, indices,
      [&](size_t k, const std::string& font) { return layer_content(layers[k].lines, layers[k].axes, layers[k].origin, font); },
      written);
  std::vector<uint8_t>().swap(current);
  if (!rewritten) return out;

  if (!swap_in_unchanged(source, written, count, count)) return out;
  for (const Layer& layer : layers) out[layer.entry] = layer.words;
  return out;
}

bool PdfiumDocument::image_pixel_size(int page, int index, int& width, int& height) {
  std::lock_guard<std::mutex> g(lock());
  if (!doc_ || page < 0 || page >= FPDF_GetPageCount(doc_)) return false;
  FPDF_PAGE p = shown_page(page);
  if (!p || index < 0 || index >= FPDFPage_CountObjects(p)) return false;
  FPDF_PAGEOBJECT obj = FPDFPage_GetObject(p, index);
  if (!obj || FPDFPageObj_GetType(obj) != QV_FPDF_PAGEOBJ_IMAGE) return false;
  FPDF_IMAGEOBJ_METADATA m{};
  if (!FPDFImageObj_GetImageMetadata(obj, p, &m) || m.width == 0 || m.height == 0) return false;
  if (m.width > static_cast<unsigned>(INT_MAX) || m.height > static_cast<unsigned>(INT_MAX)) return false;
  width = static_cast<int>(m.width);
  height = static_cast<int>(m.height);
  return true;
}

}  // namespace quorvel::pdfium
