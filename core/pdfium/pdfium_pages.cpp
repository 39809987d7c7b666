// Page-structure edits. This PDFium build cannot import or move pages, so those edits hand the
// document's file to qpdf (its own bytes while unchanged, else a save to memory), do the page
// work there and load the result in place of the old document; the old one stays whenever any
// step fails. Ranges and N-up sheets are written from the same file.
#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>

#include "core/pdfium/pdfium_document.h"
#include "core/pdfium/qpdf_bridge.h"
#include "core/safe_write.h"

namespace quorvel::pdfium {

namespace {

// A box PDFium stores as floats; an infinite or NaN corner would make the saved file unreadable.
bool storable(double v) { return std::isfinite(v) && std::fabs(v) <= FLT_MAX; }

// PDFium walks the page tree to insert or delete a page and reads every kid on the way as a
// dictionary, unchecked: a kid of another type crashes it, and a /Count that promises pages
// the tree lacks makes it report a change it never made. Both show as a page that will not
// resolve, so the tree is touched only when every page does.
bool page_tree_sound(FPDF_DOCUMENT doc) { return pages_without_dictionary(doc).empty(); }

// Runs `edit` on a copy of the document's file outside the lock and swaps the result in when
// nothing changed the document meanwhile, it loads with the document's password and has a page
// count within the bounds that `prepare` gives; `prepare`, under the lock, checks the document
// first (false: nothing to do). The edit is told whether to write object streams: all objects
// go into them when the document's file had them, so that a save by PDFium (which writes none)
// does not leave them out.
template <typename Prepare, typename Edit>
bool swap_in_edited(PdfiumDocument& d, Prepare&& prepare, Edit&& edit) {
  std::vector<uint8_t> current;
  bool object_streams = false;
  uint64_t source = 0;
  int min_pages = 0, max_pages = 0;
  {
    std::lock_guard<std::mutex> g(lock());
    if (!d.handle() || !prepare(min_pages, max_pages)) return false;
    object_streams = d.uses_object_streams();
    if (!d.copy_file(current)) return false;
    source = d.revision_locked();
  }
  std::vector<uint8_t> edited;
  if (!edit(current, edited, object_streams)) return false;
  std::vector<uint8_t>().swap(current);
  return d.swap_in_unchanged(source, edited, min_pages, max_pages);
}

}  // namespace

bool PdfiumDocument::swap_in(int min_pages, int max_pages,
                             const std::function<bool(const std::vector<uint8_t>&, std::vector<uint8_t>&)>& edit) {
  return swap_in_edited(
      *this,
      [&](int& low, int& high) {
        low = min_pages;
        high = max_pages;
        return true;
      },
      [&](const std::vector<uint8_t>& in, std::vector<uint8_t>& out, bool) { return edit(in, out); });
}

bool PdfiumDocument::delete_page(int page) {
  return swap_in_edited(
      *this,
      [&](int& low, int& high) {
        if (page < 0) return false;
        const int n = FPDF_GetPageCount(doc_);
        // PDFium finds the page to delete by the /Count of each node on the way, but shows pages
        // in the order of its walk through the kids: where a /Count lies, it would delete another
        // page than the one shown. qpdf deletes by the walk, and the page check keeps the two in
        // step.
        if (page >= n || !page_tree_sound(doc_)) return false;
        low = high = n - 1;
        return true;
      },
      [&](const std::vector<uint8_t>& in, std::vector<uint8_t>& out, bool object_streams) {
        return qpdf_bridge::delete_page(in, password_, page, out, object_streams);
      });
}

bool PdfiumDocument::rotate_page(int page, int quarter_turns) {
  std::lock_guard<std::mutex> g(lock());
  if (!doc_ || page < 0 || page >= FPDF_GetPageCount(doc_)) return false;
  FPDF_PAGE p = cached_page(page);
  if (!p) return false;
  // Reducing first keeps the sum clear of int overflow; the result is the same modulo 4.
  FPDFPage_SetRotation(p, ((quarter_turns & 3) + FPDFPage_GetRotation(p)) & 3);
  return true;
}

bool PdfiumDocument::move_page(int from, int to) {
  return swap_in_edited(
      *this,
      [&](int& low, int& high) {
        const int n = FPDF_GetPageCount(doc_);
        if (from < 0 || to < 0 || from >= n || to >= n || from == to) return false;
        low = high = n;
        return true;
      },
      [&](const std::vector<uint8_t>& in, std::vector<uint8_t>& out, bool object_streams) {
        return qpdf_bridge::move_page(in, password_, from, to, out, object_streams);
      });
}

bool PdfiumDocument::insert_blank_page(int index, double width, double height) {
  std::lock_guard<std::mutex> g(lock());
  if (!doc_ || !(width > 0) || !(height > 0) || !storable(width) || !storable(height)) return false;
  const int n = FPDF_GetPageCount(doc_);
  if (index < 0 || index > n) return false;
  // Appending needs no walk through the tree.
  if (index < n && !page_tree_sound(doc_)) return false;
  close_cache();
  FPDF_PAGE p = FPDFPage_New(doc_, index, width, height);
  if (!p) return false;
  FPDF_ClosePage(p);
  mark_changed();
  return true;
}

bool PdfiumDocument::crop_page(int page, double x0, double y0, double x1, double y1) {
  std::lock_guard<std::mutex> g(lock());
  if (!doc_ || !(x0 < x1) || !(y0 < y1)) return false;
  const int n = FPDF_GetPageCount(doc_);
  const int first = page < 0 ? 0 : page;
  const int last = page < 0 ? n - 1 : page;
  if (last >= n) return false;
  for (int i = first; i <= last; ++i) {
    FPDF_PAGE p = cached_page(i);
    if (!p) return false;
    // The caller's corners are in page space, relative to this page's current crop box.
    const PageOrigin o = page_origin(p);
    const double l = o.to_user_x(x0), b = o.to_user_y(y0), r = o.to_user_x(x1), t = o.to_user_y(y1);
    if (!storable(l) || !storable(b) || !storable(r) || !storable(t)) return false;
    FPDFPage_SetCropBox(p, static_cast<float>(l), static_cast<float>(b), static_cast<float>(r),
                        static_cast<float>(t));
  }
  return true;
}

annot::Point PdfiumDocument::crop_origin(int page) const {
  std::lock_guard<std::mutex> g(lock());
  if (!doc_) return {};
  // A load of its own, as for the page size: nothing is kept, and the page's boxes are read
  // from its dictionary, where crops are written at once.
  OwnPage p(doc_, page);
  if (!p.page) return {};
  const PageOrigin o = page_origin(p.page);
  return {o.x, o.y};
}

bool PdfiumDocument::merge(std::span<const std::byte> pdf, int index) {
  if (pdf.empty() || pdf.size() >= static_cast<size_t>(INT_MAX)) return false;
  int at = 0;
  return swap_in_edited(
      *this,
      [&](int& low, int& high) {
        const int n = FPDF_GetPageCount(doc_);
        if (index > n) return false;
        at = index < 0 ? n : index;
        // Refuse what PDFium cannot open before anything of the open document is touched (a
        // focused form field included); a file that needs a password cannot be merged.
        FPDF_DOCUMENT src = FPDF_LoadMemDocument(pdf.data(), static_cast<int>(pdf.size()), nullptr);
        if (!src) return false;
        // Every page of the other file comes over, or none: a page qpdf cannot take would be
        // counted and not added.
        const int added = FPDF_GetPageCount(src);
        const bool whole = added > 0 && added <= INT_MAX - n && page_tree_sound(src);
        FPDF_CloseDocument(src);
        if (!whole) return false;
        low = high = n + added;
        return true;
      },
      [&](const std::vector<uint8_t>& in, std::vector<uint8_t>& out, bool) {
        return qpdf_bridge::merge(in, password_, pdf, at, out);
      });
}

bool PdfiumDocument::save_range(const std::string& path, int first, int last) {
  return save_ranges({{path, first, last}}).front();
}

std::vector<bool> PdfiumDocument::save_ranges(const std::vector<PageRangeFile>& parts) {
  std::vector<bool> written(parts.size(), false);
  std::vector<uint8_t> file;
  std::vector<qpdf_bridge::PageRange> ranges;
  bool object_streams = false;
  {
    std::lock_guard<std::mutex> g(lock());
    if (!doc_ || parts.empty()) return written;
    // A part holding a page that cannot be read is not written at all rather than written
    // without that page's content.
    const std::vector<int> unreadable = pages_without_dictionary(doc_);
    const int n = FPDF_GetPageCount(doc_);
    for (const PageRangeFile& p : parts) {
      const bool valid = p.first >= 0 && p.first <= p.last && p.last < n;
      const bool whole = std::none_of(unreadable.begin(), unreadable.end(),
                                      [&](int page) { return page >= p.first && page <= p.last; });
      // qpdf makes nothing of an empty range.
      ranges.push_back(valid && whole ? qpdf_bridge::PageRange{p.first, p.last} : qpdf_bridge::PageRange{0, -1});
    }
    object_streams = uses_object_streams();
    if (!copy_file(file)) return written;
  }
  // qpdf reads and writes outside the lock, from a copy of the file.
  return qpdf_bridge::extract_ranges(file, password_, ranges, object_streams,
                                     [&](size_t k, const std::vector<uint8_t>& bytes) {
                                       return write_file_atomically(parts[k].path, bytes);
                                     });
}

bool PdfiumDocument::save_nup(const std::string& path, int cols, int rows) {
  double width = 612;
  double height = 792;
  std::vector<uint8_t> file;
  bool object_streams = false;
  {
    std::lock_guard<std::mutex> g(lock());
    if (!doc_ || cols <= 0 || rows <= 0) return false;
    if (!pages_without_dictionary(doc_).empty()) return false;
    FS_SIZEF size{};
    if (FPDF_GetPageCount(doc_) > 0 && FPDF_GetPageSizeByIndexF(doc_, 0, &size) && size.width > 0 &&
        size.height > 0) {
      width = size.width;
      height = size.height;
    }
    object_streams = uses_object_streams();
    if (!copy_file(file)) return false;
  }
  std::vector<uint8_t> sheets;
  if (!qpdf_bridge::nup(file, password_, cols, rows, width, height, sheets, object_streams)) return false;
  return write_file_atomically(path, sheets);
}

}  // namespace quorvel::pdfium
