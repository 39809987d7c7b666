// Internals of the PDFium adapter, shared by its sources (one per area) and by nothing else.
// Every member function that touches PDFium expects the caller to hold pdfium::lock() unless
// its comment says it takes the lock itself; the lock is not recursive.
#pragma once

#ifndef QUORVEL_CORE_PRIVATE
#error "private header of the core's PDFium adapter: include core/engine.h instead"
#endif

#include <cstdint>
#include <functional>
#include <optional>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/engine.h"
#include "core/pdfium/pdfium_api.h"

class QPDFPageObjectHelper;

namespace quorvel::content {
struct PageContent;
}

namespace quorvel::pdfium {

std::mutex& lock();
void ensure_initialized();

// Page space has its origin at the lower-left corner of the page's crop box; PDFium speaks the
// file's user space. Everything handed out or taken in goes through these.
struct PageOrigin {
  double x = 0.0;
  double y = 0.0;
  double to_page_x(double ux) const { return ux - x; }
  double to_page_y(double uy) const { return uy - y; }
  double to_user_x(double px) const { return px + x; }
  double to_user_y(double py) const { return py + y; }
};
PageOrigin page_origin(FPDF_PAGE page);

// Owns a page loaded outside the cache; null when the index is out of range.
struct OwnPage {
  FPDF_PAGE page = nullptr;
  OwnPage(FPDF_DOCUMENT doc, int index) {
    if (index >= 0 && index < FPDF_GetPageCount(doc)) page = FPDF_LoadPage(doc, index);
  }
  ~OwnPage() {
    if (page) FPDF_ClosePage(page);
  }
  OwnPage(const OwnPage&) = delete;
  OwnPage& operator=(const OwnPage&) = delete;
};

// Starts finding out, beside the caller, whether `bytes` name no rotation at all (see
// qpdf_bridge::nothing_turned), so that a large manual's page shapes do not wait for it after
// PDFium's own parse. `bytes` must stay where they are until the result is taken or dropped.
std::future<bool> search_rotations(const std::vector<uint8_t>& bytes, const std::string& password);

// Pages whose dictionary PDFium cannot read (a broken cross-reference entry): what it would
// save of them is null. PDFium keeps what it parsed, so asking again is cheap. With `sizes`,
// every page's size as FPDF_GetPageSizeByIndexF gives it (zero for those pages).
std::vector<int> pages_without_dictionary(FPDF_DOCUMENT doc, std::vector<FS_SIZEF>* sizes = nullptr);

// Full save of a document into memory; `flags` as FPDF_SaveAsCopy takes them, never incremental.
bool write_to_memory(FPDF_DOCUMENT doc, std::vector<uint8_t>& out, FPDF_DWORD flags = QV_FPDF_NO_INCREMENTAL);
// How many full saves into memory this process has made (for tests and benchmarks).
size_t whole_saves();

class PdfiumDocument;

struct FormHolder {
  FPDF_FORMFILLINFO info;
  PdfiumDocument* owner;
};

class PdfiumDocument final : public IDocument {
 public:
  // `unturned` is a search_rotations over `bytes`, when one was started; `sizes` the pages'
  // sizes read as the document was opened, when they were.
  PdfiumDocument(std::vector<uint8_t> bytes, FPDF_DOCUMENT doc, std::string password,
                 std::future<bool> unturned = {}, std::vector<FS_SIZEF> sizes = {});
  ~PdfiumDocument() override;
  PdfiumDocument(const PdfiumDocument&) = delete;
  PdfiumDocument& operator=(const PdfiumDocument&) = delete;

  // Open/cache/forms (pdfium_engine.cpp).
  int page_count() const override;
  uint64_t revision() const override;
  bool has_form() const override;
  std::vector<int> unreadable_pages() const override;
  void form_click(int page, double x, double y, bool down) override;
  void form_char(unsigned code_point) override;
  void form_key(int key, bool down) override;

  // Rendering and text (pdfium_render.cpp).
  PageInfo page_info(int page) const override;
  RenderedTile render_tile(int page, const RenderRequest& req) override;
  RenderedTile render_tile_soon(int page, const RenderRequest& req, int wait_ms, bool& busy) override;
  TextPage extract_text(int page) const override;

  // Links, outline and metadata (pdfium_navigation.cpp).
  DocMetadata metadata() const override;
  std::vector<OutlineItem> outline() const override;
  bool has_outline() const override;
  std::optional<std::vector<OutlineItem>> outline_at(uint64_t since, const std::function<bool()>& stop) const override;
  std::vector<Link> links(int page) const override;

  // Saving with annotations (pdfium_save.cpp).
  bool save_as(const std::string& path, const std::vector<annot::Annotation>& annots) override;

  // Page structure (pdfium_pages.cpp).
  bool delete_page(int page) override;
  bool rotate_page(int page, int quarter_turns) override;
  bool move_page(int from, int to) override;
  bool merge(std::span<const std::byte> pdf, int index) override;
  bool save_range(const std::string& path, int first, int last) override;
  std::vector<bool> save_ranges(const std::vector<PageRangeFile>& parts) override;
  bool save_nup(const std::string& path, int cols, int rows) override;
  bool insert_blank_page(int index, double width, double height) override;
  bool crop_page(int page, double x0, double y0, double x1, double y1) override;
  annot::Point crop_origin(int page) const override;

  // Images, text layer, stamps (pdfium_images.cpp); removing images and redaction (redact.cpp).
  std::vector<ImageRef> list_images(int page) override;
  bool delete_image(int page, int index) override;
  int redact(int page, const std::vector<annot::Rect>& boxes) override;
  std::vector<int> redact_pages(const std::vector<std::pair<int, std::vector<annot::Rect>>>& pages) override;
  std::vector<std::optional<std::string>> shown_texts(const std::vector<int>& pages) override;
  // pdfium_text_layer.cpp
  int add_text_layer(int page, const std::vector<TextSpan>& words) override;
  std::vector<int> add_text_layers(const std::vector<std::pair<int, std::vector<TextSpan>>>& pages,
                                   std::optional<uint64_t> since = std::nullopt) override;
  bool image_pixel_size(int page, int index, int& width, int& height) override;
  bool place_image(int page, const uint8_t* bgra, int width, int height, double x0, double y0,
                   double x1, double y1) override;
  bool stamp_text(int page, const std::string& text, double font_size, int r, int g, int b, int a,
                  double x, double y, double angle) override;

  // Pictures shared by many pages, drawn through qpdf (pdfium_stamp.cpp).
  int place_shared_pictures(const std::vector<Picture>& pictures, const std::vector<PicturePlacement>& placements,
                            const std::function<bool(int percent)>& progress) override;

  // Text insertion and replacement (pdfium_text_edit.cpp).
  int replace_text(int page, const std::string& find, const std::string& replacement) override;
  std::vector<int> replace_text_pages(const std::vector<int>& pages, const std::string& find,
                                      const std::string& replacement) override;
  std::map<int, TextReplacement> replace_text_everywhere(const std::vector<int>& text_pages, const std::string& find,
                                                         const std::string& replacement) override;
  bool insert_text(int page, const std::string& text, double x, double y, double font_size,
                   unsigned rgb) override;

  // Copies for another program (pdfium_copy.cpp).
  std::vector<std::byte> source_bytes() const override;
  bool decrypted_copy(std::span<const std::byte> pdf, std::vector<uint8_t>& out) const override;
  Protector protector() const override;
  // A document that lives on a copy qpdf decrypted (encryption PDFium refuses): saved copies
  // are encrypted again as `original` was, with `password`, never written unprotected.
  bool keep_protection(std::span<const std::byte> original, const std::string& password);

  // --- adapter internals, lock held ---
  // The page object that edits, form input and renders share. The cache keeps the form page
  // and the most recently used others; an edit must reach the file (FPDFPage_GenerateContent,
  // or a change of the page dictionary) before its call returns, because a later call may close
  // the page and load it again from the file. Taking a page this way counts as changing the
  // document (see file_bytes); calls that only look at the page take shown_page instead.
  FPDF_PAGE cached_page(int index);
  FPDF_PAGE shown_page(int index);
  // cached_page without closing others, for PDFium's own requests: the page being worked on
  // when PDFium asks is one of those others.
  FPDF_PAGE load_into_cache(int index);
  // Every page leaves the cache. Call it before changing the list of pages.
  void close_cache();
  // How many pages the cache holds open; takes the lock (for tests and benchmarks).
  size_t open_pages() const;
  FPDF_DOCUMENT handle() const { return doc_; }
  FPDF_FORMHANDLE form_handle() const { return form_; }
  const std::string& password() const { return password_; }
  // The document as a file: the bytes it was opened or last rebuilt from while nothing has
  // changed it since, else a full save into `scratch`; null when that save fails. Tools that
  // write pages out start here, so that an unchanged document costs only what qpdf reads of it.
  const std::vector<uint8_t>* file_bytes(std::vector<uint8_t>& scratch);
  // A change made without a cached page (a page added to the tree).
  void mark_changed() {
    changed_ = true;
    ++revision_;
  }
  uint64_t revision_locked() const { return revision_; }
  // The start of a rewrite done on a copy of the file outside the lock: commits input still
  // being typed into a field (it lives only in the form layer until focus leaves it), then
  // copies the file (see file_bytes) into `out`. False when there is no document or the save
  // fails.
  bool copy_file(std::vector<uint8_t>& out);
  // The end of such a rewrite: `bytes` replace the document when nothing changed it since
  // revision `since`, they load with the document's password and their page count is in
  // [min_pages, max_pages]; otherwise the document stays as it is and this gives false. The
  // pages' turns are read from `bytes` first, outside the lock (the caller must not hold it):
  // the first page shape asked for afterwards would otherwise read them under it.
  // `removes_content` marks the swapped-in document as having had content taken out.
  bool swap_in_unchanged(uint64_t since, std::vector<uint8_t>& bytes, int min_pages, int max_pages,
                         bool removes_content = false);
  // Whether the file stored its objects in object streams; its copies do the same.
  bool uses_object_streams() const;
  int current_form_page() const { return form_page_ < 0 ? 0 : form_page_; }
  // Rewrites the content of page `index` with qpdf (content_edit.cpp): `edit` changes the page
  // and says whether it changed anything; the result replaces the document only when `accept`,
  // given the page as it was and as written, passes it. False when nothing was changed.
  // These and the session functions below are called without the lock: the qpdf work runs
  // outside it, which is taken for each of PDFium's calls (`edit` runs without it, `accept`
  // with it).
  using ContentEdit = std::function<bool(QPDFPageObjectHelper& page, content::PageContent& content)>;
  using PageCheck = std::function<bool(FPDF_PAGE before, FPDF_PAGE after)>;
  bool edit_content(int index, const ContentEdit& edit, const PageCheck& accept);
  // The same for several pages in one rewrite of the document: `work` calls edit_page for each,
  // which gives whether that page's edit was kept (a refused one leaves its page as it was).
  // False when no page changed.
  struct ContentSession;
  bool edit_pages(const std::function<void(ContentSession&)>& work);
  bool edit_page(ContentSession& session, int index, const ContentEdit& edit, const PageCheck& accept);
  // One page's redaction inside a session (redact.cpp): boxes painted, 0 or -1 as redact() gives.
  int redact_in(ContentSession& session, int page, const std::vector<annot::Rect>& boxes);
  // One page's replacement inside a session (pdfium_text_edit.cpp), given the page's runs.
  TextReplacement replace_in(ContentSession& session, int page, const TextPage& text, const std::string& find,
                             const std::string& replacement);
  // Lets `edit` change the annotations of page `index` (their appearances) inside a session;
  // `edit` says whether it changed anything.
  using AppearanceEdit = std::function<bool(
      QPDFPageObjectHelper& page, const std::function<std::optional<double>(const std::string&, char32_t)>& widths)>;
  void edit_appearances(ContentSession& session, int index, const AppearanceEdit& edit);
  std::map<int, TextReplacement> replace_counted(const std::vector<int>& text_pages, bool every_page_annotations,
                                                 const std::string& find, const std::string& replacement);
  // Runs `edit` on the document's file (see file_bytes) and swaps the result in when it loads
  // with the document's password, has a page count in [min_pages, max_pages] and nothing changed
  // the document meanwhile (pdfium_pages.cpp). Called without the lock: `edit` runs outside it.
  bool swap_in(int min_pages, int max_pages,
               const std::function<bool(const std::vector<uint8_t>&, std::vector<uint8_t>&)>& edit);
  // Replaces the document by another one made from `bytes` (a page edit done outside PDFium).
  // The form environment is rebuilt without running the document's open actions again.
  void adopt(std::vector<uint8_t> bytes, FPDF_DOCUMENT doc);

  FPDF_FONT font_ = nullptr;
  std::string font_bytes_;
  // Set by edits that take content out of the document (redaction, replaced text, deleted
  // images or pages). PDFium's full save still writes the orphaned objects, so save_as then
  // rewrites the copy through qpdf.
  bool content_removed_ = false;

 private:
  void setup_form(bool run_open_actions);
  RenderedTile render_locked(int page, const RenderRequest& req);
  void release_handles();
  void close_cached(int index);
  // Quarter turns of an uncached page from the page tree, -1 when only loading it tells.
  int tree_rotation(int index) const;

  std::vector<uint8_t> bytes_;
  FPDF_DOCUMENT doc_ = nullptr;
  FPDF_FORMHANDLE form_ = nullptr;
  FormHolder holder_{};
  struct CachedPage {
    FPDF_PAGE page;
    uint64_t used;
  };
  std::map<int, CachedPage> cache_;
  uint64_t uses_ = 0;
  int form_page_ = -1;
  // Read from the page tree on first use. /Rotate changes only through a cached page, whose
  // turn is written back here when it leaves the cache; the list of pages changes only after
  // close_cache() or adopt(), which drop the table.
  mutable std::vector<int> rotations_;
  mutable bool rotations_read_ = false;
  bool rotations_from_bytes_ = true;  // bytes_ still hold the document's page tree
  mutable std::future<bool> unturned_;  // search_rotations over bytes_, until taken
  // Waits for a search still reading bytes_ and drops its answer.
  void drop_rotation_search();
  std::string password_;  // needed to reload the document after a page edit through qpdf
  // The encryption of the file a decrypted document came from (keep_protection); empty for all
  // others.
  std::vector<uint8_t> protection_model_;
  std::string protection_password_;
  // Set by every edit and form input, cleared when bytes_ are replaced: while false, bytes_
  // are exactly the document.
  bool changed_ = false;
  // Raised by every edit, form input and swap of bytes_ (revision()).
  uint64_t revision_ = 1;
  // The open's own walk of the pages, good until the first change: a large manual's layout
  // then asks PDFium for no page twice.
  std::vector<FS_SIZEF> open_sizes_;
  uint64_t open_sizes_revision_ = 0;
};

}  // namespace quorvel::pdfium
