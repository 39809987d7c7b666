// Saving full copies with the viewer's annotations written into them.
#include <algorithm>
#include <cmath>
#include <string>

#include "core/c_locale.h"
#include "core/pdf_check.h"
#include "core/pdfium/pdfium_document.h"
#include "core/pdfium/pdfium_fonts.h"
#include "core/pdfium/qpdf_rewrite.h"
#include "core/safe_write.h"
#include "core/text_codec.h"

namespace quorvel::pdfium {

namespace {

using annot::Annotation;
using annot::AnnotType;

// Flags 0: a complete copy that keeps the document's security settings.
bool save_copy(FPDF_DOCUMENT doc, std::vector<uint8_t>& out) { return write_to_memory(doc, out, 0); }

int subtype_of(AnnotType t) {
  switch (t) {
    case AnnotType::Highlight: return QV_FPDF_ANNOT_HIGHLIGHT;
    case AnnotType::Ink: return QV_FPDF_ANNOT_INK;
    case AnnotType::Note: return QV_FPDF_ANNOT_TEXT;
    case AnnotType::Underline: return QV_FPDF_ANNOT_UNDERLINE;
    case AnnotType::StrikeOut: return QV_FPDF_ANNOT_STRIKEOUT;
    case AnnotType::Squiggly: return QV_FPDF_ANNOT_SQUIGGLY;
    case AnnotType::Rectangle: return QV_FPDF_ANNOT_SQUARE;
    case AnnotType::Ellipse: return QV_FPDF_ANNOT_CIRCLE;
    case AnnotType::Line: return QV_FPDF_ANNOT_INK;
    case AnnotType::Arrow: return QV_FPDF_ANNOT_INK;
    case AnnotType::FreeText: return QV_FPDF_ANNOT_FREETEXT;
  }
  return QV_FPDF_ANNOT_TEXT;
}

// The free-text font and colour for readers that build the appearance themselves.
std::string default_appearance(uint32_t color) {
  std::string da = "/Helv 12 Tf ";
  append_fixed(da, ((color >> 16) & 0xFF) / 255.0, 3);
  da += ' ';
  append_fixed(da, ((color >> 8) & 0xFF) / 255.0, 3);
  da += ' ';
  append_fixed(da, (color & 0xFF) / 255.0, 3);
  da += " rg";
  return da;
}

// The stroke of a line or arrow and the box it covers, in user space. No border is written, so
// readers draw the default stroke of one point. The arrow's tip is a sharp miter whose spike
// reaches 1/sin(0.25) half-widths past the tip, hence the wider margin there.
bool stroke_of(const Annotation& a, const PageOrigin& o, std::vector<FS_POINTF>& pts, FS_RECTF& rect) {
  if (a.points.size() < 2) return false;
  const annot::Point p0{o.to_user_x(a.points[0].x), o.to_user_y(a.points[0].y)};
  const annot::Point p1{o.to_user_x(a.points[1].x), o.to_user_y(a.points[1].y)};
  std::vector<annot::Point> d{p0, p1};
  double margin = 0.5;
  if (a.type == AnnotType::Arrow) {
    const double ang = std::atan2(p1.y - p0.y, p1.x - p0.x);
    const double len = a.width * 1.5 + 10;
    const annot::Point h1{p1.x - len * std::cos(ang - 0.5), p1.y - len * std::sin(ang - 0.5)};
    const annot::Point h2{p1.x - len * std::cos(ang + 0.5), p1.y - len * std::sin(ang + 0.5)};
    d = {p0, p1, h1, p1, h2};
    margin = 0.5 / std::sin(0.25);
  }
  pts.clear();
  double x0 = d[0].x, x1 = d[0].x, y0 = d[0].y, y1 = d[0].y;
  for (const annot::Point& p : d) {
    pts.push_back({static_cast<float>(p.x), static_cast<float>(p.y)});
    x0 = std::min(x0, p.x);
    x1 = std::max(x1, p.x);
    y0 = std::min(y0, p.y);
    y1 = std::max(y1, p.y);
  }
  rect = {static_cast<float>(x0 - margin), static_cast<float>(y1 + margin),
          static_cast<float>(x1 + margin), static_cast<float>(y0 - margin)};
  return true;
}

// The document that a save writes its annotations into: a copy of the open document loaded
// from its saved bytes, so the open document never holds them (and no appearance stream or
// font made for them lingers there to be written by a later save).
struct Scratch {
  std::vector<uint8_t> bytes;  // PDFium reads from these while the copy is open
  FPDF_DOCUMENT doc = nullptr;
  std::map<int, FPDF_PAGE> pages;
  const std::string* known_font = nullptr;  // the open document's TrueType file, when it has one
  std::string font_bytes;
  FPDF_FONT font = nullptr;
  bool font_tried = false;
  bool free_text = false;

  ~Scratch() {
    for (auto& [index, page] : pages) FPDF_ClosePage(page);
    if (font) FPDFFont_Close(font);
    if (doc) FPDF_CloseDocument(doc);
  }

  FPDF_PAGE page(int index) {
    if (auto it = pages.find(index); it != pages.end()) return it->second;
    if (index < 0 || index >= FPDF_GetPageCount(doc)) return nullptr;
    FPDF_PAGE p = FPDF_LoadPage(doc, index);
    if (p) pages.emplace(index, p);
    return p;
  }

  FPDF_FONT unicode_font() {
    if (font_tried) return font;
    font_tried = true;
    if (known_font && !known_font->empty()) {
      font = FPDFText_LoadFont(doc, reinterpret_cast<const uint8_t*>(known_font->data()),
                               static_cast<uint32_t>(known_font->size()), QV_FPDF_FONT_TRUETYPE, 1);
    }
    if (!font) font = load_truetype_font(doc, font_bytes);
    return font;
  }

  FPDF_PAGEOBJECT text_object(bool unicode, float size) {
    if (!unicode) return FPDFPageObj_NewTextObj(doc, "Helvetica", size);
    FPDF_FONT f = unicode_font();
    return f ? FPDFPageObj_CreateTextObj(doc, f, size) : nullptr;
  }

  // Width of `text` set in the free-text font; negative when it cannot be set.
  double text_width(const std::string& text, bool unicode, float size) {
    FPDF_PAGEOBJECT obj = text_object(unicode, size);
    if (!obj) return -1;
    float l = 0, b = 0, r = 0, t = 0;
    const bool ok = FPDFText_SetText(obj, utf8_to_utf16le(text).data()) && FPDFPageObj_GetBounds(obj, &l, &b, &r, &t);
    FPDFPageObj_Destroy(obj);
    return ok ? r - l : -1;
  }
};

constexpr float kFreeTextSize = 12;

// Greedy word wrap of each paragraph to `width` points; a word wider than that gets a line of
// its own.
std::vector<std::string> wrap(Scratch& s, const std::string& text, bool unicode, double width) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string para = text.substr(start, end - start);
    if (!para.empty() && para.back() == '\r') para.pop_back();
    std::string line;
    size_t pos = 0;
    while (pos <= para.size()) {
      size_t space = para.find(' ', pos);
      if (space == std::string::npos) space = para.size();
      const std::string word = para.substr(pos, space - pos);
      const std::string candidate = line.empty() ? word : line + " " + word;
      if (!line.empty() && s.text_width(candidate, unicode, kFreeTextSize) > width) {
        lines.push_back(line);
        line = word;
      } else {
        line = candidate;
      }
      pos = space + 1;
    }
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

// The free-text appearance as the viewer paints it: a frame in the annotation's colour over a
// faint white fill, and the text inside it, wrapped and left-aligned.
void add_free_text_appearance(Scratch& s, FPDF_ANNOTATION h, const Annotation& a, const FS_RECTF& r) {
  const double l = std::min(r.left, r.right), rt = std::max(r.left, r.right);
  const double b = std::min(r.bottom, r.top), t = std::max(r.bottom, r.top);
  const unsigned red = (a.color >> 16) & 0xFF, green = (a.color >> 8) & 0xFF, blue = a.color & 0xFF;
  const double stroke = std::clamp(a.width, 0.0, std::min(rt - l, t - b) / 2);
  FPDF_PAGEOBJECT frame = FPDFPageObj_CreateNewRect(static_cast<float>(l + stroke / 2), static_cast<float>(b + stroke / 2),
                                                    static_cast<float>(rt - l - stroke), static_cast<float>(t - b - stroke));
  if (frame) {
    FPDFPageObj_SetFillColor(frame, 255, 255, 255, 40);
    FPDFPageObj_SetStrokeColor(frame, red, green, blue, a.opacity);
    FPDFPageObj_SetStrokeWidth(frame, static_cast<float>(stroke));
    FPDFPath_SetDrawMode(frame, QV_FPDF_FILLMODE_WINDING, stroke > 0 ? 1 : 0);
    if (!FPDFAnnot_AppendObject(h, frame)) FPDFPageObj_Destroy(frame);
  }
  if (a.text.empty()) return;
  const bool unicode = needs_unicode_font(a.text);
  const double left = l + 4, width = rt - l - 8;
  double baseline = t - 3 - kFreeTextSize * 0.9;
  for (const std::string& line : wrap(s, a.text, unicode, width)) {
    if (baseline < b) break;
    if (!line.empty()) {
      FPDF_PAGEOBJECT obj = s.text_object(unicode, kFreeTextSize);
      if (!obj) return;
      if (FPDFText_SetText(obj, utf8_to_utf16le(line).data())) {
        FPDFPageObj_SetFillColor(obj, red, green, blue, 255);
        FPDFPageObj_Transform(obj, 1, 0, 0, 1, left, baseline);
        if (!FPDFAnnot_AppendObject(h, obj)) FPDFPageObj_Destroy(obj);
      } else {
        FPDFPageObj_Destroy(obj);
      }
    }
    baseline -= kFreeTextSize * 1.2;
  }
}

// Readers take the first two points of a quadrilateral for the top edge of its text as the page
// is shown, and draw a highlight's rounded ends a quarter of its height wide: on a turned page
// the box's corners go round with the page, or the highlight covers the lines beside it.
FS_QUADPOINTSF markup_quad(int quarter_turns, float left, float top, float right, float bottom) {
  switch (quarter_turns & 3) {
    case 1: return {left, bottom, left, top, right, bottom, right, top};
    case 2: return {right, bottom, left, bottom, right, top, left, top};
    case 3: return {right, top, right, bottom, left, top, left, bottom};
    default: return {left, top, right, top, left, bottom, right, bottom};
  }
}

bool fits_float(double v) { return std::isfinite(static_cast<float>(v)); }

// Annotations come from the store and from XFDF files; a NaN or a number beyond float range
// would be written into the copy as something no reader parses.
bool sane_geometry(const Annotation& a, bool path) {
  if (!path) return fits_float(a.x0) && fits_float(a.y0) && fits_float(a.x1) && fits_float(a.y1);
  if (!fits_float(a.width)) return false;
  for (const annot::Point& p : a.points) {
    if (!fits_float(p.x) || !fits_float(p.y)) return false;
  }
  return true;
}

// Writes one annotation onto `page`; false when nothing was created.
bool add_annotation(Scratch& s, FPDF_PAGE page, const Annotation& a) {
  const bool path = a.type == AnnotType::Ink || a.type == AnnotType::Line || a.type == AnnotType::Arrow;
  if (path && a.points.size() < 2) return false;
  if (!sane_geometry(a, path)) return false;
  const PageOrigin o = page_origin(page);
  const int subtype = subtype_of(a.type);
  // Free text is made as a marked stamp, the one kind whose appearance PDFium builds from
  // page objects; the finishing pass through qpdf turns it into free text.
  FPDF_ANNOTATION h = FPDFPage_CreateAnnot(page, subtype == QV_FPDF_ANNOT_FREETEXT ? QV_FPDF_ANNOT_STAMP : subtype);
  if (!h) return false;

  if (a.type == AnnotType::Ink) {
    std::vector<FS_POINTF> pts;
    pts.reserve(a.points.size());
    for (const annot::Point& p : a.points) {
      pts.push_back({static_cast<float>(o.to_user_x(p.x)), static_cast<float>(o.to_user_y(p.y))});
    }
    FPDFAnnot_AddInkStroke(h, pts.data(), pts.size());
    const annot::Rect b = annot::bounding_rect(a);
    const FS_RECTF r{static_cast<float>(o.to_user_x(b.x0)), static_cast<float>(o.to_user_y(b.y1)),
                     static_cast<float>(o.to_user_x(b.x1)), static_cast<float>(o.to_user_y(b.y0))};
    FPDFAnnot_SetRect(h, &r);
  } else if (a.type == AnnotType::Line || a.type == AnnotType::Arrow) {
    std::vector<FS_POINTF> pts;
    FS_RECTF r{};
    stroke_of(a, o, pts, r);
    FPDFAnnot_AddInkStroke(h, pts.data(), pts.size());
    FPDFAnnot_SetRect(h, &r);
  } else {
    const float left = static_cast<float>(o.to_user_x(a.x0));
    const float right = static_cast<float>(o.to_user_x(a.x1));
    const float top = static_cast<float>(o.to_user_y(a.y1));
    const float bottom = static_cast<float>(o.to_user_y(a.y0));
    const FS_RECTF r{left, top, right, bottom};
    FPDFAnnot_SetRect(h, &r);
    if (annot::is_text_markup(a.type)) {
      const FS_QUADPOINTSF q = markup_quad(FPDFPage_GetRotation(page), left, top, right, bottom);
      FPDFAnnot_AppendAttachmentPoints(h, &q);
    }
    if (subtype == QV_FPDF_ANNOT_FREETEXT) add_free_text_appearance(s, h, a, r);
  }

  // Highlights and notes are always opaque; the rest carry the annotation's opacity.
  const unsigned alpha = (a.type == AnnotType::Highlight || subtype == QV_FPDF_ANNOT_TEXT) ? 255u : a.opacity;
  FPDFAnnot_SetColor(h, QV_FPDFANNOT_COLORTYPE_Color, (a.color >> 16) & 0xFF, (a.color >> 8) & 0xFF,
                     a.color & 0xFF, alpha);
  if (subtype == QV_FPDF_ANNOT_TEXT || subtype == QV_FPDF_ANNOT_FREETEXT) {
    FPDFAnnot_SetStringValue(h, "Contents", utf8_to_utf16le(a.text).data());
  }
  if (subtype == QV_FPDF_ANNOT_FREETEXT) {
    FPDFAnnot_SetStringValue(h, "DA", utf8_to_utf16le(default_appearance(a.color)).data());
    FPDFAnnot_SetStringValue(h, qpdf_bridge::kFreeTextMark, utf8_to_utf16le("1").data());
    s.free_text = true;
  }
  FPDFPage_CloseAnnot(h);
  return true;
}

}  // namespace

bool PdfiumDocument::save_as(const std::string& path, const std::vector<annot::Annotation>& annots) {
  // Only PDFium's part holds the engine's lock: the qpdf pass and the write to disk, the long
  // part on a large manual, leave the window free to render meanwhile.
  std::vector<uint8_t> bytes;
  std::string password;
  qpdf_bridge::Finish finish;
  {
    std::lock_guard<std::mutex> g(lock());
    if (!doc_) return false;
    if (form_) FORM_ForceToKillFocus(form_);
    // PDFium writes a page it cannot read as null, and that page's annotations with it.
    if (!pages_without_dictionary(doc_).empty()) return false;
    password = password_;
    // Removed content can outlive a rebuild of the file in the resources that named it, so such
    // a file is always finished.
    if (!changed_ && annots.empty() && !content_removed_) {
      bytes = bytes_;
    } else {
      const std::vector<uint8_t>* file = file_bytes(bytes);
      if (!file) return false;
      finish.content_removed = content_removed_;
      // A field typed into may name the fallback font, which PDFium writes without its file.
      finish.field_fonts = form_ != nullptr && changed_;
      // A file PDFium writes has lost the object streams of the one it came from.
      finish.object_streams = uses_object_streams() && (changed_ || !annots.empty());
      if (annots.empty() && file != &bytes) bytes = *file;
      if (!annots.empty()) {
        Scratch s;
        s.bytes = *file;
        s.doc = FPDF_LoadMemDocument64(s.bytes.data(), s.bytes.size(), password_.empty() ? nullptr : password_.c_str());
        if (!s.doc) return false;
        if (!font_bytes_.empty()) s.known_font = &font_bytes_;
        for (const annot::Annotation& a : annots) {
          if (FPDF_PAGE page = s.page(a.page)) add_annotation(s, page, a);
        }
        if (!save_copy(s.doc, bytes)) return false;
        finish.free_text = s.free_text;
      }
    }
  }

  if (finish.needed()) {
    std::vector<uint8_t> finished;
    if (!qpdf_bridge::finish_copy(bytes, password, finish, finished)) return false;
    bytes.swap(finished);
  }
  if (!protection_model_.empty()) {
    // The copy of a protected document is protected as the file it came from was.
    std::vector<uint8_t> sealed;
    if (!pdfcheck::protect_like(std::as_bytes(std::span<const uint8_t>(bytes.data(), bytes.size())),
                                std::as_bytes(std::span<const uint8_t>(protection_model_.data(), protection_model_.size())),
                                protection_password_, sealed))
      return false;
    bytes.swap(sealed);
  }
  return write_file_atomically(path, bytes);
}

bool PdfiumDocument::keep_protection(std::span<const std::byte> original, const std::string& password) {
  std::vector<uint8_t> model;
  if (!pdfcheck::protection_model(original, password, model)) return false;
  std::lock_guard<std::mutex> g(lock());
  protection_model_ = std::move(model);
  protection_password_ = password;
  return true;
}

}  // namespace quorvel::pdfium
