#include "core/pdfium/pdfium_fonts.h"

#include <cstring>
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
bool is_fallback_face(std::string_view base_font);
bool read_fallback_font(std::string& bytes);
namespace {

// PDFium's charset numbers of the scripts that the fallback font covers and the built-in
// fonts do not.
bool covered_charset(int charset) {
  switch (charset) {
    case 161:  // Greek
    case 162:  // Turkish
    case 163:  // Vietnamese
    case 177:  // Hebrew
    case 178:  // Arabic
    case 186:  // Baltic
    case 204:  // Cyrillic
    case 238:  // Central European
      return true;
    default:
      return false;
  }
}

constexpr std::string_view kFallbackFace = "DejaVu Sans";

struct Fallback {
  FPDF_SYSFONTINFO info{};
  FPDF_SYSFONTINFO* inner = nullptr;  // PDFium's own, may be null
  std::string bytes;                  // the font file, read at first use
  bool read = false;
  char handle = 0;                    // its address is the handle of the fallback font
};

Fallback& fallback() {
  static Fallback f;
  return f;
}

bool is_ours(void* font) { return font == &fallback().handle; }

// PDFium calls these with its lock held, from inside calls that hold the engine's lock.
void fb_release(FPDF_SYSFONTINFO*) {}
void fb_enum(FPDF_SYSFONTINFO*, void* mapper) {
  Fallback& f = fallback();
  if (f.inner && f.inner->EnumFonts) f.inner->EnumFonts(f.inner, mapper);
}
void* fb_map(FPDF_SYSFONTINFO*, int weight, FPDF_BOOL italic, int charset, int pitch, const char* face,
             FPDF_BOOL* exact) {
  Fallback& f = fallback();
  if (f.inner && f.inner->MapFont) {
    if (void* font = f.inner->MapFont(f.inner, weight, italic, charset, pitch, face, exact)) return font;
  }
  // The font PDFium added to a form for such characters comes back by its name.
  if (!covered_charset(charset) && !(face && is_fallback_face(face))) return nullptr;
  if (!f.read) {
    f.read = true;
    read_fallback_font(f.bytes);
  }
  if (f.bytes.empty()) return nullptr;
  if (exact) *exact = 0;
  return &f.handle;
}
void* fb_get(FPDF_SYSFONTINFO* self, const char* face) {
  Fallback& f = fallback();
  if (face && is_fallback_face(face)) return fb_map(self, 400, 0, 0, 0, face, nullptr);
  return f.inner && f.inner->GetFont ? f.inner->GetFont(f.inner, face) : nullptr;
}
unsigned long fb_data(FPDF_SYSFONTINFO*, void* font, unsigned int table, unsigned char* buffer, unsigned long size) {
  Fallback& f = fallback();
  if (!is_ours(font)) return f.inner && f.inner->GetFontData ? f.inner->GetFontData(f.inner, font, table, buffer, size) : 0;
  if (table != 0) return 0;  // PDFium reads the whole file and finds its tables itself
  if (buffer && size >= f.bytes.size()) std::memcpy(buffer, f.bytes.data(), f.bytes.size());
  return static_cast<unsigned long>(f.bytes.size());
}
unsigned long fb_name(FPDF_SYSFONTINFO*, void* font, char* buffer, unsigned long size) {
  Fallback& f = fallback();
  if (!is_ours(font)) return f.inner && f.inner->GetFaceName ? f.inner->GetFaceName(f.inner, font, buffer, size) : 0;
  if (buffer && size > kFallbackFace.size()) {
    std::memcpy(buffer, kFallbackFace.data(), kFallbackFace.size());
    buffer[kFallbackFace.size()] = 0;
  }
  return static_cast<unsigned long>(kFallbackFace.size() + 1);
}
int fb_charset(FPDF_SYSFONTINFO*, void* font) {
  Fallback& f = fallback();
  if (!is_ours(font)) return f.inner && f.inner->GetFontCharset ? f.inner->GetFontCharset(f.inner, font) : 0;
  return 0;
}
void fb_delete(FPDF_SYSFONTINFO*, void* font) {
  Fallback& f = fallback();
  if (!is_ours(font) && f.inner && f.inner->DeleteFont) f.inner->DeleteFont(f.inner, font);
}

}  // namespace

void install_fallback_fonts() {
  Fallback& f = fallback();
  f.inner = FPDF_GetDefaultSystemFontInfo();
  f.info.version = 1;
  f.info.Release = &fb_release;
  f.info.EnumFonts = &fb_enum;
  f.info.MapFont = &fb_map;
  f.info.GetFont = &fb_get;
  f.info.GetFontData = &fb_data;
  f.info.GetFaceName = &fb_name;
  f.info.GetFontCharset = &fb_charset;
  f.info.DeleteFont = &fb_delete;
  FPDF_SetSystemFontInfo(&f.info);
}

bool is_fallback_face(std::string_view base_font) {
  // PDFium writes the face name without its spaces.
  const std::string plain = fallback_font_name();
  const size_t plus = base_font.find('+');
  if (plus == 6) base_font.remove_prefix(7);  // a subset's tag
  return base_font == plain || base_font == kFallbackFace;
}

bool read_fallback_font(std::string& bytes) {
  for (const std::string& path : text_font_paths()) {
    if (read_font_file(path, bytes)) return true;
  }
  bytes.clear();
  return false;
}

std::string fallback_font_name() {
  std::string plain;
  for (char c : kFallbackFace) {
    if (c != ' ') plain += c;
  }
  return plain;
}

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
