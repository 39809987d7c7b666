// POST /pdf/optimize: a qpdf rewrite with object streams, compressed streams and only the
// objects the document still reaches; the sizes before and after go in the reply headers.
#include <qpdf/QPDFPageDocumentHelper.hh>

#include "pdf_io.h"
#include "routes.h"

namespace durovaderiz {

Response handle_pdf_optimize(const Request& req) {
  return with_pdf(req, [&req](QPDF& pdf) {
    // Resources that no page content names would otherwise travel along.
    QPDFPageDocumentHelper(pdf).removeUnreferencedResources();
    QPDFWriter writer(pdf);
    writer.setObjectStreamMode(qpdf_o_generate);
    writer.setCompressStreams(true);
    writer.setDecodeLevel(qpdf_dl_generalized);
    writer.setRecompressFlate(true);
    std::string out = written(writer);
    Fields headers{{"X-Original-Size", std::to_string(req.body.size())},
                   {"X-Optimized-Size", std::to_string(out.size())}};
    return pdf_reply(std::move(out), std::move(headers));
  });
}

}  // namespace durovaderiz
