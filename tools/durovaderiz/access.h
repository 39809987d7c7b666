// Who may ask the stand-in what: the checks a request head passes before its body is read. A
// web page can reach a loopback port too, so a request from a browser (an Origin, or a Host
// that is not this address) is refused, and a started backend asks for its starter's secret.
#pragma once

#include <optional>
#include <string>

#include "http.h"

namespace durovaderiz {

struct Access {
  int port = 0;       // the port listened on, the one a Host may name
  std::string token;  // the secret every route but the health check asks for; empty: none
};

// The refusal of a head with its declared body length (nullopt: a chunked body of a length not
// yet known), or nothing when it may go on. `scripted` heads are answered by the script, so any
// path and body goes for them.
std::optional<Response> refusal(const Request& head, std::optional<size_t> content_length, const Access& access,
                                bool scripted);

// Constant-time comparison of a secret with what a client sent.
bool same_secret(std::string_view expected, std::string_view given);

}  // namespace durovaderiz
