// Rewriting saved copies through qpdf. PDFium's full save writes every object it ever loaded,
// so text removed from a page would otherwise survive in an orphaned content stream; qpdf
// writes only what the trailer reaches.
#include "core/pdfium/qpdf_rewrite.h"
#include "core/pdfium/qpdf_internal.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include <string>

namespace quorvel::qpdf_bridge {

namespace {

void retag_free_text(QPDF& q) {
  const std::string mark = std::string("/") + kFreeTextMark;
  for (QPDFPageObjectHelper& page : QPDFPageDocumentHelper(q).getAllPages()) {
    QPDFObjectHandle annots = page.getObjectHandle().getKey("/Annots");
    if (!annots.isArray()) continue;
    for (QPDFObjectHandle a : annots.aitems()) {
      if (!a.isDictionary() || !a.hasKey(mark)) continue;
      a.replaceKey("/Subtype", QPDFObjectHandle::newName("/FreeText"));
      a.removeKey(mark);
    }
  }
}

bool rewrite(const Bytes& in, std::string_view password, const Finish& finish, Bytes& out) {
  if (in.empty()) return false;
  return guarded(out, [&](Bytes& result) {
    QPDF q;
    open(q, in, password);
    // qpdf copies shared resource dictionaries before it prunes them, and leaves a page alone
    // when its content cannot be read.
    if (finish.content_removed) QPDFPageDocumentHelper(q).removeUnreferencedResources();
    if (finish.free_text) retag_free_text(q);
    if (finish.field_fonts && !embed_fallback_fonts(q)) return false;
    // The writer keeps the input's encryption by default.
    return write(q, nullptr, result, streams_for(finish.object_streams));
  });
}

}  // namespace

bool rewrite_reachable(const Bytes& in, std::string_view password, Bytes& out) {
  Finish prune;
  prune.content_removed = true;
  return rewrite(in, password, prune, out);
}

bool finish_copy(const Bytes& in, std::string_view password, const Finish& finish, Bytes& out) {
  return rewrite(in, password, finish, out);
}

}  // namespace quorvel::qpdf_bridge
