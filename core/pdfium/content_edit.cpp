// Edits of a page's content done on the content stream with qpdf instead of by PDFium, which
// writes every object of a changed stream again (and loses TJ spacing and the state Qt's PDF
// writer leaves open). The result is taken only after PDFium reads it back as intended.
#include "core/pdfium/content_edit.h"

#include <qpdf/QPDF.hh>
#include <qpdf/Buffer.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <climits>
#include <cmath>

#include "core/pdfium/pdfium_document.h"
#include "core/pdfium/qpdf_internal.h"

namespace quorvel::pdfium {

namespace {

std::pair<long long, long long> cell(double x, double y, double size) {
  return {std::llround(x / size), std::llround(y / size)};
}

struct OwnText {
  FPDF_TEXTPAGE text;
  explicit OwnText(FPDF_PAGE p) : text(p ? FPDFText_LoadPage(p) : nullptr) {}
  ~OwnText() {
    if (text) FPDFText_ClosePage(text);
  }
  OwnText(const OwnText&) = delete;
  OwnText& operator=(const OwnText&) = delete;
};

}  // namespace

std::vector<PdfChar> read_chars(FPDF_PAGE page) {
  std::vector<PdfChar> out;
  OwnText tp(page);
  if (!tp.text) return out;
  const int n = FPDFText_CountChars(tp.text);
  for (int i = 0; i < n; ++i) {
    PdfChar c;
    c.code = FPDFText_GetUnicode(tp.text, i);
    if (!FPDFText_GetCharBox(tp.text, i, &c.left, &c.right, &c.bottom, &c.top)) c.left = c.right = c.bottom = c.top = 0;
    if (!FPDFText_GetCharOrigin(tp.text, i, &c.x, &c.y)) c.x = c.y = 0;
    out.push_back(c);
  }
  return out;
}

OriginIndex::OriginIndex(const std::vector<PdfChar>& chars, double tolerance) : chars_(chars), tolerance_(tolerance) {
  for (size_t i = 0; i < chars.size(); ++i) cells_.emplace(cell(chars[i].x, chars[i].y, tolerance_), i);
}

std::vector<size_t> OriginIndex::at(double x, double y) const {
  std::vector<size_t> out;
  const auto [cx, cy] = cell(x, y, tolerance_);
  for (long long dx = -1; dx <= 1; ++dx) {
    for (long long dy = -1; dy <= 1; ++dy) {
      auto [from, to] = cells_.equal_range({cx + dx, cy + dy});
      for (auto it = from; it != to; ++it) {
        const PdfChar& c = chars_[it->second];
        if (std::fabs(c.x - x) <= tolerance_ && std::fabs(c.y - y) <= tolerance_) out.push_back(it->second);
      }
    }
  }
  return out;
}

bool kept_text(const std::vector<PdfChar>& before, const std::vector<size_t>& gone,
               const std::vector<PdfChar>& after, std::u32string& added,
               const std::map<size_t, std::pair<double, double>>& moved) {
  std::vector<bool> skip_before(before.size(), false), used(after.size(), false);
  for (size_t i : gone) skip_before[i] = true;
  const OriginIndex index(after, 0.25);
  for (size_t i = 0; i < before.size(); ++i) {
    const PdfChar& c = before[i];
    if (skip_before[i] || c.blank()) continue;
    bool found = false;
    const auto to = moved.find(i);
    for (size_t k : to == moved.end() ? index.at(c.x, c.y) : index.at(to->second.first, to->second.second)) {
      if (!used[k] && after[k].code == c.code) {
        used[k] = true;
        found = true;
        break;
      }
    }
    if (!found) return false;
  }
  added.clear();
  for (size_t k = 0; k < after.size(); ++k)
    if (!used[k] && !after[k].blank()) added.push_back(after[k].code);
  return true;
}

// Fonts are read while qpdf reads a page, outside the engine's lock: each question of PDFium
// takes it.
StandardFonts::~StandardFonts() {
  std::lock_guard<std::mutex> g(lock());
  for (auto& [name, font] : fonts_)
    if (font) FPDFFont_Close(font);
  if (scratch_) FPDF_CloseDocument(scratch_);
}

content::Font::StandardWidth StandardFonts::widths() {
  return [this](const std::string& base, char32_t unicode) -> std::optional<double> {
    const auto key = std::make_pair(base, unicode);
    if (const auto known = known_.find(key); known != known_.end()) return known->second;
    std::lock_guard<std::mutex> g(lock());
    // A document of its own: loading a font into the open one would add objects to it.
    if (!scratch_) scratch_ = FPDF_CreateNewDocument();
    if (!scratch_) return std::nullopt;
    auto it = fonts_.find(base);
    if (it == fonts_.end()) it = fonts_.emplace(base, FPDFText_LoadStandardFont(scratch_, base.c_str())).first;
    float w = 0;
    std::optional<double> width;
    if (it->second && FPDFFont_GetGlyphWidth(it->second, unicode, 1.0f, &w) && std::isfinite(w)) width = w;
    known_.emplace(key, width);
    return width;
  };
}

namespace {

QPDFObjectHandle copied(QPDF& source, QPDF& target, QPDFObjectHandle o) {
  // Only indirect objects can be copied; a direct one is made indirect in the source first.
  return target.copyForeignObject(o.isIndirect() ? o : source.makeIndirectObject(o));
}

// The page alone in a document of its own, for PDFium to read back: its boxes, resources,
// content and the appearances of its annotations, without anything that leads to other pages.
bool page_alone(QPDF& source, QPDFPageObjectHelper& page, std::vector<uint8_t>& out) {
  QPDF one;
  one.emptyPDF();
  QPDFObjectHandle dict = QPDFObjectHandle::newDictionary();
  dict.replaceKey("/Type", QPDFObjectHandle::newName("/Page"));
  for (const char* key : {"/MediaBox", "/CropBox", "/Rotate", "/Resources"}) {
    QPDFObjectHandle v = page.getAttribute(key, false);
    if (!v.isNull()) dict.replaceKey(key, v.isDictionary() || v.isArray() ? copied(source, one, v) : v);
  }
  QPDFObjectHandle contents = page.getObjectHandle().getKey("/Contents");
  if (!contents.isNull()) dict.replaceKey("/Contents", copied(source, one, contents));
  QPDFObjectHandle annots = page.getObjectHandle().getKey("/Annots");
  QPDFObjectHandle kept = QPDFObjectHandle::newArray();
  for (int i = 0; annots.isArray() && i < annots.getArrayNItems(); ++i) {
    QPDFObjectHandle a = annots.getArrayItem(i);
    if (!a.isDictionary() || !a.hasKey("/AP")) continue;
    QPDFObjectHandle alone = a.shallowCopy();
    for (const char* key : {"/P", "/Parent", "/Popup", "/IRT", "/A", "/Dest", "/StructParent"}) alone.removeKey(key);
    kept.appendItem(copied(source, one, alone));
  }
  if (kept.getArrayNItems() > 0) dict.replaceKey("/Annots", kept);
  QPDFPageDocumentHelper(one).addPage(QPDFPageObjectHelper(one.makeIndirectObject(dict)), false);
  QPDFWriter w(one);
  w.setOutputMemory();
  w.setCompressStreams(false);
  w.setDecodeLevel(qpdf_dl_none);
  w.write();
  Buffer* b = w.getBuffer();
  out.assign(b->getBuffer(), b->getBuffer() + b->getSize());
  delete b;
  return !out.empty();
}

}  // namespace

// A qpdf copy of the document that content edits change page by page; PDFium reads each edited
// page back alone, so that checking an edit costs what the page costs, not the document.
struct PdfiumDocument::ContentSession {
  std::vector<uint8_t> bytes;  // qpdf reads stream data from these until it has written
  QPDF q;
  std::vector<QPDFPageObjectHelper> pages;
  StandardFonts fonts;
  bool changed = false;
};

// Only PDFium's calls hold the engine's lock: the copy of the file, each page's check and the
// load of the result. qpdf's reading, editing and writing, the long part on a large manual,
// leave every tab free to render, and the result replaces the document only when nothing
// changed it meanwhile.
bool PdfiumDocument::edit_pages(const std::function<void(ContentSession&)>& work) {
  std::vector<uint8_t> edited;
  uint64_t source = 0;
  int count = 0;
  bool object_streams = false;
  try {
    ContentSession session;
    {
      std::lock_guard<std::mutex> g(lock());
      // The file itself while nothing has changed it: a full save by PDFium loses its object
      // streams and costs as much as the edit.
      if (!copy_file(session.bytes)) return false;
      count = FPDF_GetPageCount(doc_);
      object_streams = uses_object_streams();
      source = revision_;
    }
    qpdf_bridge::open(session.q, session.bytes, password_);
    session.pages = QPDFPageDocumentHelper(session.q).getAllPages();
    if (session.pages.size() != static_cast<size_t>(count)) return false;
    work(session);
    if (!session.changed) return false;
    if (!qpdf_bridge::write(session.q, nullptr, edited, qpdf_bridge::streams_for(object_streams))) return false;
  } catch (...) {
    return false;
  }
  return swap_in_unchanged(source, edited, count, count, true);
}

bool PdfiumDocument::edit_page(ContentSession& session, int index, const ContentEdit& edit, const PageCheck& accept) {
  if (index < 0 || static_cast<size_t>(index) >= session.pages.size()) return false;
  QPDFPageObjectHelper& page = session.pages[static_cast<size_t>(index)];
  QPDFObjectHandle oh = page.getObjectHandle();
  // What the edit may change, to put back when PDFium does not read the result as intended.
  QPDFObjectHandle contents = oh.getKey("/Contents"), annots = oh.getKey("/Annots");
  auto restore = [&] {
    oh.replaceKey("/Contents", contents);
    if (annots.isNull()) oh.removeKey("/Annots");
    else oh.replaceKey("/Annots", annots);
  };
  try {
    content::PageContent c;
    if (!content::read_page(page, session.fonts.widths(), c) || !edit(page, c)) {
      restore();
      return false;
    }
    std::vector<uint8_t> alone;
    bool ok = page_alone(session.q, page, alone) && alone.size() < static_cast<size_t>(INT_MAX);
    if (ok) {
      std::lock_guard<std::mutex> g(lock());
      FPDF_DOCUMENT one = FPDF_LoadMemDocument(alone.data(), static_cast<int>(alone.size()), nullptr);
      {
        OwnPage before(doc_, index), after(one, 0);
        ok = one && before.page && after.page && accept(before.page, after.page);
      }
      if (one) FPDF_CloseDocument(one);
    }
    if (!ok) {
      restore();
      return false;
    }
  } catch (...) {
    restore();
    return false;
  }
  session.changed = true;
  return true;
}

void PdfiumDocument::edit_appearances(ContentSession& session, int index, const AppearanceEdit& edit) {
  if (index < 0 || static_cast<size_t>(index) >= session.pages.size()) return;
  if (edit(session.pages[static_cast<size_t>(index)], session.fonts.widths())) session.changed = true;
}

bool PdfiumDocument::edit_content(int index, const ContentEdit& edit, const PageCheck& accept) {
  bool done = false;
  return edit_pages([&](ContentSession& s) { done = edit_page(s, index, edit, accept); }) && done;
}

}  // namespace quorvel::pdfium
