// The listening loop: 127.0.0.1 only, one thread, many connections.
#pragma once

#include <string>

#include "script.h"

namespace durovaderiz {

struct ServerOptions {
  int port = 0;
  bool parent_watch = false;   // exit once the process that started us is gone
  Script* script = nullptr;    // canned replies, or null
  std::string record_file;     // tests: one line "PORT METHOD PATH" per request, or empty
};

// Runs until the parent goes (with parent_watch) or a signal ends the process. Gives the exit
// status: 1 when the port cannot be listened on.
int serve(const ServerOptions& opts);

}  // namespace durovaderiz
