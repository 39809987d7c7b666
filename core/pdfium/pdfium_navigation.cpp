// Links, outline and metadata.
#include <algorithm>
#include <chrono>
#include <thread>
#include <unordered_set>

#include "core/pdfium/pdfium_document.h"
#include "core/text_codec.h"

namespace quorvel::pdfium {

namespace {

constexpr int kLinkSteps = 10000;
constexpr int kOutlineDepth = 33;
constexpr int kSiblingsPerList = 5000;

// PDFium's UTF-16 getters report the byte length with the terminator; 2 or less is empty.
template <typename Read>
std::string utf16_value(Read read) {
  const unsigned long len = read(nullptr, 0);
  if (len <= 2) return {};
  std::vector<uint16_t> buf(len / 2, 0);
  read(buf.data(), static_cast<unsigned long>(buf.size() * 2));
  return utf16le_to_utf8(buf);
}

int dest_page(FPDF_DOCUMENT doc, FPDF_DEST dest) {
  return dest ? FPDFDest_GetDestPageIndex(doc, dest) : -1;
}

// Remote and embedded go-to actions name a page of another file.
bool leaves_document(unsigned long action_type) {
  return action_type == QV_PDFACTION_REMOTEGOTO || action_type == QV_PDFACTION_EMBEDDEDGOTO;
}

struct OutlineWalk {
  FPDF_DOCUMENT doc;
  std::unordered_set<FPDF_BOOKMARK> seen;
  // Asked before each bookmark is read; false ends the walk. Null: the walk runs through.
  std::function<bool()> pause;
};

// A bookmark's handle names its dictionary, so a loop in the tree shows as a handle seen
// before. Everything that follows a seen bookmark in its sibling chain was reached from it
// already, so the chain ends there. Each dictionary is read once at most, so the walk is
// bounded by the file's size and needs no cap on the total, which would cut real manuals.
// False when the walk was ended by its pause.
bool collect_bookmarks(OutlineWalk& walk, FPDF_BOOKMARK parent, std::vector<OutlineItem>& out, int depth) {
  if (depth == kOutlineDepth) return true;
  FPDF_BOOKMARK child = FPDFBookmark_GetFirstChild(walk.doc, parent);
  for (int n = 0; child && n < kSiblingsPerList; ++n) {
    if (!walk.seen.insert(child).second) break;
    if (walk.pause && !walk.pause()) return false;
    OutlineItem item;
    item.title = utf16_value([&](void* buf, unsigned long len) { return FPDFBookmark_GetTitle(child, buf, len); });
    FPDF_ACTION action = FPDFBookmark_GetAction(child);
    if (!action || !leaves_document(FPDFAction_GetType(action))) {
      if (FPDF_DEST dest = FPDFBookmark_GetDest(walk.doc, child)) {
        item.page = dest_page(walk.doc, dest);
      } else if (action) {
        item.page = dest_page(walk.doc, FPDFAction_GetDest(walk.doc, action));
      }
    }
    if (!collect_bookmarks(walk, child, item.children, depth + 1)) return false;
    out.push_back(std::move(item));
    child = FPDFBookmark_GetNextSibling(walk.doc, child);
  }
  return true;
}

std::string meta_text(FPDF_DOCUMENT doc, const char* key) {
  return utf16_value([&](void* buf, unsigned long len) { return FPDF_GetMetaText(doc, key, buf, len); });
}

}  // namespace

DocMetadata PdfiumDocument::metadata() const {
  DocMetadata m;
  std::lock_guard<std::mutex> g(lock());
  int v = 0;
  if (FPDF_GetFileVersion(doc_, &v) && v > 0) {
    m.version = std::to_string(v / 10) + "." + std::to_string(v % 10);
  }
  m.title = meta_text(doc_, "Title");
  m.author = meta_text(doc_, "Author");
  m.encrypted = FPDF_GetSecurityHandlerRevision(doc_) != -1;
  return m;
}

std::vector<OutlineItem> PdfiumDocument::outline() const {
  std::vector<OutlineItem> out;
  std::lock_guard<std::mutex> g(lock());
  OutlineWalk walk{doc_, {}, nullptr};
  collect_bookmarks(walk, nullptr, out, 0);
  return out;
}

// A paint polls the lock every 200 us: a rest longer than that after each hold lets it in, at
// an eighth more time for the read. A bookmark's destination can take 0.1 ms to resolve.
constexpr auto kOutlineHold = std::chrono::milliseconds(4);
constexpr auto kOutlineRest = std::chrono::microseconds(500);

// The lock is let go before every bookmark. Handles stay valid while the revision is the same:
// any swap of the document, which frees them, raises it under the lock.
std::optional<std::vector<OutlineItem>> PdfiumDocument::outline_at(uint64_t since,
                                                                   const std::function<bool()>& stop) const {
  std::vector<OutlineItem> out;
  std::unique_lock<std::mutex> g(lock());
  if (revision_ != since) return std::nullopt;
  // Another thread woken as the lock is let go between bookmarks mostly finds it taken again:
  // only the rest lets it in for sure.
  auto rested = std::chrono::steady_clock::now();
  OutlineWalk walk{doc_, {}, [&] {
                     g.unlock();
                     if (std::chrono::steady_clock::now() - rested >= kOutlineHold) {
                       std::this_thread::sleep_for(kOutlineRest);
                       rested = std::chrono::steady_clock::now();
                     }
                     if (stop()) return false;
                     g.lock();
                     return revision_ == since;
                   }};
  if (!collect_bookmarks(walk, nullptr, out, 0)) return std::nullopt;
  return out;
}

// The walk takes its first item whenever the tree has a first bookmark.
bool PdfiumDocument::has_outline() const {
  std::lock_guard<std::mutex> g(lock());
  return FPDFBookmark_GetFirstChild(doc_, nullptr) != nullptr;
}

std::vector<Link> PdfiumDocument::links(int page) const {
  std::vector<Link> out;
  std::lock_guard<std::mutex> g(lock());
  OwnPage p(doc_, page);
  if (!p.page) return out;
  const PageOrigin o = page_origin(p.page);
  int pos = 0;
  FPDF_LINK link = nullptr;
  for (int steps = 0; steps < kLinkSteps && FPDFLink_Enumerate(p.page, &pos, &link); ++steps) {
    if (!link) continue;
    Link l;
    FS_RECTF r{};
    if (FPDFLink_GetAnnotRect(link, &r)) {
      l.x0 = o.to_page_x(std::min(r.left, r.right));
      l.x1 = o.to_page_x(std::max(r.left, r.right));
      l.y0 = o.to_page_y(std::min(r.top, r.bottom));
      l.y1 = o.to_page_y(std::max(r.top, r.bottom));
    }
    FPDF_ACTION action = FPDFLink_GetAction(link);
    const unsigned long type = action ? FPDFAction_GetType(action) : QV_PDFACTION_UNSUPPORTED;
    // PDFium falls back to the action's destination, also for a go-to into another file,
    // whose page number means nothing in this one.
    FPDF_DEST dest = leaves_document(type) ? nullptr : FPDFLink_GetDest(doc_, link);
    if (dest) {
      l.page = dest_page(doc_, dest);
    } else if (action) {
      if (type == QV_PDFACTION_GOTO) {
        l.page = dest_page(doc_, FPDFAction_GetDest(doc_, action));
      } else if (type == QV_PDFACTION_URI) {
        const unsigned long len = FPDFAction_GetURIPath(doc_, action, nullptr, 0);
        if (len > 1) {
          std::string uri(len, '\0');
          FPDFAction_GetURIPath(doc_, action, uri.data(), len);
          uri.resize(len - 1);
          l.uri = std::move(uri);
        }
      }
    }
    if (l.page >= 0 || !l.uri.empty()) out.push_back(std::move(l));
  }
  return out;
}

}  // namespace quorvel::pdfium
