#include "http.h"

#include <algorithm>

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

bool parse_target(std::string_view target, Request& req) {
  if (target.empty() || target.front() != '/') return false;
  const size_t qm = target.find('?');
  req.path = url_decode(target.substr(0, qm), false);
  req.query = qm == std::string_view::npos ? Fields{} : parse_query(target.substr(qm + 1));
  return true;
}

std::string header_value(std::string_view v) {
  std::string clean(v);
  std::replace_if(clean.begin(), clean.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
  return clean;
}

}  // namespace durovaderiz
