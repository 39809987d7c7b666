#include "core/pdfium/pdfium_fonts.h"

#include <fstream>
#include <iterator>
#include <mutex>

#include "core/pdfium/pdfium_document.h"
#include "core/text_codec.h"

namespace quorvel::pdfium {

namespace {

// Larger files are no text font we would want embedded whole into a document.
constexpr std::streamoff kMaxFontBytes = 64 << 20;

std::mutex& paths_mutex() {
  static std::mutex m;
  return m;
}

std::vector<std::string>& paths() {
  static std::vector<std::string> p{
#ifdef _WIN32
      "C:\\Windows\\Fonts\\arial.ttf",
#endif
      "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
      "/usr/share/fonts/dejavu/DejaVuSans.ttf",
  };
  return p;
}

bool read_font_file(const std::string& path, std::string& out) {
  std::ifstream f(path, std::ios::binary | std::ios::ate);
  if (!f) return false;
  const std::streamoff size = f.tellg();
  if (size <= 0 || size > kMaxFontBytes) return false;
  out.resize(static_cast<size_t>(size));
  f.seekg(0);
  f.read(out.data(), size);
  return static_cast<bool>(f);
}

}  // namespace

std::vector<std::string> text_font_paths() {
  std::lock_guard<std::mutex> g(paths_mutex());
  return paths();
}

void set_text_font_paths(std::vector<std::string> p) {
  std::lock_guard<std::mutex> g(paths_mutex());
  paths() = std::move(p);
}

FPDF_FONT load_truetype_font(FPDF_DOCUMENT doc, std::string& bytes) {
  for (const std::string& path : text_font_paths()) {
    if (!read_font_file(path, bytes)) {
      bytes.clear();
      continue;
    }
    FPDF_FONT font = FPDFText_LoadFont(doc, reinterpret_cast<const uint8_t*>(bytes.data()),
                                       static_cast<uint32_t>(bytes.size()), QV_FPDF_FONT_TRUETYPE, 1);
    if (font) return font;
    bytes.clear();
  }
  return nullptr;
}

FPDF_FONT document_text_font(PdfiumDocument& doc) {
  if (doc.font_) return doc.font_;
  doc.font_ = load_truetype_font(doc.handle(), doc.font_bytes_);
  if (!doc.font_) doc.font_ = FPDFText_LoadStandardFont(doc.handle(), "Helvetica");
  return doc.font_;
}

bool has_truetype_font(const PdfiumDocument& doc) { return doc.font_ && !doc.font_bytes_.empty(); }

bool needs_unicode_font(std::string_view utf8) {
  for (unsigned short u : utf8_to_utf16le(utf8)) {
    if (u > 0xFF) return true;
  }
  return false;
}

}  // namespace quorvel::pdfium
