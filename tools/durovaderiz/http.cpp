#include "http.h"

#include <algorithm>
#include <charconv>

namespace durovaderiz {

namespace {

const std::string* find_field(const Fields& fields, std::string_view name) {
  for (const auto& [k, v] : fields) {
    if (k == name) return &v;
  }
  return nullptr;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool is_token(std::string_view s) {
  if (s.empty()) return false;
  return std::all_of(s.begin(), s.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u > 32 && u < 127 && c != ':' && c != '(' && c != ')' && c != ',' && c != '/' &&
           c != ';' && c != '<' && c != '>' && c != '=' && c != '?' && c != '@' && c != '[' &&
           c != ']' && c != '\\' && c != '{' && c != '}' && c != '"';
  });
}

Fields parse_query(std::string_view q) {
  Fields out;
  while (!q.empty()) {
    const size_t amp = q.find('&');
    const std::string_view item = q.substr(0, amp);
    q = amp == std::string_view::npos ? std::string_view{} : q.substr(amp + 1);
    if (item.empty()) continue;
    const size_t eq = item.find('=');
    out.emplace_back(url_decode(item.substr(0, eq), true),
                     eq == std::string_view::npos ? std::string{} : url_decode(item.substr(eq + 1), true));
  }
  return out;
}

const char* reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 411: return "Length Required";
    case 413: return "Content Too Large";
    case 415: return "Unsupported Media Type";
    case 417: return "Expectation Failed";
    case 421: return "Misdirected Request";
    case 422: return "Unprocessable Content";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 503: return "Service Unavailable";
    case 505: return "HTTP Version Not Supported";
    case 507: return "Insufficient Storage";
    default: return status < 400 ? "OK" : "Error";
  }
}

}  // namespace

const std::string* Request::query_value(std::string_view name) const { return find_field(query, name); }
const std::string* Request::header(std::string_view name) const { return find_field(headers, name); }

Response text_reply(int status, std::string text) {
  Response r;
  r.status = status;
  r.body = std::move(text);
  if (r.body.empty() || r.body.back() != '\n') r.body.push_back('\n');
  return r;
}

std::string url_decode(std::string_view s, bool plus_is_space) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '+' && plus_is_space) {
      out.push_back(' ');
    } else if (c == '%' && i + 2 < s.size() && hex_value(s[i + 1]) >= 0 && hex_value(s[i + 2]) >= 0) {
      out.push_back(static_cast<char>(hex_value(s[i + 1]) * 16 + hex_value(s[i + 2])));
      i += 2;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::optional<size_t> head_end(std::string_view buf) {
  const size_t p = buf.find("\r\n\r\n");
  if (p == std::string_view::npos) return std::nullopt;
  return p + 4;
}

int parse_head(std::string_view head, Request& req, size_t& content_length) {
  content_length = 0;
  if (head.size() > kMaxHead) return 431;
  size_t eol = head.find("\r\n");
  std::string_view line = head.substr(0, eol);
  std::string_view rest = eol == std::string_view::npos ? std::string_view{} : head.substr(eol + 2);

  const size_t sp1 = line.find(' ');
  const size_t sp2 = sp1 == std::string_view::npos ? sp1 : line.find(' ', sp1 + 1);
  if (sp2 == std::string_view::npos || line.find(' ', sp2 + 1) != std::string_view::npos) return 400;
  const std::string_view method = line.substr(0, sp1);
  const std::string_view target = line.substr(sp1 + 1, sp2 - sp1 - 1);
  const std::string_view version = line.substr(sp2 + 1);
  if (!is_token(method) || target.empty() || target.front() != '/') return 400;
  if (version != "HTTP/1.1" && version != "HTTP/1.0") return version.starts_with("HTTP/") ? 505 : 400;
  req.method = std::string(method);
  const size_t qm = target.find('?');
  req.path = url_decode(target.substr(0, qm), false);
  req.query = qm == std::string_view::npos ? Fields{} : parse_query(target.substr(qm + 1));

  bool have_length = false;
  while (!rest.empty()) {
    eol = rest.find("\r\n");
    line = rest.substr(0, eol);
    rest = eol == std::string_view::npos ? std::string_view{} : rest.substr(eol + 2);
    const size_t colon = line.find(':');
    // A folded line (leading white space) or a nameless one is not accepted.
    if (colon == std::string_view::npos || !is_token(line.substr(0, colon))) return 400;
    std::string name = lower(line.substr(0, colon));
    const std::string_view value = trim(line.substr(colon + 1));
    if (name == "transfer-encoding") return 501;
    if (name == "content-length") {
      size_t n = 0;
      const auto [p, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
      if (ec != std::errc{} || p != value.data() + value.size() || value.empty()) return 400;
      if (have_length && n != content_length) return 400;
      have_length = true;
      content_length = n;
      if (n > kMaxBody) return 413;
    }
    req.headers.emplace_back(std::move(name), std::string(value));
  }
  return 0;
}

std::string serialize_head(const Response& resp) {
  std::string out = "HTTP/1.1 " + std::to_string(resp.status) + " " + reason(resp.status) + "\r\n";
  out += "Content-Type: " + resp.content_type + "\r\n";
  out += "Content-Length: " + std::to_string(resp.body.size()) + "\r\n";
  for (const auto& [k, v] : resp.headers) {
    // A value never ends the header block early, whatever a handler puts in it.
    std::string clean = v;
    std::replace_if(clean.begin(), clean.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    out += k + ": " + clean + "\r\n";
  }
  out += "Connection: close\r\n\r\n";
  return out;
}

std::string serialize(const Response& resp) { return serialize_head(resp) + resp.body; }

}  // namespace durovaderiz
