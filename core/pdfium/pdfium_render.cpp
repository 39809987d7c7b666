// Page size, tile rendering and text extraction.
#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>

#include "core/pdfium/pdfium_document.h"
#include "core/pdfium/qpdf_page_tree.h"
#include "core/text_codec.h"
#include "core/text_runs.h"

namespace quorvel::pdfium {

namespace {

struct OwnTextPage {
  FPDF_TEXTPAGE text = nullptr;
  explicit OwnTextPage(FPDF_PAGE page) : text(page ? FPDFText_LoadPage(page) : nullptr) {}
  ~OwnTextPage() {
    if (text) FPDFText_ClosePage(text);
  }
  OwnTextPage(const OwnTextPage&) = delete;
  OwnTextPage& operator=(const OwnTextPage&) = delete;
};

// A PDFium bitmap over memory the caller owns.
struct OwnBitmap {
  FPDF_BITMAP bitmap = nullptr;
  OwnBitmap(int width, int height, uint8_t* pixels, int stride)
      : bitmap(FPDFBitmap_CreateEx(width, height, QV_FPDFBitmap_BGRA, pixels, stride)) {}
  ~OwnBitmap() {
    if (bitmap) FPDFBitmap_Destroy(bitmap);
  }
  OwnBitmap(const OwnBitmap&) = delete;
  OwnBitmap& operator=(const OwnBitmap&) = delete;
};

// PDFium reports the size after the page's own rotation; the contract wants it before.
PageInfo info_of(FPDF_PAGE page) {
  PageInfo info;
  info.width = FPDF_GetPageWidth(page);
  info.height = FPDF_GetPageHeight(page);
  const int turns = FPDFPage_GetRotation(page) & 3;
  info.rotation = turns * 90;
  if (turns & 1) std::swap(info.width, info.height);
  return info;
}

// Pixels of the whole page along one side; false when that is not a sane int.
bool page_pixels(double points, double scale, int& out) {
  const double v = points * scale;
  if (!std::isfinite(v) || v < 0.0 || v > static_cast<double>(INT_MAX)) return false;
  const long r = std::lround(v);
  if (r > INT_MAX) return false;
  out = static_cast<int>(r);
  return true;
}

}  // namespace

std::future<bool> search_rotations(const std::vector<uint8_t>& bytes, const std::string& password) {
  const auto search = [data = bytes.data(), size = bytes.size(), password] {
    return qpdf_bridge::nothing_turned(data, size, password);
  };
  try {
    return std::async(std::launch::async, search);
  } catch (const std::system_error&) {
    return std::async(std::launch::deferred, search);
  }
}

void PdfiumDocument::drop_rotation_search() {
  if (unturned_.valid()) unturned_.wait();
  unturned_ = {};
}

int PdfiumDocument::tree_rotation(int index) const {
  if (!rotations_read_) {
    rotations_read_ = true;
    rotations_.clear();
    const int pages = FPDF_GetPageCount(doc_);
    // PDFium's own saves write no object streams, so its copies are walked straight away.
    bool unturned = false;
    if (rotations_from_bytes_)
      unturned = unturned_.valid() ? unturned_.get() : qpdf_bridge::nothing_turned(bytes_.data(), bytes_.size(), password_);
    if (unturned) {
      rotations_.assign(static_cast<size_t>(std::max(pages, 0)), 0);
    } else {
      std::vector<uint8_t> saved;
      if (!rotations_from_bytes_ && !write_to_memory(doc_, saved)) return -1;
      std::vector<int> turns;
      if (qpdf_bridge::page_rotations(rotations_from_bytes_ ? bytes_ : saved, password_, turns) &&
          turns.size() == static_cast<size_t>(pages)) {
        rotations_.swap(turns);
      }
    }
  }
  return static_cast<size_t>(index) < rotations_.size() ? rotations_[static_cast<size_t>(index)] : -1;
}

// Loading a page parses its whole content; the size and the tree's rotation give the same
// answer without that wherever the tree is plain.
PageInfo PdfiumDocument::page_info(int page) const {
  std::lock_guard<std::mutex> g(lock());
  if (page < 0 || page >= FPDF_GetPageCount(doc_)) return {};
  if (const auto it = cache_.find(page); it != cache_.end()) return info_of(it->second.page);
  const int turns = tree_rotation(page);
  if (turns < 0) {
    OwnPage p(doc_, page);
    return p.page ? info_of(p.page) : PageInfo{};
  }
  // PDFium gives the size after the page's own rotation, as for a loaded page.
  FS_SIZEF size{};
  if (revision_ == open_sizes_revision_ && static_cast<size_t>(page) < open_sizes_.size() &&
      open_sizes_[static_cast<size_t>(page)].width > 0)
    size = open_sizes_[static_cast<size_t>(page)];
  else if (!FPDF_GetPageSizeByIndexF(doc_, page, &size))
    return {};
  PageInfo info;
  info.width = size.width;
  info.height = size.height;
  info.rotation = turns * 90;
  if (turns & 1) std::swap(info.width, info.height);
  return info;
}

RenderedTile PdfiumDocument::render_tile(int page, const RenderRequest& req) {
  std::lock_guard<std::mutex> g(lock());
  return render_locked(page, req);
}

RenderedTile PdfiumDocument::render_tile_soon(int page, const RenderRequest& req, int wait_ms, bool& busy) {
  busy = false;
  std::unique_lock<std::mutex> g(lock(), std::try_to_lock);
  if (!g.owns_lock()) {
    // The lock is no timed one; its holders let go between short steps.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(wait_ms, 0));
    do {
      if (std::chrono::steady_clock::now() >= deadline) {
        busy = true;
        return {};
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    } while (!g.try_lock());
  }
  return render_locked(page, req);
}

RenderedTile PdfiumDocument::render_locked(int page, const RenderRequest& req) {
  RenderedTile tile;
  if (req.width <= 0 || req.height <= 0) return tile;
  if (!std::isfinite(req.scale) || req.scale <= 0.0) return tile;
  FPDF_PAGE p = shown_page(page);
  if (!p) return tile;

  const int rot = req.rotation & 3;
  const PageInfo info = info_of(p);
  double w = info.width;
  double h = info.height;
  if (((rot + info.rotation / 90) & 1) != 0) std::swap(w, h);
  int full_w = 0;
  int full_h = 0;
  if (!page_pixels(w, req.scale, full_w) || !page_pixels(h, req.scale, full_h)) return tile;

  // PDFium draws straight into the tile's pixels, which start white: no second buffer, no copy.
  // Its own limit on a bitmap's size holds here too.
  if (req.width > INT_MAX / 4) return tile;
  const size_t row = static_cast<size_t>(req.width) * 4;
  if (row * static_cast<size_t>(req.height) > UINT32_MAX) return tile;
  try {
    tile.pixels.assign(row * static_cast<size_t>(req.height), 0xFF);
  } catch (const std::bad_alloc&) {
    return {};
  }
  OwnBitmap bmp(req.width, req.height, tile.pixels.data(), static_cast<int>(row));
  if (!bmp.bitmap) return {};

  // A tile that misses the page stays white; skipping the call also keeps -x and -y in range.
  const int64_t x = req.x;
  const int64_t y = req.y;
  const bool meets_page = x < full_w && y < full_h && x + req.width > 0 && y + req.height > 0;
  if (meets_page) {
    const int sx = static_cast<int>(-x);
    const int sy = static_cast<int>(-y);
    FPDF_RenderPageBitmap(bmp.bitmap, p, sx, sy, full_w, full_h, rot, QV_FPDF_ANNOT);
    if (form_) FPDF_FFLDraw(form_, bmp.bitmap, p, sx, sy, full_w, full_h, rot, QV_FPDF_ANNOT);
  }
  tile.width = req.width;
  tile.height = req.height;
  return tile;
}

TextPage PdfiumDocument::extract_text(int page) const {
  TextPage result;
  std::lock_guard<std::mutex> g(lock());
  OwnPage p(doc_, page);
  if (!p.page) return result;
  OwnTextPage tp(p.page);
  if (!tp.text) return result;
  const int n = FPDFText_CountChars(tp.text);
  if (n <= 0) return result;

  // Grouping happens on PDFium's own numbers; only the result moves into page space.
  const int r = FPDFText_CountRects(tp.text, 0, n);
  std::vector<textruns::Rect> rects(r > 0 ? static_cast<size_t>(r) : 0);
  for (int i = 0; i < r; ++i) {
    textruns::Rect& b = rects[static_cast<size_t>(i)];
    if (!FPDFText_GetRect(tp.text, i, &b.left, &b.top, &b.right, &b.bottom)) b = {};
  }
  std::vector<textruns::Char> chars(static_cast<size_t>(n));
  for (int k = 0; k < n; ++k) {
    textruns::Char& c = chars[static_cast<size_t>(k)];
    if (!FPDFText_GetCharBox(tp.text, k, &c.left, &c.right, &c.bottom, &c.top)) {
      c.left = c.right = c.bottom = c.top = 0.0;
    }
    c.code = FPDFText_GetUnicode(tp.text, k);
  }
  result.runs = textruns::line_text(textruns::join_line_pieces(textruns::group(rects, chars)));

  const PageOrigin o = page_origin(p.page);
  for (TextRun& run : result.runs) {
    run.left = o.to_page_x(run.left);
    run.right = o.to_page_x(run.right);
    run.top = o.to_page_y(run.top);
    run.bottom = o.to_page_y(run.bottom);
    for (CharBox& c : run.chars) {
      c.left = o.to_page_x(c.left);
      c.right = o.to_page_x(c.right);
      c.top = o.to_page_y(c.top);
      c.bottom = o.to_page_y(c.bottom);
    }
  }

  if (result.runs.empty()) {
    // PDFium may write a surrogate pair for a single character: room for two units each.
    std::vector<uint16_t> buf(static_cast<size_t>(n) * 2 + 2, 0);
    if (FPDFText_GetText(tp.text, 0, n, buf.data()) > 0) {
      const PageInfo info = info_of(p.page);
      TextRun run;
      run.text = utf16le_to_utf8(buf);
      run.top = info.height;
      run.right = info.width;
      result.runs = textruns::line_text({std::move(run)});
    }
  }
  return result;
}

}  // namespace quorvel::pdfium
