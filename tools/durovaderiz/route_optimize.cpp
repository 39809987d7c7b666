// POST /pdf/optimize: a rewrite with object streams, streams compressed that were not, and only
// the objects the document still reaches; the sizes before and after go in the reply headers.
// Streams already compressed with Flate are copied as they are: compressing them again costs
// several times the time for a fraction of a percent.
#include "pdf_io.h"
#include "routes.h"

namespace durovaderiz {

Response handle_pdf_optimize(const Request& req) {
  return with_pdf(req, [&req](QPDF& pdf) {
    QPDFWriter writer(pdf);
    writer.setObjectStreamMode(qpdf_o_generate);
    writer.setCompressStreams(true);
    writer.setDecodeLevel(qpdf_dl_generalized);
    std::string out = written(writer);
    Fields headers{{"X-Original-Size", std::to_string(req.body.size())},
                   {"X-Optimized-Size", std::to_string(out.size())}};
    return pdf_reply(std::move(out), std::move(headers));
  });
}

}  // namespace durovaderiz
