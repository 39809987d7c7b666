#include "routes.h"

namespace durovaderiz {

Response handle_health(const Request&) { return text_reply(200, "ok"); }

}  // namespace durovaderiz
