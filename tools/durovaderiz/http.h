// The small part of HTTP/1.1 the stand-in speaks: one request per connection, bodies only with
// Content-Length, answers always closed after sending.
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

// The signer's PKCS#12 container travels base64-encoded in a header, so heads may be large.
inline constexpr size_t kMaxHead = 1024 * 1024;
inline constexpr size_t kMaxBody = 256u * 1024 * 1024;

// Percent-decoding; with `plus_is_space` a '+' becomes a space, as in form data. A '%' not
// followed by two hex digits stays as it is.
std::string url_decode(std::string_view s, bool plus_is_space);

// Reads the request line and headers (everything before the blank line, without it). Gives 0
// and fills `req` (except the body) and `content_length`, or the status to refuse it with.
int parse_head(std::string_view head, Request& req, size_t& content_length);

// Where the head ends in `buf` (the index just past "\r\n\r\n"), if it does.
std::optional<size_t> head_end(std::string_view buf);

// The status line and headers, ending with the blank line; the body goes after it as it is.
std::string serialize_head(const Response& resp);
std::string serialize(const Response& resp);

}  // namespace durovaderiz
