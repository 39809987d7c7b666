// Page import, page moves, page ranges and N-up sheets, done with qpdf on in-memory PDFs.
#include "core/pdfium/qpdf_bridge.h"
#include "core/pdfium/qpdf_internal.h"

#include <qpdf/Buffer.hh>
#include <qpdf/QPDFAcroFormDocumentHelper.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFLogger.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <atomic>
#include <cmath>
#include <string>

namespace quorvel::qpdf_bridge {

namespace {

// qpdf reports damage it repairs through its logger; the library must stay silent.
void silence(QPDF& q) {
  auto log = QPDFLogger::create();
  log->setInfo(log->discard());
  log->setWarn(log->discard());
  log->setError(log->discard());
  q.setLogger(log);
  q.setSuppressWarnings(true);
}

void start_empty(QPDF& q) {
  silence(q);
  q.emptyPDF();
}

std::atomic<size_t> g_documents_read{0};

}  // namespace

size_t documents_read() { return g_documents_read.load(); }

void open(QPDF& q, const char* data, size_t size, std::string_view password) {
  silence(q);
  const std::string pw(password);
  q.processMemoryFile("document", data, size, pw.empty() ? nullptr : pw.c_str());
}

void open(QPDF& q, const Bytes& in, std::string_view password) {
  open(q, reinterpret_cast<const char*>(in.data()), in.size(), password);
}

namespace {

// The document a page tool works from.
void read_source(QPDF& q, const Bytes& in, std::string_view password) {
  ++g_documents_read;
  open(q, in, password);
}

}  // namespace

bool write(QPDF& q, QPDF* take_encryption_from, Bytes& out, qpdf_object_stream_e streams) {
  // qpdf reads an object it cannot parse as null and goes on. A page that became null would be
  // written as a hole in the page tree, which loses the page and crashes PDFium's page edits.
  for (QPDFObjectHandle page : q.getAllPages()) {
    if (!page.isDictionary()) return false;
  }
  QPDFWriter w(q);
  w.setOutputMemory();
  w.setObjectStreamMode(streams);
  if (take_encryption_from) {
    w.setMinimumPDFVersion(take_encryption_from->getPDFVersion(),
                           take_encryption_from->getExtensionLevel());
    w.copyEncryptionParameters(*take_encryption_from);
  }
  w.write();
  const std::shared_ptr<Buffer> buf = w.getBufferSharedPointer();
  if (!buf || buf->getSize() == 0) return false;
  out.assign(buf->getBuffer(), buf->getBuffer() + buf->getSize());
  return true;
}

bool move_page(const Bytes& in, std::string_view password, int from, int to, Bytes& out, bool object_streams) {
  return guarded(out, [&](Bytes& result) {
    QPDF q;
    read_source(q, in, password);
    QPDFPageDocumentHelper helper(q);
    const std::vector<QPDFPageObjectHelper> pages = helper.getAllPages();
    const int n = static_cast<int>(pages.size());
    if (from < 0 || to < 0 || from >= n || to >= n || from == to) return false;
    const QPDFPageObjectHelper page = pages[from];
    helper.removePage(page);
    if (to == n - 1) {
      helper.addPage(page, false);
    } else {
      // Among the pages left after the removal, the one now at `to` is the one to precede.
      const int ref = to < from ? to : to + 1;
      helper.addPageAt(page, true, pages[ref]);
    }
    return write(q, nullptr, result, streams_for(object_streams));
  });
}

bool delete_page(const Bytes& in, std::string_view password, int index, Bytes& out, bool object_streams) {
  return guarded(out, [&](Bytes& result) {
    QPDF q;
    read_source(q, in, password);
    QPDFPageDocumentHelper helper(q);
    const std::vector<QPDFPageObjectHelper> pages = helper.getAllPages();
    if (index < 0 || index >= static_cast<int>(pages.size())) return false;
    helper.removePage(pages[static_cast<size_t>(index)]);
    return write(q, nullptr, result, streams_for(object_streams));
  });
}

bool merge(const Bytes& in, std::string_view password, std::span<const std::byte> other, int index,
           Bytes& out) {
  if (other.empty()) return false;
  return guarded(out, [&](Bytes& result) {
    QPDF q;
    read_source(q, in, password);
    QPDF src;
    open(src, reinterpret_cast<const char*>(other.data()), other.size(), "");
    QPDFPageDocumentHelper helper(q);
    const std::vector<QPDFPageObjectHelper> pages = helper.getAllPages();
    const int n = static_cast<int>(pages.size());
    if (index > n) return false;
    if (index < 0) index = n;
    for (const QPDFPageObjectHelper& p : QPDFPageDocumentHelper(src).getAllPages()) {
      // qpdf copies a foreign page with everything it references.
      if (index == n) {
        helper.addPage(p, false);
      } else {
        helper.addPageAt(p, true, pages[index]);
      }
    }
    // The other file's objects come in plain. Putting all objects into object streams costs
    // more than the merge itself, and a file half in streams is slow to read page by page.
    return write(q, nullptr, result, qpdf_o_disable);
  });
}

std::vector<bool> extract_ranges(const Bytes& in, std::string_view password, const std::vector<PageRange>& ranges,
                                 bool object_streams, const std::function<bool(size_t part, const Bytes&)>& done) {
  std::vector<bool> made(ranges.size(), false);
  try {
    QPDF src;
    read_source(src, in, password);
    const std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(src).getAllPages();
    const int n = static_cast<int>(pages.size());
    for (size_t k = 0; k < ranges.size(); ++k) {
      const auto [first, last] = ranges[k];
      if (first < 0 || first > last || last >= n) continue;
      // A part that qpdf cannot write leaves the others to be tried.
      Bytes part;
      const bool ok = guarded(part, [&](Bytes& result) {
        QPDF fresh;
        start_empty(fresh);
        QPDFPageDocumentHelper added(fresh);
        for (int i = first; i <= last; ++i) added.addPage(pages[static_cast<size_t>(i)], false);
        return write(fresh, &src, result, streams_for(object_streams));
      });
      made[k] = ok && done(k, part);
    }
  } catch (...) {
  }
  return made;
}

bool nup(const Bytes& in, std::string_view password, int cols, int rows, double sheet_width,
         double sheet_height, Bytes& out, bool object_streams) {
  if (cols <= 0 || rows <= 0) return false;
  if (!(std::isfinite(sheet_width) && std::isfinite(sheet_height)) || sheet_width <= 0 ||
      sheet_height <= 0) {
    return false;
  }
  return guarded(out, [&](Bytes& result) {
    QPDF src;
    read_source(src, in, password);
    // A page's form XObject holds its content only; what its widgets and annotations show is
    // drawn into this parse's pages first (the document itself is not touched). Fields that ask
    // the reader to make their appearances get them made.
    QPDFAcroFormDocumentHelper(src).generateAppearancesIfNeeded();
    QPDFPageDocumentHelper(src).flattenAnnotations();
    const std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(src).getAllPages();
    QPDF fresh;
    start_empty(fresh);
    QPDFPageDocumentHelper sheets(fresh);

    // cols x rows overflows an int long before it stops being a valid request.
    const int64_t per_sheet = static_cast<int64_t>(cols) * rows;
    const double cell_w = sheet_width / cols;
    const double cell_h = sheet_height / rows;
    size_t next = 0;
    do {
      QPDFObjectHandle sheet = fresh.makeIndirectObject(QPDFObjectHandle::parse(
          "<< /Type /Page /Resources << /XObject << >> >> >>"));
      sheet.replaceKey("/MediaBox", QPDFObjectHandle::newArray(
                                        QPDFObjectHandle::Rectangle(0, 0, sheet_width, sheet_height)));
      QPDFObjectHandle xobjects = sheet.getKey("/Resources").getKey("/XObject");
      QPDFPageObjectHelper placer(sheet);
      std::string content;
      for (int64_t k = 0; k < per_sheet && next < pages.size(); ++k, ++next) {
        const double col = static_cast<double>(k % cols);
        const double row = static_cast<double>(k / cols);
        QPDFPageObjectHelper page = pages[next];
        QPDFObjectHandle form = fresh.copyForeignObject(page.getFormXObjectForPage());
        const std::string name = "/Fx" + std::to_string(k);
        xobjects.replaceKey(name, form);
        const QPDFObjectHandle::Rectangle cell(col * cell_w, sheet_height - (row + 1) * cell_h,
                                               (col + 1) * cell_w, sheet_height - row * cell_h);
        content += placer.placeFormXObject(form, name, cell, true, true, true);
      }
      sheet.replaceKey("/Contents", fresh.newStream(content));
      sheets.addPage(QPDFPageObjectHelper(sheet), false);
    } while (next < pages.size());
    return write(fresh, &src, result, streams_for(object_streams));
  });
}

}  // namespace quorvel::qpdf_bridge
