// POST /ocr: the body is a page image; the answer is its text, line count and engine.
#include <algorithm>

#include "ocr_engine.h"
#include "routes.h"

namespace durovaderiz {

Response handle_ocr(const Request& req) {
  if (req.body.empty()) return text_reply(400, "no image");
  const taviocr::Result r = taviocr::recognize(req.body, false);
  if (!r.ok) return text_reply(400, r.error);
  const long lines = r.text.empty() ? 0 : std::count(r.text.begin(), r.text.end(), '\n') + 1;
  Response resp;
  resp.content_type = "application/json";
  resp.body = "{\"text\":" + taviocr::json_string(r.text) + ",\"lines\":" + std::to_string(lines) +
              ",\"engine\":" + taviocr::json_string(taviocr::engine_name()) + "}";
  return resp;
}

}  // namespace durovaderiz
