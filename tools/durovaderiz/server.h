// The server: 127.0.0.1 only, on libmicrohttpd. Its own threads read and write every connection
// and answer the health check themselves; a small pool of workers runs the routes, so a long
// request never keeps the others, or the health check, waiting.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>

#include "http.h"
#include "script.h"
#include "work.h"

namespace durovaderiz {

struct ServerLimits {
  // Deadlines for the whole of each part, not for a pause between bytes: a client that sends a
  // byte now and then is still dropped in time. Body and answer get a second more for every
  // `rate` bytes.
  std::chrono::milliseconds head{10'000};
  std::chrono::milliseconds body{15'000};
  std::chrono::milliseconds send{10'000};
  size_t rate = 8u * 1024 * 1024;
  size_t max_held = 320u * 1024 * 1024;  // bodies and answers of all connections together
  // Open connections; past it the oldest still sending its head makes room, so clients that
  // hold heads open cannot keep a quick request out. Each takes up to kMaxHead for its head.
  size_t max_connections = 1536;
  int workers = 4;
  int io_threads = 4;
  WorkLimits work;
};

struct ServerOptions {
  int port = 0;                // 0: one the system picks
  bool parent_watch = false;   // exit once the process that started us is gone
  Script* script = nullptr;    // canned replies, or null
  std::string record_file;     // tests: one line "PORT METHOD PATH" per request, or empty
  std::string token;           // the secret every route but the health check asks for, or empty
  ServerLimits limits;
  // Tests: a handler in place of the routes, and a flag that ends the loop.
  std::function<Response(const Request&)> handler;
  const std::atomic<bool>* stop = nullptr;
};

// Listens, tells `on_listening` the port, and serves until the parent goes (with parent_watch),
// `stop` is set, or a signal ends the process. Gives the exit status: 1 when the port cannot be
// listened on.
int serve(const ServerOptions& opts, const std::function<void(int port)>& on_listening = {});

}  // namespace durovaderiz
