// Rewriting a saved copy so that objects no longer reachable from its trailer are gone. PDFium's
// full save writes every object it ever loaded, so text removed from a page would otherwise
// survive in an orphaned content stream.
#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFLogger.hh>
#include <qpdf/QPDFWriter.hh>

#include <string>

#include "core/qpdf_bridge.h"

namespace quorvel::qpdf_bridge {

bool rewrite_reachable(const Bytes& in, std::string_view password, Bytes& out) {
  if (in.empty()) return false;
  try {
    QPDF q;
    auto log = QPDFLogger::create();
    log->setInfo(log->discard());
    log->setWarn(log->discard());
    log->setError(log->discard());
    q.setLogger(log);
    q.setSuppressWarnings(true);
    const std::string pw(password);
    q.processMemoryFile("document", reinterpret_cast<const char*>(in.data()), in.size(),
                        pw.empty() ? nullptr : pw.c_str());
    QPDFWriter w(q);
    w.setOutputMemory();
    // Encryption is kept as it is (the writer's default); unreferenced objects are never
    // written, which is the point of this pass.
    w.write();
    const std::shared_ptr<Buffer> buf = w.getBufferSharedPointer();
    if (!buf || buf->getSize() == 0) return false;
    Bytes result(buf->getBuffer(), buf->getBuffer() + buf->getSize());
    out.swap(result);
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace quorvel::qpdf_bridge
