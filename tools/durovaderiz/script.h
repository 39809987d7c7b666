// Scripted mode for tests: canned replies read from the file that DUROVADERIZ_SCRIPT names.
//
// One reply per line; blank lines and lines starting with '#' are skipped:
//   [*]METHOD PATH STATUS|hang [BODY]
// A request takes the first unused line with its method and path; a line starting with '*' is
// never used up. "hang" never answers. BODY is "-" or absent (empty), "fill:N" (N bytes that
// begin like a PDF) or "text:" followed by the rest of the line. A request no line matches goes
// to the real route. DUROVADERIZ_RECORD, when set, names a file that gets one line
// "PORT METHOD PATH" per request (never a query, header or body).
#pragma once

#include <string>
#include <vector>

#include "http.h"

namespace durovaderiz {

class Script {
 public:
  enum class Action { Route, Reply, Hang };

  // False with `error` set when the text has a line that does not parse.
  bool parse(const std::string& text, std::string& error);
  bool empty() const { return entries_.empty(); }

  Action match(const Request& req, Response& reply);
  // Whether an unused line is there for this method and path.
  bool covers(const std::string& method, const std::string& path) const;

 private:
  struct Entry {
    std::string method;
    std::string path;
    bool repeat = false;
    bool hang = false;
    bool used = false;
    Response reply;
  };
  std::vector<Entry> entries_;
};

}  // namespace durovaderiz
