// Redaction and image removal, done on the page's content stream: only the glyphs under a box
// and the one image go, everything else keeps its bytes.
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <cmath>
#include <set>

#include "core/extract.h"
#include "core/pdfium/content_edit.h"
#include "core/pdfium/qpdf_internal.h"
#include "core/pdfium/pdfium_document.h"
#include "core/text_codec.h"

namespace quorvel::pdfium {

namespace {

struct Box {
  double x0, y0, x1, y1;
  bool has_area() const { return x1 > x0 && y1 > y0; }
  bool holds(double x, double y) const { return x > x0 && x < x1 && y > y0 && y < y1; }
  bool overlaps(double l, double b, double r, double t) const { return l < x1 && r > x0 && b < y1 && t > y0; }
};

bool inside_any(const std::vector<Box>& boxes, double x, double y) {
  for (const Box& b : boxes)
    if (b.holds(x, y)) return true;
  return false;
}

bool overlaps_any(const std::vector<Box>& boxes, double l, double b, double r, double t) {
  for (const Box& box : boxes)
    if (box.overlaps(std::min(l, r), std::min(b, t), std::max(l, r), std::max(b, t))) return true;
  return false;
}

// Text in an annotation's appearance under a box: redaction cannot take it out.
bool annotation_text_under(FPDF_PAGE page, const std::vector<Box>& boxes) {
  bool found = false;
  const int annots = FPDFPage_GetAnnotCount(page);
  for (int i = 0; i < annots && !found; ++i) {
    FPDF_ANNOTATION a = FPDFPage_GetAnnot(page, i);
    if (!a) continue;
    FS_RECTF r{};
    if (FPDFAnnot_GetRect(a, &r) && overlaps_any(boxes, r.left, r.bottom, r.right, r.top)) {
      for (int k = 0; k < FPDFAnnot_GetObjectCount(a) && !found; ++k) {
        FPDF_PAGEOBJECT obj = FPDFAnnot_GetObject(a, k);
        found = obj && FPDFPageObj_GetType(obj) == QV_FPDF_PAGEOBJ_TEXT;
      }
    }
    FPDFPage_CloseAnnot(a);
  }
  return found;
}

std::string uri_of(QPDFObjectHandle link) {
  QPDFObjectHandle action = link.getKey("/A");
  if (!action.isDictionary()) return {};
  QPDFObjectHandle uri = action.getKey("/URI");
  return uri.isString() ? uri.getStringValue() : std::string();
}

// Takes off the page every link over a box or whose target holds a text taken out, and the
// other pieces of those links (a link broken over lines is one annotation per line, each with
// the same target): a target may name what the box hides.
void remove_links_under(QPDFPageObjectHelper& page, const std::vector<Box>& boxes,
                        const std::vector<std::string>& removed) {
  QPDFObjectHandle oh = page.getObjectHandle();
  QPDFObjectHandle annots = oh.getKey("/Annots");
  if (!annots.isArray()) return;
  const int n = annots.getArrayNItems();
  std::vector<bool> drop(static_cast<size_t>(n), false);
  std::set<std::string> targets;
  auto is_link = [](QPDFObjectHandle a) {
    return a.isDictionary() && a.getKey("/Subtype").isName() && a.getKey("/Subtype").getName() == "/Link";
  };
  for (int i = 0; i < n; ++i) {
    QPDFObjectHandle a = annots.getArrayItem(i);
    QPDFObjectHandle r = is_link(a) ? a.getKey("/Rect") : QPDFObjectHandle();
    if (!r.isArray() || r.getArrayNItems() != 4) continue;
    double v[4];
    bool numbers = true;
    for (int k = 0; k < 4; ++k) {
      numbers = numbers && r.getArrayItem(k).isNumber();
      v[k] = numbers ? r.getArrayItem(k).getNumericValue() : 0;
    }
    const std::string uri = uri_of(a);
    bool names = false;
    for (const std::string& text : removed) names = names || extract::holds_token(uri, text);
    if (!numbers || !(names || overlaps_any(boxes, v[0], v[1], v[2], v[3]))) continue;
    drop[static_cast<size_t>(i)] = true;
    if (!uri.empty()) targets.insert(uri);
  }
  for (int i = 0; i < n; ++i) {
    QPDFObjectHandle a = annots.getArrayItem(i);
    if (is_link(a) && targets.count(uri_of(a))) drop[static_cast<size_t>(i)] = true;
  }
  QPDFObjectHandle kept = QPDFObjectHandle::newArray();
  for (int i = 0; i < n; ++i)
    if (!drop[static_cast<size_t>(i)]) kept.appendItem(annots.getArrayItem(i));
  if (kept.getArrayNItems() != n) oh.replaceKey("/Annots", kept);
}

// What a reader read under each box before it was blacked out, without white space; short
// texts are left out, as a target holding them would say nothing of the value.
std::vector<std::string> removed_texts(const std::vector<PdfChar>& chars, const std::vector<bool>& covered,
                                       const std::vector<Box>& boxes) {
  std::vector<std::string> out;
  for (const Box& box : boxes) {
    std::string text;
    size_t count = 0;
    for (size_t i = 0; i < chars.size(); ++i) {
      if (!covered[i] || chars[i].blank() || chars[i].code == 0 || !box.holds(chars[i].cx(), chars[i].cy())) continue;
      append_utf8(text, chars[i].code);
      ++count;
    }
    if (count >= 4) out.push_back(std::move(text));
  }
  return out;
}

struct ObjectBox {
  int type;
  float l, b, r, t;
};

std::vector<ObjectBox> objects_of(FPDF_PAGE page) {
  std::vector<ObjectBox> out;
  const int n = FPDFPage_CountObjects(page);
  for (int i = 0; i < n; ++i) {
    FPDF_PAGEOBJECT obj = FPDFPage_GetObject(page, i);
    ObjectBox o{obj ? FPDFPageObj_GetType(obj) : -1, 0, 0, 0, 0};
    if (obj) FPDFPageObj_GetBounds(obj, &o.l, &o.b, &o.r, &o.t);
    out.push_back(o);
  }
  return out;
}

bool same_box(const ObjectBox& x, const ObjectBox& y, float tolerance) {
  return x.type == y.type && std::fabs(x.l - y.l) <= tolerance && std::fabs(x.b - y.b) <= tolerance &&
         std::fabs(x.r - y.r) <= tolerance && std::fabs(x.t - y.t) <= tolerance;
}

// The page's shown text in content order: glyphs on one line run on, a gap of more than a
// sixth of the size is a space, and anything else starts a new line.
std::string shown_text(const content::PageContent& c) {
  std::string out;
  bool have = false;
  double end_x = 0, end_y = 0, size = 0, dir_x = 1, dir_y = 0;
  for (const content::Show& s : c.shows) {
    const std::vector<std::u32string> chars = content::shown_characters(c, s);
    for (size_t k = 0; k < s.count; ++k) {
      const content::Glyph& g = c.glyphs[s.first + k];
      const double x = g.place.e, y = g.place.f;
      if (have) {
        const double dx = x - end_x, dy = y - end_y;
        const double along = dx * dir_x + dy * dir_y, across = -dx * dir_y + dy * dir_x;
        if (!(std::fabs(across) < size * 0.3 && along > -size * 0.5 && along < size * 1.5)) out += '\n';
        else if (g.known && along > size / 6) out += ' ';
      }
      for (char32_t ch : chars[k]) append_utf8(out, ch);
      size = std::hypot(g.place.c, g.place.d);
      const double run = std::hypot(g.place.a, g.place.b);
      dir_x = run > 0 ? g.place.a / run : 1;
      dir_y = run > 0 ? g.place.b / run : 0;
      g.place.apply(g.known ? g.width : 0, 0, end_x, end_y);
      have = true;
    }
  }
  return out;
}

const content::Font::StandardWidth& no_standard_widths() {
  static const content::Font::StandardWidth none = [](const std::string&, char32_t) {
    return std::optional<double>();
  };
  return none;
}

// Whether the content reader still finds a placed glyph under a box: text that PDFium skips (a
// TJ array with other items) is drawn by other readers. Glyphs it cannot place are PDFium's to
// check.
bool content_text_under(QPDFPageObjectHelper& page, const std::vector<Box>& boxes) {
  content::PageContent c;
  if (!content::read_page(page, no_standard_widths(), c)) return true;
  for (const content::Glyph& g : c.glyphs) {
    double x = 0, y = 0;
    g.centre(x, y);
    if (g.known && inside_any(boxes, x, y)) return true;
  }
  return false;
}

}  // namespace

std::vector<std::optional<std::string>> PdfiumDocument::shown_texts(const std::vector<int>& pages) {
  std::vector<std::optional<std::string>> out(pages.size());
  std::vector<uint8_t> bytes;
  std::string password;
  {
    std::lock_guard<std::mutex> g(lock());
    if (!doc_) return out;
    const std::vector<uint8_t>* file = file_bytes(bytes);
    if (!file) return out;
    if (file != &bytes) bytes = *file;
    password = password_;
  }
  // The reading is qpdf's alone: the engine stays free meanwhile. Widths of the standard fonts
  // would need PDFium; without them such glyphs only run on without spaces.
  try {
    QPDF q;
    qpdf_bridge::open(q, bytes, password);
    std::vector<QPDFPageObjectHelper> all = QPDFPageDocumentHelper(q).getAllPages();
    for (size_t i = 0; i < pages.size(); ++i) {
      if (pages[i] < 0 || static_cast<size_t>(pages[i]) >= all.size()) continue;
      content::PageContent c;
      try {
        if (content::read_page(all[static_cast<size_t>(pages[i])], no_standard_widths(), c)) out[i] = shown_text(c);
      } catch (const std::exception&) {
        // The page stays unread: its entry says so.
      }
    }
  } catch (const std::exception&) {
    return std::vector<std::optional<std::string>>(pages.size());
  }
  return out;
}

bool PdfiumDocument::delete_image(int page, int index) {
  std::vector<ObjectBox> before;
  {
    std::lock_guard<std::mutex> g(lock());
    if (!doc_ || page < 0 || page >= FPDF_GetPageCount(doc_)) return false;
    FPDF_PAGE p = shown_page(page);
    if (!p) return false;
    before = objects_of(p);
  }
  if (index < 0 || static_cast<size_t>(index) >= before.size() || before[static_cast<size_t>(index)].type != QV_FPDF_PAGEOBJ_IMAGE)
    return false;
  size_t rank = 0, images = 0;
  for (size_t i = 0; i < before.size(); ++i) {
    if (before[i].type != QV_FPDF_PAGEOBJ_IMAGE) continue;
    if (i < static_cast<size_t>(index)) ++rank;
    ++images;
  }
  const ObjectBox target = before[static_cast<size_t>(index)];
  return edit_content(
      page,
      [&](QPDFPageObjectHelper& qp, content::PageContent& c) {
        // The page's images in content order are PDFium's image objects in object order; the
        // place of the one found must agree too.
        if (c.images.size() != images) return false;
        const content::ImageUse& use = c.images[rank];
        double xs[4], ys[4];
        use.ctm.apply(0, 0, xs[0], ys[0]);
        use.ctm.apply(1, 0, xs[1], ys[1]);
        use.ctm.apply(0, 1, xs[2], ys[2]);
        use.ctm.apply(1, 1, xs[3], ys[3]);
        const ObjectBox drawn{QV_FPDF_PAGEOBJ_IMAGE, static_cast<float>(*std::min_element(xs, xs + 4)),
                              static_cast<float>(*std::min_element(ys, ys + 4)),
                              static_cast<float>(*std::max_element(xs, xs + 4)),
                              static_cast<float>(*std::max_element(ys, ys + 4))};
        if (!same_box(drawn, target, 0.5f)) return false;
        content::write_page(qp, c, {{{use.stream, use.op}, std::string()}}, {});
        return true;
      },
      [&](FPDF_PAGE, FPDF_PAGE after_page) {
        const std::vector<ObjectBox> after = objects_of(after_page);
        if (after.size() + 1 != before.size()) return false;
        for (size_t i = 0, k = 0; i < before.size(); ++i) {
          if (i == static_cast<size_t>(index)) continue;
          if (!same_box(before[i], after[k++], 0.05f)) return false;
        }
        return true;
      });
}

int PdfiumDocument::redact(int page, const std::vector<annot::Rect>& boxes) {
  return redact_pages({{page, boxes}}).front();
}

std::vector<int> PdfiumDocument::redact_pages(const std::vector<std::pair<int, std::vector<annot::Rect>>>& pages) {
  std::set<int> listed;
  for (const auto& entry : pages) {
    // Each page is read as it was before the session: a page listed again goes on its own.
    if (!listed.insert(entry.first).second) return IDocument::redact_pages(pages);
  }
  std::vector<int> out(pages.size(), 0);
  bool any = false;
  const bool written = edit_pages([&](ContentSession& session) {
    for (size_t i = 0; i < pages.size(); ++i) {
      out[i] = redact_in(session, pages[i].first, pages[i].second);
      any = any || out[i] > 0;
    }
  });
  if (any && !written) {
    for (int& r : out) r = r > 0 ? -1 : r;  // nothing of it reached the document
  }
  return out;
}

int PdfiumDocument::redact_in(ContentSession& session, int page, const std::vector<annot::Rect>& rects) {
  // PDFium's reading of the page holds the lock; the session's qpdf work does not.
  std::unique_lock<std::mutex> held(lock());
  if (!doc_ || rects.empty() || page < 0 || page >= FPDF_GetPageCount(doc_)) return 0;
  FPDF_PAGE p = shown_page(page);
  if (!p) return 0;
  const PageOrigin o = page_origin(p);
  std::vector<Box> boxes;
  for (const annot::Rect& r : rects) {
    const double x0 = o.to_user_x(r.x0), x1 = o.to_user_x(r.x1), y0 = o.to_user_y(r.y0), y1 = o.to_user_y(r.y1);
    boxes.push_back({std::min(x0, x1), std::min(y0, y1), std::max(x0, x1), std::max(y0, y1)});
  }
  std::string paint;
  int painted = 0;
  for (const Box& b : boxes) {
    const double w = b.x1 - b.x0, h = b.y1 - b.y0;
    if (!(w > 0 && h > 0) || !std::isfinite(w) || !std::isfinite(h)) continue;
    paint += "0 g " + content::number_text(b.x0) + " " + content::number_text(b.y0) + " " +
             content::number_text(w) + " " + content::number_text(h) + " re f\n";
    ++painted;
  }
  if (painted == 0) return 0;

  const std::vector<PdfChar> before = read_chars(p);
  held.unlock();
  std::vector<bool> covered(before.size(), false);
  for (size_t i = 0; i < before.size(); ++i) covered[i] = inside_any(boxes, before[i].cx(), before[i].cy());
  std::vector<size_t> gone;
  const bool done = edit_page(
      session, page,
      [&](QPDFPageObjectHelper& qp, content::PageContent& c) {
        const OriginIndex index(before);
        std::map<std::pair<size_t, size_t>, std::string> replaced;
        for (const content::Show& s : c.shows) {
          std::vector<content::GlyphEdit> edits(s.count);
          bool any = false;
          for (size_t k = 0; k < s.count; ++k) {
            const content::Glyph& gl = c.glyphs[s.first + k];
            double cx = 0, cy = 0;
            gl.centre(cx, cy);
            const std::vector<size_t> readers = index.at(gl.reader_x, gl.reader_y);
            // A glyph goes when it lies in a box, or when what a reader takes for it does.
            bool drop = gl.known && inside_any(boxes, cx, cy);
            for (size_t r : readers) drop = drop || (covered[r] && before[r].code != 0);
            if (!drop) continue;
            edits[k].drop = true;
            any = true;
            gone.insert(gone.end(), readers.begin(), readers.end());
          }
          if (!any) continue;
          std::string text = content::rewrite_show(c, s, edits);
          if (text.empty()) return false;  // a font or a placement this cannot rewrite
          replaced[{s.stream, s.op}] = std::move(text);
        }
        remove_links_under(qp, boxes, removed_texts(before, covered, boxes));
        content::write_page(qp, c, replaced, paint);
        return !content_text_under(qp, boxes);
      },
      [&](FPDF_PAGE, FPDF_PAGE after_page) {
        const std::vector<PdfChar> after = read_chars(after_page);
        // Nothing readable may stay under a box: text of a form, of a font this cannot
        // rewrite, or of an annotation's appearance makes the redaction fail.
        for (const PdfChar& c : after)
          if (!c.blank() && c.code != 0 && inside_any(boxes, c.cx(), c.cy())) return false;
        if (annotation_text_under(after_page, boxes)) return false;
        std::u32string added;
        return kept_text(before, gone, after, added) && added.empty();
      });
  return done ? painted : -1;
}

}  // namespace quorvel::pdfium
