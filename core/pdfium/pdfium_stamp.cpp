// Pictures shared by many pages. PDFium would store a picture once for every page it is placed
// on, so the document is saved to memory, drawn on with qpdf and loaded in place of the old one.
// Only the save and the load hold the engine's lock: renders and other calls wait for those,
// not for the qpdf pass.
#include <climits>

#include "core/pdfium/pdfium_document.h"
#include "core/pdfium/qpdf_stamp.h"

namespace quorvel::pdfium {

int PdfiumDocument::place_shared_pictures(const std::vector<Picture>& pictures,
                                          const std::vector<PicturePlacement>& placements,
                                          const std::function<bool(int percent)>& progress) {
  if (pictures.empty() || placements.empty()) return 0;
  std::vector<uint8_t> current;
  int pages = 0;
  uint64_t source = 0;
  {
    std::lock_guard<std::mutex> g(lock());
    // The file itself while nothing has changed it, object streams and all.
    if (!copy_file(current)) return 0;
    pages = FPDF_GetPageCount(doc_);
    source = revision_locked();
  }
  std::vector<uint8_t> stamped;
  const int drawn = qpdf_bridge::stamp_pictures(current, password_, pictures, placements, progress, stamped);
  std::vector<uint8_t>().swap(current);
  if (drawn <= 0) return 0;

  // Nothing is drawn over a document that changed meanwhile.
  return swap_in_unchanged(source, stamped, pages, pages) ? drawn : 0;
}

}  // namespace quorvel::pdfium
