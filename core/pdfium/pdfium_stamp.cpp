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
  {
    std::lock_guard<std::mutex> g(lock());
    if (!doc_) return 0;
    // Input still being typed into a field lives only in the form layer until focus leaves it.
    if (form_) FORM_ForceToKillFocus(form_);
    // The file itself while nothing has changed it, object streams and all.
    const std::vector<uint8_t>* file = file_bytes(current);
    if (!file) return 0;
    if (file != &current) current = *file;
    pages = FPDF_GetPageCount(doc_);
  }
  std::vector<uint8_t> stamped;
  const int drawn = qpdf_bridge::stamp_pictures(current, password_, pictures, placements, progress, stamped);
  std::vector<uint8_t>().swap(current);
  if (drawn <= 0 || stamped.size() >= static_cast<size_t>(INT_MAX)) return 0;

  std::lock_guard<std::mutex> g(lock());
  FPDF_DOCUMENT fresh = FPDF_LoadMemDocument(stamped.data(), static_cast<int>(stamped.size()),
                                             password_.empty() ? nullptr : password_.c_str());
  if (!fresh) return 0;
  if (FPDF_GetPageCount(fresh) != pages) {
    FPDF_CloseDocument(fresh);
    return 0;
  }
  // Moving the vector keeps its buffer, which the new handle reads from.
  adopt(std::move(stamped), fresh);
  return drawn;
}

}  // namespace quorvel::pdfium
