#include "access.h"

#include <openssl/crypto.h>
#include <openssl/sha.h>

#include <strings.h>

#include "routes.h"

namespace durovaderiz {

namespace {

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

bool names_us(const std::string& host, int port) {
  const std::string h = lower(host), p = ":" + std::to_string(port);
  return h == "127.0.0.1" + p || h == "localhost" + p;
}

// The credentials of "Bearer <token>", or nothing for another scheme.
std::optional<std::string_view> bearer(std::string_view value) {
  constexpr std::string_view scheme = "bearer ";
  if (value.size() < scheme.size() || strncasecmp(value.data(), scheme.data(), scheme.size()) != 0)
    return std::nullopt;
  value.remove_prefix(scheme.size());
  while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
  return value;
}

// The offers page of one request, which the user's browser opens from the journal: a browser
// cannot send the token, and the request's id (128 random bits) is what grants this one page.
bool offers_page(const Request& head) {
  constexpr std::string_view prefix = "/requests/", suffix = "/compare";
  const std::string_view path = head.path;
  if (head.method != "GET" || path.size() <= prefix.size() + suffix.size()) return false;
  if (!path.starts_with(prefix) || !path.ends_with(suffix)) return false;
  const std::string_view id = path.substr(prefix.size(), path.size() - prefix.size() - suffix.size());
  return id.find('/') == std::string_view::npos;
}

// Headers that say one thing once: a second one, right or not, is where two readers of the
// same head could disagree (a proxy checks the first Host, a route reads the last type).
bool repeats_a_single_header(const Request& head) {
  static constexpr std::string_view kSingle[] = {"host", "content-type", "content-length", "authorization",
                                                  "origin", "transfer-encoding", "expect", "x-signer-pfx"};
  for (std::string_view name : kSingle) {
    int seen = 0;
    for (const auto& [k, v] : head.headers) seen += k == name;
    if (seen > 1) return true;
  }
  return false;
}

}  // namespace

bool same_secret(std::string_view expected, std::string_view given) {
  // Digests of equal length, so neither the length nor a prefix of the secret shows in the time.
  unsigned char a[SHA256_DIGEST_LENGTH], b[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(expected.data()), expected.size(), a);
  SHA256(reinterpret_cast<const unsigned char*>(given.data()), given.size(), b);
  return CRYPTO_memcmp(a, b, sizeof a) == 0;
}

std::optional<Response> refusal(const Request& head, std::optional<size_t> content_length, const Access& access,
                                bool scripted) {
  if (repeats_a_single_header(head)) return json_error(400, "a header that is given once came more than once");
  const std::string* host = head.header("host");
  if (!host) return json_error(400, "the Host header is missing");
  if (!names_us(*host, access.port)) return json_error(421, "the Host header does not name this backend");
  if (head.header("origin")) return json_error(403, "requests from web pages are not served");

  const bool health = head.method == "GET" && head.path == "/health";
  if (!access.token.empty() && !health && !offers_page(head)) {
    const std::string* auth = head.header("authorization");
    const auto given = auth ? bearer(*auth) : std::nullopt;
    if (!given || !same_secret(access.token, *given)) {
      Response r = json_error(401, "the backend's token is missing or wrong");
      r.headers.emplace_back("WWW-Authenticate", "Bearer");
      return r;
    }
  }
  if (scripted) return std::nullopt;

  bool path_known = false;
  const Route* route = find_route(head.method, head.path, path_known);
  if (!route) return path_known ? json_error(405, "method not allowed") : json_error(404, "no such route");
  if (content_length == 0) return std::nullopt;
  const std::string* type = head.header("content-type");
  if (route->body == Body::None) return json_error(415, "this route takes no body");
  if (!type || !takes_type(route->body, *type)) {
    static constexpr const char* kWanted[] = {"", "application/pdf", "application/json", "multipart/form-data",
                                              "an image or application/octet-stream"};
    return json_error(415, std::string("the body must be ") + kWanted[static_cast<int>(route->body)]);
  }
  if (content_length && *content_length > route->max_body)
    return json_error(413, "the body is larger than " + size_text(route->max_body) + ", the most this route takes");
  return std::nullopt;
}

}  // namespace durovaderiz
