// The PDFium engine: library start-up, the process-wide lock, opening documents, the page
// cache and the form-filling environment.
#include <atomic>
#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "core/pdf_check.h"
#include "core/pdfium/pdfium_document.h"
#include "core/pdfium/pdfium_fonts.h"
#include "core/pdfium/qpdf_recover.h"
#include "core/pdfium/qpdf_page_tree.h"

namespace quorvel::pdfium {

namespace {

// Enough for a screenful of pages and their neighbours at any zoom, and for the thumbnails in
// sight; a page parsed once costs from tens of kilobytes to megabytes.
constexpr size_t kCachedPages = 32;

// The form filler's virtual key code of Backspace, which is also the character it makes.
constexpr int kBackspaceKey = 8;

}  // namespace

std::mutex& lock() {
  static std::mutex m;
  return m;
}

void ensure_initialized() {
  static std::once_flag once;
  std::call_once(once, [] {
    FPDF_InitLibrary();
    install_fallback_fonts();
  });
}

PageOrigin page_origin(FPDF_PAGE page) {
  FS_RECTF box{};
  if (page && FPDF_GetPageBoundingBox(page, &box)) {
    return {std::min(box.left, box.right), std::min(box.top, box.bottom)};
  }
  return {};
}

namespace {

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

PdfiumDocument* owner_of(FPDF_FORMFILLINFO* info) {
  return reinterpret_cast<FormHolder*>(info)->owner;
}

// Callbacks run inside a PDFium call that already holds the lock.
void cb_nothing(FPDF_FORMFILLINFO*) {}
void cb_rect(FPDF_FORMFILLINFO*, FPDF_PAGE, double, double, double, double) {}
void cb_cursor(FPDF_FORMFILLINFO*, int) {}
int cb_set_timer(FPDF_FORMFILLINFO*, int, TimerCallback) { return 0; }
void cb_kill_timer(FPDF_FORMFILLINFO*, int) {}
FPDF_SYSTEMTIME cb_local_time(FPDF_FORMFILLINFO*) { return FPDF_SYSTEMTIME{}; }
FPDF_PAGE cb_get_page(FPDF_FORMFILLINFO* info, FPDF_DOCUMENT, int index) {
  return owner_of(info)->load_into_cache(index);
}
int cb_rotation(FPDF_FORMFILLINFO*, FPDF_PAGE) { return 0; }
void cb_named_action(FPDF_FORMFILLINFO*, FPDF_BYTESTRING) {}
void cb_text_focus(FPDF_FORMFILLINFO*, FPDF_WIDESTRING, FPDF_DWORD, FPDF_BOOL) {}
void cb_uri(FPDF_FORMFILLINFO*, FPDF_BYTESTRING) {}
void cb_goto(FPDF_FORMFILLINFO*, int, int, float*, int) {}

}  // namespace

// The current-page callback needs the document's private form page.
FPDF_PAGE current_form_page_cb(FPDF_FORMFILLINFO* info, FPDF_DOCUMENT);

namespace {
std::atomic<size_t> g_whole_saves{0};
}  // namespace

size_t whole_saves() { return g_whole_saves.load(); }

bool write_to_memory(FPDF_DOCUMENT doc, std::vector<uint8_t>& out, FPDF_DWORD flags) {
  ++g_whole_saves;
  out.clear();
  MemoryWriter w{{1, &write_block}, &out};
  return FPDF_SaveAsCopy(doc, &w.base, flags) != 0 && !out.empty();
}

PdfiumDocument::PdfiumDocument(std::vector<uint8_t> bytes, FPDF_DOCUMENT doc, std::string password,
                               std::future<bool> unturned, std::vector<FS_SIZEF> sizes)
    : bytes_(std::move(bytes)),
      doc_(doc),
      unturned_(std::move(unturned)),
      password_(std::move(password)),
      open_sizes_(std::move(sizes)),
      open_sizes_revision_(revision_) {
  if (FPDF_GetFormType(doc_) != 0) setup_form(true);
}

PdfiumDocument::~PdfiumDocument() {
  drop_rotation_search();
  std::vector<uint8_t> bytes;
  std::string font_bytes;
  {
    std::lock_guard<std::mutex> g(lock());
    release_handles();
    // Buffers PDFium may still read from are freed only after the lock is released.
    bytes.swap(bytes_);
    font_bytes.swap(font_bytes_);
  }
}

void PdfiumDocument::release_handles() {
  close_cache();
  if (form_) FPDFDOC_ExitFormFillEnvironment(form_);
  form_ = nullptr;
  if (font_) FPDFFont_Close(font_);
  font_ = nullptr;
  if (doc_) FPDF_CloseDocument(doc_);
  doc_ = nullptr;
}

void PdfiumDocument::setup_form(bool run_open_actions) {
  std::memset(&holder_, 0, sizeof holder_);
  holder_.owner = this;
  FPDF_FORMFILLINFO& f = holder_.info;
  f.version = 1;
  f.Release = &cb_nothing;
  f.FFI_Invalidate = &cb_rect;
  f.FFI_OutputSelectedRect = &cb_rect;
  f.FFI_SetCursor = &cb_cursor;
  f.FFI_SetTimer = &cb_set_timer;
  f.FFI_KillTimer = &cb_kill_timer;
  f.FFI_GetLocalTime = &cb_local_time;
  f.FFI_OnChange = &cb_nothing;
  f.FFI_GetPage = &cb_get_page;
  f.FFI_GetCurrentPage = &current_form_page_cb;
  f.FFI_GetRotation = &cb_rotation;
  f.FFI_ExecuteNamedAction = &cb_named_action;
  f.FFI_SetTextFieldFocus = &cb_text_focus;
  f.FFI_DoURIAction = &cb_uri;
  f.FFI_DoGoToAction = &cb_goto;
  form_ = FPDFDOC_InitFormFillEnvironment(doc_, &holder_.info);
  if (!form_) return;
  FPDF_SetFormFieldHighlightColor(form_, 0, 0x3370FF);
  FPDF_SetFormFieldHighlightAlpha(form_, 40);
  if (run_open_actions) {
    // There is no JavaScript engine in this PDFium build, so document scripts never run.
    FORM_DoDocumentJSAction(form_);
    FORM_DoDocumentOpenAction(form_);
  }
}

void PdfiumDocument::adopt(std::vector<uint8_t> bytes, FPDF_DOCUMENT doc) {
  drop_rotation_search();
  release_handles();
  bytes_ = std::move(bytes);
  font_bytes_.clear();
  doc_ = doc;
  form_page_ = -1;
  rotations_from_bytes_ = true;
  changed_ = false;
  ++revision_;
  if (FPDF_GetFormType(doc_) != 0) setup_form(false);
}

bool PdfiumDocument::copy_file(std::vector<uint8_t>& out) {
  if (!doc_) return false;
  if (form_) FORM_ForceToKillFocus(form_);
  const std::vector<uint8_t>* file = file_bytes(out);
  if (!file) return false;
  if (file != &out) out = *file;
  return true;
}

bool PdfiumDocument::swap_in_unchanged(uint64_t since, std::vector<uint8_t>& bytes, int min_pages, int max_pages,
                                       bool removes_content) {
  if (bytes.empty() || bytes.size() >= static_cast<size_t>(INT_MAX)) return false;
  std::vector<int> turns;
  const bool unturned = qpdf_bridge::nothing_turned(bytes.data(), bytes.size(), password_);
  if (!unturned && !qpdf_bridge::page_rotations(bytes, password_, turns)) turns.clear();
  std::lock_guard<std::mutex> g(lock());
  if (!doc_ || revision_ != since) return false;
  FPDF_DOCUMENT fresh = FPDF_LoadMemDocument(bytes.data(), static_cast<int>(bytes.size()),
                                             password_.empty() ? nullptr : password_.c_str());
  if (!fresh) return false;
  const int count = FPDF_GetPageCount(fresh);
  if (count < min_pages || count > max_pages) {
    FPDF_CloseDocument(fresh);
    return false;
  }
  // Moving the vector keeps its buffer, which the new handle reads from.
  adopt(std::move(bytes), fresh);
  if (removes_content) content_removed_ = true;
  if (unturned) turns.assign(static_cast<size_t>(count), 0);
  if (turns.size() == static_cast<size_t>(count)) {
    rotations_ = std::move(turns);
    rotations_read_ = true;
  }
  return true;
}

FPDF_PAGE current_form_page_cb(FPDF_FORMFILLINFO* info, FPDF_DOCUMENT) {
  PdfiumDocument* d = reinterpret_cast<FormHolder*>(info)->owner;
  return d->load_into_cache(d->current_form_page());
}

FPDF_PAGE PdfiumDocument::load_into_cache(int index) {
  if (auto it = cache_.find(index); it != cache_.end()) {
    it->second.used = ++uses_;
    return it->second.page;
  }
  if (index < 0 || index >= FPDF_GetPageCount(doc_)) return nullptr;
  FPDF_PAGE page = FPDF_LoadPage(doc_, index);
  if (!page) return nullptr;
  if (form_) FORM_OnAfterLoadPage(page, form_);
  cache_.emplace(index, CachedPage{page, ++uses_});
  return page;
}

FPDF_PAGE PdfiumDocument::cached_page(int index) {
  FPDF_PAGE page = shown_page(index);
  if (page) mark_changed();
  return page;
}

FPDF_PAGE PdfiumDocument::shown_page(int index) {
  if (!cache_.contains(index) && index >= 0 && index < FPDF_GetPageCount(doc_)) {
    // Closing a page may make PDFium ask for others (see close_cache), so the victim is chosen
    // afresh each time and the number of rounds is bounded.
    for (size_t round = 0; cache_.size() >= kCachedPages && round < kCachedPages; ++round) {
      int victim = -1;
      uint64_t oldest = UINT64_MAX;
      for (const auto& [i, c] : cache_) {
        if (i != form_page_ && c.used < oldest) {
          victim = i;
          oldest = c.used;
        }
      }
      if (victim < 0) break;
      close_cached(victim);
    }
  }
  return load_into_cache(index);
}

void PdfiumDocument::close_cached(int index) {
  const auto it = cache_.find(index);
  if (it == cache_.end()) return;
  FPDF_PAGE page = it->second.page;
  if (static_cast<size_t>(index) < rotations_.size()) {
    rotations_[static_cast<size_t>(index)] = FPDFPage_GetRotation(page) & 3;
  }
  if (form_) FORM_OnBeforeClosePage(page, form_);
  FPDF_ClosePage(page);
  // By key: PDFium's requests while the page closed may have changed the map.
  cache_.erase(index);
}

void PdfiumDocument::close_cache() {
  // Closing the page of the focused field commits the field, and PDFium then asks for the
  // pages of the field's other widgets through FFI_GetPage, which loads them into this cache.
  // Committing first does that while every page is open; a page leaves the cache only once it
  // is closed, so no request gets a closed one, and whatever arrives meanwhile is closed too.
  if (form_) FORM_ForceToKillFocus(form_);
  while (!cache_.empty()) close_cached(cache_.begin()->first);
  form_page_ = -1;
  // The list of pages is about to change; the tree is read again, from a save.
  rotations_.clear();
  rotations_read_ = false;
  rotations_from_bytes_ = false;
}

const std::vector<uint8_t>* PdfiumDocument::file_bytes(std::vector<uint8_t>& scratch) {
  if (!changed_) return &bytes_;
  return write_to_memory(doc_, scratch) ? &scratch : nullptr;
}

bool PdfiumDocument::uses_object_streams() const {
  const std::string_view file(reinterpret_cast<const char*>(bytes_.data()), bytes_.size());
  return file.find("/ObjStm") != std::string_view::npos;
}

std::vector<int> pages_without_dictionary(FPDF_DOCUMENT doc, std::vector<FS_SIZEF>* sizes) {
  std::vector<int> pages;
  const int n = doc ? FPDF_GetPageCount(doc) : 0;
  if (sizes) sizes->assign(static_cast<size_t>(std::max(n, 0)), FS_SIZEF{});
  for (int i = 0; i < n; ++i) {
    FS_SIZEF size{};
    if (!FPDF_GetPageSizeByIndexF(doc, i, &size)) pages.push_back(i);
    if (sizes) (*sizes)[static_cast<size_t>(i)] = size;
  }
  return pages;
}

std::vector<int> PdfiumDocument::unreadable_pages() const {
  std::vector<uint8_t> scratch;
  const std::vector<uint8_t>* file = &bytes_;
  {
    std::lock_guard<std::mutex> g(lock());
    std::vector<int> pages = pages_without_dictionary(doc_);
    // A root without kids is the one page PDFium reports: the tree itself, not a page.
    if (!pages.empty() || FPDF_GetPageCount(doc_) != 1) return pages;
    if (changed_ && !write_to_memory(doc_, scratch)) return pages;
    if (changed_) file = &scratch;
  }
  // bytes_ change only with the document itself (open, adopt), never during a call.
  if (!qpdf_bridge::tree_has_page(*file, password_)) return {0};
  return {};
}

size_t PdfiumDocument::open_pages() const {
  std::lock_guard<std::mutex> g(lock());
  return cache_.size();
}

int PdfiumDocument::page_count() const {
  std::lock_guard<std::mutex> g(lock());
  return FPDF_GetPageCount(doc_);
}

uint64_t PdfiumDocument::revision() const {
  std::lock_guard<std::mutex> g(lock());
  return revision_;
}

bool PdfiumDocument::has_form() const {
  std::lock_guard<std::mutex> g(lock());
  return form_ != nullptr;
}

void PdfiumDocument::form_click(int page, double x, double y, bool down) {
  std::lock_guard<std::mutex> g(lock());
  if (!form_) return;
  FPDF_PAGE p = cached_page(page);
  if (!p) return;
  form_page_ = page;
  const PageOrigin o = page_origin(p);
  if (down) {
    // The form layer makes a field's handler when the pointer enters it, and a press on a
    // field without one neither reaches it nor moves the focus there: a second field clicked
    // while the first has the focus would leave the typing in the first. The pointer enters
    // the field before it is pressed, as it would on screen.
    FORM_OnMouseMove(form_, p, 0, o.to_user_x(x), o.to_user_y(y));
    FORM_OnLButtonDown(form_, p, 0, o.to_user_x(x), o.to_user_y(y));
  } else {
    FORM_OnLButtonUp(form_, p, 0, o.to_user_x(x), o.to_user_y(y));
  }
}

void PdfiumDocument::form_char(unsigned code_point) {
  std::lock_guard<std::mutex> g(lock());
  if (!form_ || form_page_ < 0) return;
  if (FPDF_PAGE p = cached_page(form_page_)) FORM_OnChar(form_, p, static_cast<int>(code_point), 0);
}

void PdfiumDocument::form_key(int key, bool down) {
  std::lock_guard<std::mutex> g(lock());
  if (!form_ || form_page_ < 0) return;
  FPDF_PAGE p = cached_page(form_page_);
  if (!p) return;
  if (down) {
    FORM_OnKeyDown(form_, p, key, 0);
    // The form filler deletes backwards on the character that the key makes, as a platform
    // sends it after the key: the key alone leaves the text as it was.
    if (key == kBackspaceKey) FORM_OnChar(form_, p, kBackspaceKey, 0);
  } else {
    FORM_OnKeyUp(form_, p, key, 0);
  }
}

namespace {

// A trailer's /Encrypt whose object PDFium cannot find (a broken cross-reference entry) makes it
// read the file as unencrypted: every string and stream then reads as ciphertext. Other readers
// rebuild the table and ask for the password; so does this engine, through qpdf's rebuild. Only
// a key of a trailer (or of a cross-reference stream's dictionary) counts: text about PDFs may
// hold the name anywhere.
bool trailer_names_encryption(const std::vector<uint8_t>& bytes) {
  const std::string_view file(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  constexpr size_t kDictionary = 1024;  // farther back than any trailer's keys reach
  constexpr int kLooks = 64;            // a file that names it more often is not read that far
  constexpr std::string_view kKey = "/Encrypt";
  int looks = 0;
  for (size_t at = file.find(kKey); at != std::string_view::npos && looks < kLooks; at = file.find(kKey, at + 1), ++looks) {
    const size_t end = at + kKey.size();
    if (end < file.size() && std::isalnum(static_cast<unsigned char>(file[end]))) continue;  // /EncryptMetadata
    const size_t from = at > kDictionary ? at - kDictionary : 0;
    const std::string_view before = file.substr(from, at - from);
    const size_t trailer = before.rfind("trailer"), xref = before.rfind("/XRef");
    const size_t start = trailer == std::string_view::npos ? xref
                         : xref == std::string_view::npos  ? trailer
                                                           : std::max(trailer, xref);
    // Not where a stream's data runs on from before the trailer's keyword.
    const size_t data = before.rfind("stream"), data_end = before.rfind("endstream");
    const bool in_stream = data != std::string_view::npos && (data_end == std::string_view::npos || data != data_end + 3);
    if (start != std::string_view::npos && !in_stream && before.find("endobj", start) == std::string_view::npos)
      return true;
  }
  return false;
}

class PdfiumEngine final : public IPdfEngine {
 public:
  std::unique_ptr<IDocument> open(std::span<const std::byte> bytes, std::string_view password) override {
    return open(bytes, password, OpenHints{});
  }

  std::unique_ptr<IDocument> open(std::span<const std::byte> bytes, std::string_view password,
                                  const OpenHints& hints) override {
    needs_password_ = false;
    // PDFium takes the length as an int; nothing of that size is a document we could show.
    if (bytes.empty() || bytes.size() >= static_cast<size_t>(INT_MAX)) return nullptr;
    ensure_initialized();
    // Copied without zeroing first: a large manual's bytes are touched once.
    const auto* first = reinterpret_cast<const uint8_t*>(bytes.data());
    std::vector<uint8_t> copy(first, first + bytes.size());
    const std::string pw(password);
    size_t unreadable = 0;
    bool lost_encryption = false;
    int pages = 0;
    std::vector<FS_SIZEF> sizes;
    // Reads `copy`, which moves into the document with its buffer in place; until then it stays
    // here, declared before the search, so that the search ends before it goes.
    std::future<bool> unturned;
    if (hints.no_rotate_key) {
      std::promise<bool> known;
      known.set_value(true);
      unturned = known.get_future();
    } else {
      unturned = search_rotations(copy, pw);
    }
    bool refused_password = false;
    {
      std::lock_guard<std::mutex> g(lock());
      FPDF_DOCUMENT doc = load(copy, pw);
      refused_password = !doc && needs_password_;
      if (doc) {
        lost_encryption = FPDF_GetSecurityHandlerRevision(doc) == -1 && trailer_names_encryption(copy);
        unreadable = pages_without_dictionary(doc, &sizes).size();
        pages = FPDF_GetPageCount(doc);
        if (!lost_encryption && unreadable == 0)
          return std::make_unique<PdfiumDocument>(std::move(copy), doc, pw, std::move(unturned), std::move(sizes));
        FPDF_CloseDocument(doc);
      }
    }
    if (refused_password) return open_decrypted(copy, pw);
    const bool pdfium_opened = unreadable > 0 || lost_encryption;
    // PDFium refuses files that other readers open (a cut-off download, a lost header or
    // trailer), or opens them with pages it cannot read. qpdf rebuilds them without PDFium's
    // lock, and the document then lives on the rebuilt copy, which is also what later edits and
    // saves start from.
    std::vector<uint8_t> repaired;
    const qpdf_bridge::Recovery r = qpdf_bridge::recover(copy, pw, repaired);
    if (r == qpdf_bridge::Recovery::needs_password) needs_password_ = true;
    std::lock_guard<std::mutex> g(lock());
    if (r == qpdf_bridge::Recovery::repaired && repaired.size() < static_cast<size_t>(INT_MAX)) {
      FPDF_DOCUMENT doc = load(repaired, pw);
      if (!doc && needs_password_) return nullptr;
      if (doc) {
        // For a file that opened, a rebuild that lost pages, or read no more of them (or found
        // no encryption after all), is no repair.
        const size_t left = pages_without_dictionary(doc).size();
        const bool better =
            !pdfium_opened || (FPDF_GetPageCount(doc) == pages && left <= unreadable &&
                        (lost_encryption ? FPDF_GetSecurityHandlerRevision(doc) != -1 : left < unreadable));
        if (better) return std::make_unique<PdfiumDocument>(std::move(repaired), doc, pw);
        FPDF_CloseDocument(doc);
      }
    }
    // The file as PDFium read it: its unreadable pages stay known as such, and a file whose
    // encryption qpdf did not confirm is taken as PDFium took it.
    if (!pdfium_opened || (lost_encryption && r == qpdf_bridge::Recovery::needs_password)) return nullptr;
    FPDF_DOCUMENT doc = load(copy, pw);
    needs_password_ = false;
    return doc ? std::make_unique<PdfiumDocument>(std::move(copy), doc, pw, std::move(unturned)) : nullptr;
  }

  EngineCapabilities capabilities() const override { return {true, true, true}; }
  bool last_open_needs_password() const override { return needs_password_; }

 private:
  // Lock held. PDFium reads from `bytes` for as long as the handle is open.
  FPDF_DOCUMENT load(std::vector<uint8_t>& bytes, const std::string& pw) {
    FPDF_DOCUMENT doc = FPDF_LoadMemDocument(bytes.data(), static_cast<int>(bytes.size()),
                                             pw.empty() ? nullptr : pw.c_str());
    if (!doc) needs_password_ = FPDF_GetLastError() == QV_FPDF_ERR_PASSWORD;
    return doc;
  }

  // PDFium refuses some encryption that other readers accept with the same password (an AES-256
  // dictionary whose /Perms disagrees with /P): qpdf decrypts it, and the document lives on the
  // decrypted copy. A password qpdf refuses too is still asked for.
  std::unique_ptr<IDocument> open_decrypted(const std::vector<uint8_t>& file, const std::string& pw) {
    std::vector<uint8_t> plain;
    const auto bytes = std::as_bytes(std::span<const uint8_t>(file.data(), file.size()));
    if (!pdfcheck::decrypt(bytes, pw, plain) || plain.size() >= static_cast<size_t>(INT_MAX)) return nullptr;
    std::unique_ptr<PdfiumDocument> d;
    {
      std::lock_guard<std::mutex> g(lock());
      FPDF_DOCUMENT doc = load(plain, {});
      if (!doc) return nullptr;
      needs_password_ = false;
      d = std::make_unique<PdfiumDocument>(std::move(plain), doc, std::string());
    }
    // Its copies must not come out unprotected: without the model it is not opened at all.
    if (!d->keep_protection(bytes, pw)) return nullptr;
    return d;
  }

  bool needs_password_ = false;
};

}  // namespace
}  // namespace quorvel::pdfium

namespace quorvel {

std::unique_ptr<IPdfEngine> make_engine(EngineKind kind) {
  if (kind != EngineKind::Pdfium) return nullptr;
  return std::make_unique<pdfium::PdfiumEngine>();
}

std::string engine_version_line() { return "Quorvel 0.1.0 (PDFium engine)"; }

}  // namespace quorvel
