#include "script.h"

#include <charconv>
#include <sstream>

namespace durovaderiz {

namespace {

bool parse_number(const std::string& s, size_t& out, size_t max) {
  const auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc{} && p == s.data() + s.size() && !s.empty() && out <= max;
}

}  // namespace

bool Script::parse(const std::string& text, std::string& error) {
  std::istringstream in(text);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line.front() == '#') continue;
    Entry e;
    if (line.front() == '*') {
      e.repeat = true;
      line.erase(0, 1);
    }
    std::istringstream fields(line);
    std::string status;
    fields >> e.method >> e.path >> status;
    std::string body;
    std::getline(fields >> std::ws, body);
    size_t code = 0;
    const bool ok_status = status == "hang" || (parse_number(status, code, 599) && code >= 100);
    if (e.method.empty() || e.path.empty() || e.path.front() != '/' || !ok_status) {
      error = "script line " + std::to_string(number) + ": expected METHOD PATH STATUS [BODY]";
      return false;
    }
    e.hang = status == "hang";
    e.reply.status = static_cast<int>(code);
    if (body.rfind("fill:", 0) == 0) {
      size_t n = 0;
      if (!parse_number(body.substr(5), n, kMaxBody)) {
        error = "script line " + std::to_string(number) + ": bad fill size";
        return false;
      }
      e.reply.content_type = "application/pdf";
      e.reply.body = std::string("%PDF-1.7\n").substr(0, n);
      e.reply.body.resize(n, 'x');
    } else if (body.rfind("text:", 0) == 0) {
      e.reply.body = body.substr(5);
    } else if (!body.empty() && body != "-") {
      error = "script line " + std::to_string(number) + ": bad body";
      return false;
    }
    entries_.push_back(std::move(e));
  }
  return true;
}

bool Script::covers(const std::string& method, const std::string& path) const {
  for (const Entry& e : entries_)
    if (!e.used && e.method == method && e.path == path) return true;
  return false;
}

Script::Action Script::match(const Request& req, Response& reply) {
  for (Entry& e : entries_) {
    if (e.used || e.method != req.method || e.path != req.path) continue;
    if (!e.repeat) e.used = true;
    if (e.hang) return Action::Hang;
    reply = e.reply;
    return Action::Reply;
  }
  return Action::Route;
}

}  // namespace durovaderiz
