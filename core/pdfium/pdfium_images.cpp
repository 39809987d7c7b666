// Listing and placing images, the invisible text layer and stamped text.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>

#include "core/pdfium/pdfium_document.h"
#include "core/pdfium/pdfium_fonts.h"
#include "core/text_codec.h"

namespace quorvel::pdfium {

namespace {

// Far beyond any picture the tools place, and small enough to copy without fear.
constexpr size_t kMaxImageBytes = size_t{1} << 30;

bool finite(std::initializer_list<double> values) {
  for (double v : values) {
    if (!std::isfinite(v)) return false;
  }
  return true;
}

// A text object in the standard Helvetica, or in the document's TrueType font when the text
// needs characters that Helvetica's encoding cannot give. Null when there is no such font.
FPDF_PAGEOBJECT new_text_object(PdfiumDocument& d, const std::string& text, float size) {
  if (!needs_unicode_font(text)) return FPDFPageObj_NewTextObj(d.handle(), "Helvetica", size);
  FPDF_FONT font = document_text_font(d);
  if (!font || !has_truetype_font(d)) return nullptr;
  return FPDFPageObj_CreateTextObj(d.handle(), font, size);
}

}  // namespace

std::vector<IDocument::ImageRef> PdfiumDocument::list_images(int page) {
  std::lock_guard<std::mutex> g(lock());
  std::vector<ImageRef> out;
  if (!doc_ || page < 0 || page >= FPDF_GetPageCount(doc_)) return out;
  FPDF_PAGE p = shown_page(page);
  if (!p) return out;
  const PageOrigin o = page_origin(p);
  const int count = FPDFPage_CountObjects(p);
  for (int i = 0; i < count; ++i) {
    FPDF_PAGEOBJECT obj = FPDFPage_GetObject(p, i);
    if (!obj || FPDFPageObj_GetType(obj) != QV_FPDF_PAGEOBJ_IMAGE) continue;
    float l = 0, b = 0, r = 0, t = 0;
    if (!FPDFPageObj_GetBounds(obj, &l, &b, &r, &t)) continue;
    out.push_back({i, o.to_page_x(l), o.to_page_y(b), o.to_page_x(r), o.to_page_y(t)});
  }
  return out;
}

bool PdfiumDocument::place_image(int page, const uint8_t* bgra, int width, int height, double x0, double y0,
                                 double x1, double y1) {
  std::lock_guard<std::mutex> g(lock());
  if (!doc_ || page < 0 || page >= FPDF_GetPageCount(doc_)) return false;
  if (!bgra || width <= 0 || height <= 0 || !finite({x0, y0, x1, y1})) return false;
  // The stride is an int for PDFium, and the byte count must not wrap.
  if (width > std::numeric_limits<int>::max() / 4) return false;
  const size_t stride = static_cast<size_t>(width) * 4;
  if (static_cast<size_t>(height) > std::numeric_limits<size_t>::max() / stride) return false;
  const size_t size = stride * static_cast<size_t>(height);
  if (size > kMaxImageBytes) return false;
  FPDF_PAGE p = cached_page(page);
  if (!p) return false;

  std::vector<uint8_t> pixels;
  try {
    pixels.resize(size);
  } catch (const std::bad_alloc&) {
    return false;
  }
  std::memcpy(pixels.data(), bgra, size);
  // Straight (not premultiplied) alpha: that is what PDFium's BGRA format holds.
  FPDF_BITMAP bitmap = FPDFBitmap_CreateEx(width, height, QV_FPDFBitmap_BGRA, pixels.data(), static_cast<int>(stride));
  if (!bitmap) return false;
  FPDF_PAGEOBJECT image = FPDFPageObj_NewImageObj(doc_);
  if (!image) {
    FPDFBitmap_Destroy(bitmap);
    return false;
  }
  FPDF_PAGE pages[1] = {p};
  if (!FPDFImageObj_SetBitmap(pages, 1, image, bitmap)) {
    FPDFPageObj_Destroy(image);
    FPDFBitmap_Destroy(bitmap);
    return false;
  }
  const PageOrigin o = page_origin(p);
  FPDFImageObj_SetMatrix(image, std::fabs(x1 - x0), 0, 0, std::fabs(y1 - y0), o.to_user_x(std::min(x0, x1)),
                         o.to_user_y(std::min(y0, y1)));
  FPDFPage_InsertObject(p, image);
  FPDFPage_GenerateContent(p);
  FPDFBitmap_Destroy(bitmap);
  return true;
}

bool PdfiumDocument::stamp_text(int page, const std::string& text, double font_size, int r, int g, int b, int a,
                                double x, double y, double angle) {
  std::lock_guard<std::mutex> guard(lock());
  if (!doc_ || text.empty() || page < 0 || page >= FPDF_GetPageCount(doc_)) return false;
  if (!finite({font_size, x, y, angle})) return false;
  FPDF_PAGE p = cached_page(page);
  if (!p) return false;
  FPDF_PAGEOBJECT obj = new_text_object(*this, text, static_cast<float>(font_size));
  if (!obj) return false;
  if (!FPDFText_SetText(obj, utf8_to_utf16le(text).data())) {
    FPDFPageObj_Destroy(obj);
    return false;
  }
  FPDFTextObj_SetTextRenderMode(obj, QV_FPDF_TEXTRENDERMODE_FILL);
  FPDFPageObj_SetFillColor(obj, static_cast<unsigned>(r), static_cast<unsigned>(g), static_cast<unsigned>(b),
                           static_cast<unsigned>(a));
  const double t = angle * 3.141592653589793 / 180;
  const PageOrigin o = page_origin(p);
  FPDFPageObj_Transform(obj, std::cos(t), std::sin(t), -std::sin(t), std::cos(t), o.to_user_x(x), o.to_user_y(y));
  FPDFPage_InsertObject(p, obj);
  FPDFPage_GenerateContent(p);
  return true;
}

}  // namespace quorvel::pdfium
