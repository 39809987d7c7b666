// What the routes see of HTTP: a request with its decoded target, headers and body, and the
// answer they give. The server (libmicrohttpd underneath) closes every connection after its
// answer.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "work.h"

namespace durovaderiz {

using Fields = std::vector<std::pair<std::string, std::string>>;

struct Request {
  std::string method;
  std::string path;    // percent-decoded
  Fields query;        // form-decoded ('+' is a space), in the order given
  Fields headers;      // names lower-cased
  std::string body;
  int local_port = 0;  // the port it arrived on, for addresses that point back at us
  std::shared_ptr<Work> work;  // its limits; routes called without one use the defaults

  const std::string* query_value(std::string_view name) const;
  const std::string* header(std::string_view name) const;
};

struct Response {
  int status = 200;
  std::string content_type = "text/plain; charset=utf-8";
  Fields headers;
  std::string body;
};

Response text_reply(int status, std::string text);

// The signer's PKCS#12 container travels base64-encoded in a header: a head may take this much
// (a container with its chain is a few KB), held for every open connection.
inline constexpr size_t kMaxHead = 64 * 1024;
inline constexpr size_t kMaxBody = 256u * 1024 * 1024;

// Percent-decoding; with `plus_is_space` a '+' becomes a space, as in form data. A '%' not
// followed by two hex digits stays as it is.
std::string url_decode(std::string_view s, bool plus_is_space);

// Fills the path and query of `req` from a request target as it came; false when the target is
// not a path (an absolute URL, '*').
bool parse_target(std::string_view target, Request& req);

// A header value of an answer as it may go out: a line break would end the head early, so each
// becomes a space, whatever a handler put in it.
std::string header_value(std::string_view v);

}  // namespace durovaderiz
