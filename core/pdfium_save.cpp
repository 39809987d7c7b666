// Saving full copies with the viewer's annotations written into them.
#include <charconv>
#include <cmath>
#include <string>

#include "core/pdfium_document.h"
#include "core/qpdf_bridge.h"
#include "core/safe_write.h"
#include "core/text_codec.h"

namespace quorvel::pdfium {

namespace {

using annot::Annotation;
using annot::AnnotType;

struct MemoryWriter {
  FPDF_FILEWRITE base;
  std::vector<uint8_t>* out;
};

int write_block(FPDF_FILEWRITE* self, const void* data, unsigned long size) {
  auto* w = reinterpret_cast<MemoryWriter*>(self);
  const auto* p = static_cast<const uint8_t*>(data);
  try {
    w->out->insert(w->out->end(), p, p + size);
  } catch (...) {
    return 0;
  }
  return 1;
}

// Flags 0: a complete copy that keeps the document's security settings.
bool save_copy(FPDF_DOCUMENT doc, std::vector<uint8_t>& out) {
  out.clear();
  MemoryWriter w{{1, &write_block}, &out};
  return FPDF_SaveAsCopy(doc, &w.base, 0) != 0 && !out.empty();
}

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

bool is_markup(AnnotType t) {
  return t == AnnotType::Highlight || t == AnnotType::Underline || t == AnnotType::StrikeOut ||
         t == AnnotType::Squiggly;
}

void append_number(std::string& s, double v) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 3);
  s.append(buf, r.ptr);
}

// The free-text font and colour for readers that build the appearance themselves.
std::string default_appearance(uint32_t color) {
  std::string da = "/Helv 12 Tf ";
  append_number(da, ((color >> 16) & 0xFF) / 255.0);
  da += ' ';
  append_number(da, ((color >> 8) & 0xFF) / 255.0);
  da += ' ';
  append_number(da, (color & 0xFF) / 255.0);
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

// Writes one annotation onto `page`; false when nothing was created.
bool add_annotation(FPDF_PAGE page, const Annotation& a) {
  const bool path = a.type == AnnotType::Ink || a.type == AnnotType::Line || a.type == AnnotType::Arrow;
  if (path && a.points.size() < 2) return false;
  const PageOrigin o = page_origin(page);
  const int subtype = subtype_of(a.type);
  FPDF_ANNOTATION h = FPDFPage_CreateAnnot(page, subtype);
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
    if (is_markup(a.type)) {
      const FS_QUADPOINTSF q{left, top, right, top, left, bottom, right, bottom};
      FPDFAnnot_AppendAttachmentPoints(h, &q);
    }
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
  }
  FPDFPage_CloseAnnot(h);
  return true;
}

}  // namespace

bool PdfiumDocument::save_as(const std::string& path, const std::vector<annot::Annotation>& annots) {
  std::lock_guard<std::mutex> g(lock());
  if (!doc_) return false;
  if (form_) FORM_ForceToKillFocus(form_);

  // The annotations live in the document only while the copy is made, so that every save
  // writes each of them exactly once.
  std::map<FPDF_PAGE, int> added;
  for (const annot::Annotation& a : annots) {
    FPDF_PAGE page = cached_page(a.page);
    if (page && add_annotation(page, a)) ++added[page];
  }
  std::vector<uint8_t> bytes;
  bool ok = save_copy(doc_, bytes);
  for (const auto& [page, count] : added) {
    for (int i = 0; i < count; ++i) FPDFPage_RemoveAnnot(page, FPDFPage_GetAnnotCount(page) - 1);
  }
  if (!ok) return false;

  if (content_removed_) {
    std::vector<uint8_t> clean;
    if (!qpdf_bridge::rewrite_reachable(bytes, password_, clean)) return false;
    bytes.swap(clean);
  }
  return write_file_atomically(path, bytes);
}

}  // namespace quorvel::pdfium
